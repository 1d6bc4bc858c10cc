"""Upscaling Dask arrays: images too large for one machine, tile by tile.

    import dask.array, quillmorph.dask
    image = dask.array.from_zarr("scan.zarr")            # (H, W) uint8, any chunks
    quillmorph.dask.upscale(image).to_zarr("scan_x2.zarr")
    stack = dask.array.from_zarr("stack.zarr")           # (Z, Y, X) uint16
    quillmorph.dask.upscale(stack, axes=(-2, -1), maxval=4095)

Each output chunk is one task: quillmorph.upscale_region on the input
window it depends on (its chunk widened by HALO pixels on every side along
the two doubled axes, clipped to the image; the chunk itself along the
others).  So the result is identical to quillmorph.upscale on the whole
array for any chunking, chunks smaller than the halo included, and a task
retried on another worker gives the same samples.  The output's chunks are
twice the input's along the doubled axes and the input's along the others.

Dask is optional for quillmorph; this module needs dask[array] (Debian:
python3-dask, and python3-distributed for clusters).
"""

from __future__ import annotations

import math
from typing import Any, List, Optional, Tuple

try:
    import dask
    import dask.array as da
except ImportError as missing:  # pragma: no cover - depends on the installation
    raise ImportError(
        "quillmorph.dask needs Dask: install python3-dask (and python3-distributed for "
        "clusters) from Debian, or `pip install dask[array] distributed`"
    ) from missing

from . import (
    _check_maxval,
    _check_threads,
    _image_axes,
    _image_sides,
    _region_window,
    _sample_dtype,
    _with_sides,
    upscale_region,
)

__all__ = ["upscale"]


def upscale(
    array: Any,
    *,
    threads: int = 1,
    maxval: Optional[int] = None,
    axes: Optional[Tuple[int, int]] = None,
) -> da.Array:
    """Doubles the resolution of a uint8 or uint16 Dask array, lazily.

    array: a dask array (anything dask.array.asarray takes) of dtype uint8
        or uint16, either byte order, of any chunking with known chunk sizes
        and no empty chunk; each side 3 pixels or more.
    threads: the threads each task works on; 1 (the default) leaves the
        parallelism to the scheduler, which runs many tasks at once.
    maxval, axes: as for quillmorph.upscale: (H, W) and (H, W, C) arrays by
        default, and any other with the two axes to double named, (-2, -1)
        for a (Z, Y, X) stack, say.

    Returns a dask array of array's shape with the two axes doubled, of
    array's dtype in the machine's byte order, with one chunk for each of
    array's.  Computed, it is identical to quillmorph.upscale(array.compute())
    with the same arguments.

    Every argument is checked here, as the graph is built; only a sample
    above maxval is found as the tasks run (a ValueError from compute).

    Raises TypeError for another dtype (convert with
    array.astype(numpy.uint16)) or arguments that are not integers, and
    ValueError for a wrong shape, a side below 3, chunks of unknown size
    (call array.compute_chunk_sizes() first) or of size 0, wrong axes, a
    maxval out of the dtype's range or a negative thread count.
    """
    lr = da.asarray(array)
    dtype = _sample_dtype(lr, "array")
    if any(math.isnan(size) for sizes in lr.chunks for size in sizes):
        raise ValueError(
            f"array has chunks of unknown size {lr.chunks}: call array.compute_chunk_sizes() "
            "first"
        )
    doubled = _image_axes(lr.shape, axes, "array")
    height, width = _image_sides(lr.shape, doubled, "array")
    for axis, sizes in enumerate(lr.chunks):
        if 0 in sizes:
            raise ValueError(
                f"array has chunks of size 0 along axis {axis} (chunks {sizes}): rechunk it "
                "without them"
            )
    maximum = _check_maxval(maxval, dtype)
    thread_count = _check_threads(threads)
    starts = [_starts(sizes) for sizes in lr.chunks]
    tile = dask.delayed(_upscale_tile, pure=True)

    def block(index: Tuple[int, ...]) -> da.Array:
        """The output chunk of the input chunk at index (one per axis)."""
        spans = [(starts[axis][i], lr.chunks[axis][i]) for axis, i in enumerate(index)]
        (y, chunk_height), (x, chunk_width) = spans[doubled[0]], spans[doubled[1]]
        region = (2 * y, 2 * x, 2 * chunk_height, 2 * chunk_width)
        top, left, window_height, window_width = _region_window((height, width), region)
        cut = [slice(start, start + size) for start, size in spans]
        cut[doubled[0]] = slice(top, top + window_height)
        cut[doubled[1]] = slice(left, left + window_width)
        result = tile(
            lr[tuple(cut)], (top, left), (height, width), region, thread_count, maximum, doubled
        )
        shape = _with_sides(tuple(size for _, size in spans), doubled, region[2], region[3])
        return da.from_delayed(result, shape, dtype)

    def nested(index: Tuple[int, ...]) -> Any:
        """The output chunks under index, as da.block takes them."""
        if len(index) == lr.ndim:
            return block(index)
        return [nested(index + (i,)) for i in range(len(lr.chunks[len(index)]))]

    blocks: List[Any] = nested(())
    return da.block(blocks)


def _starts(sizes: Tuple[int, ...]) -> List[int]:
    """The start of each chunk along one axis."""
    starts = [0]
    for size in sizes[:-1]:
        starts.append(starts[-1] + size)
    return starts


def _upscale_tile(window, window_origin, image_shape, region, threads, maxval, axes):
    return upscale_region(
        window, window_origin=window_origin, image_shape=image_shape, region=region,
        threads=threads, maxval=maxval, axes=axes,
    )
