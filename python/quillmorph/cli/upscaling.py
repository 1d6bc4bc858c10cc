"""Pages upscaled by quillmorph: whole images by upscale, streamed ones
band by band by upscale_region, which gives the same samples."""

import itertools
from typing import Callable, Iterator, Optional

import numpy

import quillmorph

from .picture import Page

# Rows handled per region call when streaming: each call reads its window's
# 2 * HALO extra rows again, a small share of this many.
REGION_ROWS = 256

#: advance(rows): told the output rows finished since its last call.
Advance = Callable[[int], None]


def work_rows(height: int, doublings: int) -> int:
    """The output rows an image of height rows costs, over every doubling."""
    return sum(height << step for step in range(1, doublings + 1))


def upscale_page(
    page: Page, doublings: int, maxval: int, threads: int, advance: Optional[Advance] = None
) -> Page:
    """page doubled doublings times, as a page whose bands are computed as
    they are taken."""
    height, width = page.shape[:2]
    shape = (height << doublings, width << doublings) + page.shape[2:]
    report = advance or (lambda rows: None)

    def bands() -> Iterator[numpy.ndarray]:
        source = page.bands()
        first = next(source)
        if len(first) == height:  # in memory already: the whole-image call, no copies
            image, first = first, None  # each image is let go once doubled
            for _ in range(doublings):
                image = _upscale_whole(image, maxval, threads, report)
            yield image
            return
        stream = itertools.chain([first], source)
        for step in range(doublings):
            stream = upscale_bands(stream, (height << step, width << step), maxval, threads,
                                   report)
        yield from stream

    return Page(shape, page.dtype, bands)


def _upscale_whole(image: numpy.ndarray, maxval: int, threads: int,
                   report: Advance) -> numpy.ndarray:
    reported = 0

    def progress(rows_done: int, rows_total: int) -> None:
        nonlocal reported
        report(rows_done - reported)
        reported = rows_done

    return quillmorph.upscale(image, maxval=maxval, threads=threads, progress=progress)


def upscale_bands(
    bands: Iterator[numpy.ndarray], shape: tuple, maxval: int, threads: int, report: Advance
) -> Iterator[numpy.ndarray]:
    """The doubled image of shape (height, width) as bands of output rows,
    from its rows in bands: each output row leaves as soon as the input rows
    it depends on (HALO below it) are in, and input rows are dropped once no
    output row needs them."""
    height, width = shape
    halo = quillmorph.HALO
    held = numpy.empty(0)  # the input rows still needed; the first band replaces it
    held_top = 0  # the image row held[0] is
    rows_in = 0
    done = 0  # output rows yielded so far
    for band in bands:
        held = band if rows_in == 0 else numpy.concatenate([held, band])
        rows_in += len(band)
        # Output row r needs input rows up to r // 2 + HALO.
        final = 2 * height if rows_in == height else 2 * (rows_in - halo)
        if final - done < REGION_ROWS and rows_in < height:
            continue
        top = max(0, done // 2 - halo)
        bottom = min(height, (final - 1) // 2 + halo + 1)
        yield quillmorph.upscale_region(
            held[top - held_top : bottom - held_top], window_origin=(top, 0),
            image_shape=(height, width), region=(done, 0, final - done, 2 * width),
            maxval=maxval, threads=threads,
        )
        report(final - done)
        done = final
        keep_from = max(0, done // 2 - halo)
        held, held_top = held[keep_from - held_top :], keep_from
    if done != 2 * height:
        raise ValueError(f"the image ended after {rows_in} of its {height} rows")
