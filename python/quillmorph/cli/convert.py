"""One file: read, upscale, write.  What every worker runs."""

from dataclasses import dataclass
from typing import Callable, List, Optional

import numpy

from . import codecs, outputs
from .picture import Picture
from .upscaling import upscale_page, work_rows


@dataclass(frozen=True)
class Settings:
    """What applies to every file of a run."""

    doublings: int
    threads: int
    maxval: Optional[int]
    overwrite: bool
    format_name: Optional[str]  # None: the output's extension decides


def planned_rows(source: str, doublings: int) -> int:
    """The rows of work the file costs, from its header alone; 0 where it
    cannot be read (its failure is reported when it is converted)."""
    try:
        picture = codecs.read(source)
    except Exception:  # noqa: BLE001 - any failure is the conversion's to report
        return 0
    return sum(work_rows(page.shape[0], doublings) for page in picture.pages)


def convert(source: str, target: str, settings: Settings,
            advance: Callable[[int], None]) -> List[str]:
    """Writes target, source upscaled; returns notes for the user.  Raises
    with a sentence about the file on any failure, leaving no output."""
    picture = codecs.read(source)
    format_name = settings.format_name or codecs.format_of(target)
    if format_name is None:
        raise ValueError(f"the extension of {target} names no format the command writes: "
                         "give --format")
    maxval = _maxval(picture, settings.maxval)
    pages = [upscale_page(page, settings.doublings, maxval, settings.threads, advance)
             for page in picture.pages]
    upscaled = picture.with_pages(pages, 1 << settings.doublings)
    upscaled.maxval = maxval
    outputs.write_file(target, settings.overwrite,
                       lambda file: codecs.write(file, upscaled, format_name))
    return picture.notes


def _maxval(picture: Picture, given: Optional[int]) -> int:
    largest = int(numpy.iinfo(picture.pages[0].dtype).max)
    if given is None:
        return min(picture.maxval, largest)
    if given > largest:
        raise ValueError(f"--maxval {given} does not fit its {8 if largest == 255 else 16}-bit "
                         f"samples (at most {largest})")
    return given
