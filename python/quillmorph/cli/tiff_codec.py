"""TIFF files through tifffile: every page, 8- and 16-bit (and fewer bits
unpacked to 16), gray, gray+alpha, RGB and RGBA, with the resolution,
colour profile, orientation and MaxSampleValue.  Strip-wise pages are
decoded a strip at a time, and uncompressed output is written as its rows
come, so neither needs the whole page in memory; tiled or planar pages are
decoded whole, and compressed output is encoded a page at a time."""

from typing import Any, BinaryIO, Iterator, List, Optional

import numpy

from .dependencies import require
from .picture import Page, Picture, Resolution, byte_chunks

# TIFF tags.
ORIENTATION, MAX_SAMPLE_VALUE, X_RESOLUTION, Y_RESOLUTION, RESOLUTION_UNIT = 274, 281, 282, 283, 296
ICC_PROFILE = 34675
UNDEFINED = 7  # the TIFF type of the ICC profile's bytes
RESOLUTION_UNITS = {2: "inch", 3: "cm"}
PHOTOMETRIC_MIN_IS_WHITE, PHOTOMETRIC_PALETTE, PLANAR_CONTIG, UNCOMPRESSED = 0, 3, 1, 1
# Strip-wise pages are read from the file this many bytes at a time.
READ_BYTES = 1 << 22
# Written for compressed input: lossless, and encoded by tifffile without
# further packages, whatever compressed the input.
OUTPUT_COMPRESSION = "zlib"


def read(path: str) -> Picture:
    tifffile = require("tifffile")
    with tifffile.TiffFile(path) as tiff:
        first = tiff.pages[0]
        notes: List[str] = []
        pages = [_page(path, index, page, notes) for index, page in enumerate(tiff.pages)]
        tags = first.tags
        return Picture(
            pages, _maxval(first), _resolution(tags), _tag(tags, ICC_PROFILE),
            orientation=_tag(tags, ORIENTATION),
            compression=None if first.compression == UNCOMPRESSED else OUTPUT_COMPRESSION,
            white_is_zero=first.photometric == PHOTOMETRIC_MIN_IS_WHITE,
            notes=sorted(set(notes)),
        )


def _tag(tags: Any, code: int) -> Any:
    tag = tags.get(code)
    return None if tag is None else tag.value


def _maxval(page: Any) -> int:
    stored = _tag(page.tags, MAX_SAMPLE_VALUE)
    if stored is not None:
        return int(max(stored) if isinstance(stored, tuple) else stored)
    if page.photometric == PHOTOMETRIC_PALETTE:
        return 65535
    return (1 << page.bitspersample) - 1


def _resolution(tags: Any) -> Optional[Resolution]:
    x, y = _tag(tags, X_RESOLUTION), _tag(tags, Y_RESOLUTION)
    if not x or not y or not x[1] or not y[1]:
        return None
    unit = RESOLUTION_UNITS.get(int(_tag(tags, RESOLUTION_UNIT) or 2))
    return Resolution(x[0] / x[1], y[0] / y[1], unit)


def _page(path: str, index: int, page: Any, notes: List[str]) -> Page:
    """The page as the command takes it: palette pages become RGB."""
    if page.dtype not in (numpy.uint8, numpy.uint16):
        raise ValueError(f"page {index + 1} holds {page.dtype} samples, and the command takes "
                         "8- and 16-bit ones")
    if page.photometric == PHOTOMETRIC_PALETTE:
        notes.append("a palette image, written as 16-bit RGB")
        shape = (page.imagelength, page.imagewidth, 3)
        return Page(shape, numpy.dtype(numpy.uint16), lambda: iter([_palette_page(path, index)]))
    samples = page.samplesperpixel
    shape = (page.imagelength, page.imagewidth) + ((samples,) if samples > 1 else ())
    if samples > 4:
        raise ValueError(f"page {index + 1} has {samples} samples per pixel, and the command "
                         "takes 1 to 4 (gray, gray+alpha, RGB, RGBA)")
    if page.is_tiled or (samples > 1 and page.planarconfig != PLANAR_CONTIG) or page.imagedepth > 1:
        return Page(shape, page.dtype, lambda: iter([_whole_page(path, index, shape)]))
    return Page(shape, page.dtype, lambda: _strips(path, index, shape))


def _whole_page(path: str, index: int, shape: tuple) -> numpy.ndarray:
    tifffile = require("tifffile")
    with tifffile.TiffFile(path) as tiff:
        samples = tiff.pages[index].asarray()
    if samples.shape != shape:  # planar pages come as (samples, height, width)
        samples = numpy.moveaxis(samples, 0, -1)
    return samples


def _palette_page(path: str, index: int) -> numpy.ndarray:
    tifffile = require("tifffile")
    with tifffile.TiffFile(path) as tiff:
        page = tiff.pages[index]
        return numpy.ascontiguousarray(page.colormap[:, page.asarray()].transpose(1, 2, 0))


def _strips(path: str, index: int, shape: tuple) -> Iterator[numpy.ndarray]:
    """The page's strips in order, decoded one by one from reads of a few
    megabytes (TiffPage.segments would read 256 MB at a time)."""
    tifffile = require("tifffile")
    with tifffile.TiffFile(path) as tiff:
        page = tiff.pages[index]
        decode = page.decode
        tables = {"jpegtables": page.jpegtables} if page.jpegtables else {}
        for data, strip_index in tiff.filehandle.read_segments(
            page.dataoffsets, page.databytecounts, sort=False, buffersize=READ_BYTES
        ):
            strip, _, strip_shape = decode(data, strip_index, **tables)
            rows = strip_shape[1]
            if strip is None:  # a strip the file leaves out holds zeros
                strip = numpy.zeros((rows,) + shape[1:], page.dtype)
            yield strip.reshape((-1,) + shape[1:])[:rows]


def write(file: BinaryIO, picture: Picture) -> None:
    tifffile = require("tifffile")
    with tifffile.TiffWriter(file) as tiff:
        for page in picture.pages:
            tiff.write(_data(page, picture.compression), **_page_options(picture, page))


def _data(page: Page, compression: Optional[str]) -> Any:
    if compression:  # tifffile encodes compressed strips from whole pages only
        return page.whole()
    return (chunk for band in page.bands() for chunk in byte_chunks(band))


def _page_options(picture: Picture, page: Page) -> dict:
    extratags = []
    if picture.orientation:
        extratags.append((ORIENTATION, "H", 1, picture.orientation, True))
    if picture.maxval < numpy.iinfo(page.dtype).max:
        extratags.append((MAX_SAMPLE_VALUE, "H", 1, picture.maxval, True))
    if picture.icc_profile:  # as a tag: tifffile's iccprofile argument is younger than Debian's
        extratags.append((ICC_PROFILE, UNDEFINED, len(picture.icc_profile), picture.icc_profile,
                          True))
    options = {
        "shape": page.shape, "dtype": page.dtype, "compression": picture.compression,
        "photometric": "rgb" if page.channels >= 3 else (
            "miniswhite" if picture.white_is_zero else "minisblack"),
        "planarconfig": "contig" if page.channels > 1 else None,
        "extrasamples": ("unassalpha",) if page.channels in (2, 4) else None,
        "metadata": None, "extratags": extratags,
    }
    if picture.resolution:
        unit = {"inch": 2, "cm": 3}.get(picture.resolution.unit or "", 1)
        options.update(resolution=(picture.resolution.x, picture.resolution.y),
                       resolutionunit=unit)
    return options
