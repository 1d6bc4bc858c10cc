"""Upscaling Dask arrays: one image too large for one machine, tile by tile.

    import dask.array, quillmorph.dask
    image = dask.array.from_zarr("scan.zarr")            # (H, W) uint8, any chunks
    quillmorph.dask.upscale(image).to_zarr("scan_x2.zarr")

Each output chunk is one task: quillmorph.upscale_region on the input
window it depends on (its chunk widened by HALO pixels on every side,
clipped to the image).  So the result is byte-identical to
quillmorph.upscale on the whole image for any chunking, chunks smaller than
the halo included, and a task retried on another worker gives the same
bytes.  The output's chunks are twice the input's.

Dask is optional for quillmorph; this module needs dask[array] (Debian:
python3-dask, and python3-distributed for clusters).
"""

from __future__ import annotations

from typing import Iterator, List, Tuple

import numpy

try:
    import dask
    import dask.array as da
except ImportError as missing:  # pragma: no cover - depends on the installation
    raise ImportError(
        "quillmorph.dask needs Dask: install python3-dask (and python3-distributed for "
        "clusters) from Debian, or `pip install dask[array] distributed`"
    ) from missing

from . import HALO, upscale_region

__all__ = ["upscale"]


def upscale(array: da.Array, *, threads: int = 1) -> da.Array:
    """Doubles the resolution of a 2-D uint8 Dask array, lazily.

    array: a (H, W) dask array (anything dask.array.asarray takes) of dtype
        uint8, of any chunking; each side 3 pixels or more.
    threads: the threads each task works on; 1 (the default) leaves the
        parallelism to the scheduler, which runs many tasks at once.

    Returns a (2H, 2W) uint8 dask array whose chunks are twice the input's.
    Computed, it is byte-identical to quillmorph.upscale(array.compute()).

    Raises TypeError for another dtype (convert with
    array.astype(numpy.uint8)) and ValueError for another number of
    dimensions, a side below 3 or a negative thread count.
    """
    lr = da.asarray(array)
    if lr.dtype != numpy.uint8:
        raise TypeError(
            f"array has dtype {lr.dtype}, and quillmorph upscales uint8 images only: "
            "convert it with array.astype(numpy.uint8) where its values are 0..255"
        )
    if lr.ndim != 2:
        raise ValueError(f"array must have 2 dimensions (height, width), not shape {lr.shape}")
    height, width = lr.shape
    if height < 3 or width < 3:
        raise ValueError(
            f"array of shape {lr.shape} has an unsupported size of {width} x {height} pixels "
            "(each side must be 3 or more)"
        )
    if threads < 0:
        raise ValueError(f"threads must be 0 (every processor) or a positive count, not {threads}")
    tile = dask.delayed(_upscale_tile, pure=True)
    rows: List[List[da.Array]] = []
    for y, chunk_height in _spans(lr.chunks[0]):
        row = []
        for x, chunk_width in _spans(lr.chunks[1]):
            top, bottom = _window_span(y, chunk_height, height)
            left, right = _window_span(x, chunk_width, width)
            region = (2 * y, 2 * x, 2 * chunk_height, 2 * chunk_width)
            block = tile(lr[top:bottom, left:right], (top, left), (height, width), region, threads)
            row.append(da.from_delayed(block, (2 * chunk_height, 2 * chunk_width), numpy.uint8))
        rows.append(row)
    return da.block(rows)


def _spans(chunks: Tuple[int, ...]) -> Iterator[Tuple[int, int]]:
    """(start, size) of each chunk along one axis."""
    start = 0
    for size in chunks:
        yield start, size
        start += size


def _window_span(start: int, size: int, length: int) -> Tuple[int, int]:
    """The LR span [first, end) that the output of LR span [start, start +
    size) depends on: HALO more on each side, clipped to the image."""
    return max(0, start - HALO), min(length, start + size + HALO)


def _upscale_tile(window, window_origin, image_shape, region, threads):
    return upscale_region(
        window, window_origin=window_origin, image_shape=image_shape, region=region,
        threads=threads,
    )
