"""What the command carries from a file to its output: the pages of
samples, and what must survive the upscale (the maxval, the resolution,
the colour profile, the EXIF block)."""

from dataclasses import dataclass, field, replace
from typing import Callable, Iterator, List, Optional, Tuple

import numpy


@dataclass
class Page:
    """One image: (height, width) for gray, (height, width, channels) for
    gray+alpha (2), RGB (3) and RGBA (4).

    bands() yields the rows from the top in bands of any height: a reader
    that must decode the whole image yields it as one band, a streaming one
    (strip-wise TIFF, PNM) a band at a time.  It may be called once only.
    """

    shape: Tuple[int, ...]
    dtype: numpy.dtype
    bands: Callable[[], Iterator[numpy.ndarray]]

    @property
    def channels(self) -> int:
        return 1 if len(self.shape) == 2 else self.shape[2]

    def whole(self) -> numpy.ndarray:
        """The image as one array (in memory, whatever the reader)."""
        bands = list(self.bands())
        return bands[0] if len(bands) == 1 else numpy.concatenate(bands)


# Bands are turned into bytes this many at a time at most, so that a whole
# image in memory is not copied whole on its way into a file.
CHUNK_BYTES = 1 << 22


def byte_chunks(band: numpy.ndarray, byteorder: str = "=") -> Iterator[bytes]:
    """band's samples as bytes, in the given byte order, a few rows at a time."""
    row_bytes = max(1, band[:1].nbytes)
    rows = max(1, CHUNK_BYTES // row_bytes)
    ordered = band.dtype.newbyteorder(byteorder)
    for top in range(0, len(band), rows):
        yield numpy.ascontiguousarray(band[top : top + rows], ordered).tobytes()


@dataclass
class Resolution:
    """Pixels per unit along x and y; unit is "inch", "cm" or None (an
    aspect ratio only)."""

    x: float
    y: float
    unit: Optional[str]

    def scaled(self, factor: int) -> "Resolution":
        return Resolution(self.x * factor, self.y * factor, self.unit)


@dataclass
class Picture:
    """A file's pages and what its output must keep.

    maxval: the largest value a sample may take (the PNM maxval, the TIFF's
    BitsPerSample or MaxSampleValue, otherwise the dtype's largest).
    exif: the EXIF block as the file holds it (with the orientation);
    orientation: the TIFF Orientation tag.  notes: sentences about what was
    changed on reading, for the user (a palette image turned into RGB).
    """

    pages: List[Page]
    maxval: int
    resolution: Optional[Resolution] = None
    icc_profile: Optional[bytes] = None
    exif: Optional[bytes] = None
    orientation: Optional[int] = None
    compression: Optional[str] = None  # a TIFF's: None, or the one it is written with
    white_is_zero: bool = False  # a TIFF's gray: 0 is white (MinIsWhite)
    notes: List[str] = field(default_factory=list)

    def with_pages(self, pages: List[Page], factor: int) -> "Picture":
        """The upscaled picture: new pages, the resolution times factor, so
        that the printed size stays the same."""
        resolution = self.resolution.scaled(factor) if self.resolution else None
        return replace(self, pages=pages, resolution=resolution)
