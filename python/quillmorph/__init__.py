"""Quillmorph: doubles the resolution of 8-bit grayscale images, bit-exactly.

An H x W image becomes one of 2H x 2W: the original pixels stay at the even
positions (row 2y, column 2x), and every other pixel is estimated, first by a
fixed 4-tap filter, then by two adaptive least-squares passes that follow
edges instead of blurring them.  The result is defined to the bit: the same
bytes as the Quillmorph command-line tool and the C library, on every
platform, layout and thread count.

    >>> import numpy, quillmorph
    >>> image = numpy.zeros((480, 640), numpy.uint8)
    >>> quillmorph.upscale(image).shape
    (960, 1280)

upscale() does the work on a whole image.  upscale_region() computes any
rectangle of the output from the part of the input around it (HALO pixels
wider on every side), exactly as the whole image has it: for tiles, and for
images too large for one machine (quillmorph.dask runs it on Dask).  Error
and Cancelled are their exceptions and __version__ is the library's version.
"""

from __future__ import annotations

import operator
import threading
from typing import Any, Callable, Optional, Tuple

import numpy
from numpy.typing import ArrayLike, NDArray

from . import _core

__all__ = ["HALO", "Cancelled", "Error", "ProgressCallback", "upscale", "upscale_region",
           "__version__"]

#: The library's version, "major.minor.patch".
__version__: str = _core.version

#: The dependency radius in LR pixels: output pixel (R, C) depends only on
#: the input pixels at most HALO rows and columns from (R // 2, C // 2).
HALO: int = _core.HALO

#: progress(rows_done, rows_total); a true result cancels the call.
ProgressCallback = Callable[[int, int], Any]

_INT_MAX = 2**31 - 1


class Error(RuntimeError):
    """The library could not upscale the image; the message is its own.

    status holds the library's status code (one of the QM_ERROR_ codes of
    quillmorph.h).
    """

    def __init__(self, message: str, status: int) -> None:
        super().__init__(message)
        self.status = status


class Cancelled(Error):
    """The progress callback returned a true value, and the call stopped."""


def upscale(
    image: ArrayLike,
    *,
    threads: int = 0,
    progress: Optional[ProgressCallback] = None,
    out: Optional[NDArray[numpy.uint8]] = None,
) -> NDArray[numpy.uint8]:
    """Doubles the resolution of an 8-bit grayscale image.

    image: anything numpy.asarray takes, of dtype uint8; it is never
        modified.  Two dimensions (H, W) give a (2H, 2W) result.  Three
        dimensions (H, W, C) give (2H, 2W, C), each channel upscaled on its
        own.  Each side must be 3 pixels or more.  Any layout works: C or
        Fortran order, views with steps or negative strides, read-only
        arrays.  Rows the library cannot read in place are copied one at a
        time; a C-contiguous (H, W) array is read in place.
    threads: how many threads the call works on, the calling thread among
        them: 0 (the default) for every processor the process may use, 1 for
        the calling thread alone, n for at most n.
    progress: None, or progress(rows_done, rows_total), called on the
        calling thread every few output rows and once at the end, with the
        rows finished so far and in all (over every channel).  A true result
        cancels the call: upscale raises Cancelled.  An exception it raises
        stops the call and propagates unchanged.
    out: None, or a writable C-contiguous uint8 array of exactly the
        result's shape, not sharing memory with image, to write the result
        into.

    Returns the result: out when given, otherwise a new C-contiguous array.

    The GIL is released while the library works, so calls from several
    Python threads run in parallel.  Ctrl-C (any signal handler that raises)
    stops a call in the main thread within a fraction of a second, and its
    exception propagates.  A call that stops early leaves out written in part.

    Raises TypeError for a dtype other than uint8 (convert with
    image.astype(numpy.uint8)); ValueError for a wrong shape or side, a
    negative thread count or an unsuitable out; Cancelled when progress asked
    to stop; MemoryError when memory runs out; Error for any other failure
    the library reports.
    """
    lr = numpy.asarray(image)
    _check_image(lr)
    thread_count = _check_threads(threads)
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be callable or None, not {type(progress).__name__}")
    shape = (2 * lr.shape[0], 2 * lr.shape[1]) + lr.shape[2:]
    hr = numpy.empty(shape, numpy.uint8) if out is None else _check_out(out, shape, lr)
    # Only the main thread runs signal handlers: elsewhere polling for them
    # would only cost the GIL.
    check_signals = threading.current_thread() is threading.main_thread()
    if lr.ndim == 2:
        _upscale_2d(lr, hr, thread_count, progress, check_signals)
        return hr
    channels = lr.shape[2]
    for channel in range(channels):
        _upscale_2d(
            lr[:, :, channel],
            hr[:, :, channel],
            thread_count,
            _channel_progress(progress, channel, channels),
            check_signals,
        )
    return hr


def upscale_region(
    window: ArrayLike,
    *,
    window_origin: Tuple[int, int],
    image_shape: Tuple[int, int],
    region: Tuple[int, int, int, int],
    threads: int = 0,
    out: Optional[NDArray[numpy.uint8]] = None,
) -> NDArray[numpy.uint8]:
    """One rectangle of the upscaled image, from the part of the image around it.

    window: the pixels of a rectangle of the LR image, a 2-D uint8 array
        (any layout; never modified).
    window_origin: (y, x), where the window's first pixel lies in the image.
    image_shape: (H, W), the whole LR image's shape.
    region: (y, x, height, width) of the rectangle wanted, in the pixels of
        the (2H, 2W) output; any position, even or odd.
    threads, out: as for upscale; out has shape (height, width).

    Returns the region exactly as upscale(whole_image) has it, at the
    image's borders too.  The window must hold every LR pixel the region
    depends on: rows y // 2 - HALO to (y + height - 1) // 2 + HALO and
    columns likewise, clipped to the image.  A larger window is fine; only
    what is needed is worked on.

    Raises TypeError for a dtype other than uint8; ValueError for a window
    that is not 2-D or does not hold what the region needs, rectangles that
    do not fit the image, sides below 3, a negative thread count or an
    unsuitable out; MemoryError when memory runs out.
    """
    lr = numpy.asarray(window)
    _check_dtype(lr, "window")
    if lr.ndim != 2:
        raise ValueError(f"window must have 2 dimensions (height, width), not shape {lr.shape}")
    window_y, window_x = _int_pair(window_origin, "window_origin")
    height, width = _int_pair(image_shape, "image_shape")
    if height < 3 or width < 3:
        raise ValueError(
            f"image_shape {image_shape} is an unsupported size of {width} x {height} pixels "
            "(each side must be 3 or more)"
        )
    region_y, region_x, region_height, region_width = _int_tuple(region, 4, "region")
    if not _fits((window_y, window_x) + lr.shape, (0, 0, height, width)):
        raise ValueError(
            f"a window of shape {lr.shape} at {(window_y, window_x)} does not fit an image of "
            f"shape {(height, width)}"
        )
    if not _fits((region_y, region_x, region_height, region_width), (0, 0, 2 * height, 2 * width)):
        raise ValueError(
            f"region {tuple(region)} does not fit the output of shape {(2 * height, 2 * width)}"
        )
    needed = _needed_window(region_y, region_x, region_height, region_width, height, width)
    if not _fits(needed, (window_y, window_x) + lr.shape):
        raise ValueError(
            f"the window (shape {lr.shape} at {(window_y, window_x)}) does not hold every pixel "
            f"the region depends on: rows {needed[0]}..{needed[0] + needed[2] - 1} and columns "
            f"{needed[1]}..{needed[1] + needed[3] - 1} of the image (HALO = {HALO})"
        )
    thread_count = _check_threads(threads)
    shape = (region_height, region_width)
    hr = numpy.empty(shape, numpy.uint8) if out is None else _check_out(out, shape, lr)
    if lr.strides[1] != 1 or lr.strides[0] < lr.shape[1]:
        lr = numpy.ascontiguousarray(lr)
    check_signals = threading.current_thread() is threading.main_thread()
    _raise_for(
        _core.upscale_region_2d(
            lr, hr, window_y, window_x, height, width, region_y, region_x, thread_count, None,
            check_signals,
        )
    )
    return hr


def _int_tuple(value: Any, length: int, name: str) -> Tuple[int, ...]:
    try:
        items = tuple(operator.index(item) for item in value)
    except TypeError:
        raise TypeError(f"{name} must be a tuple of {length} integers, not {value!r}") from None
    if len(items) != length:
        raise ValueError(f"{name} must hold {length} integers, not {len(items)}: {value!r}")
    # Past the library's int every coordinate is out of range anyway: a
    # ValueError like any other, not an OverflowError from the module.
    if any(abs(item) > _INT_MAX for item in items):
        raise ValueError(f"{name} {value!r} lies beyond the sizes the library addresses")
    return items


def _int_pair(value: Any, name: str) -> Tuple[int, int]:
    first, second = _int_tuple(value, 2, name)
    return first, second


def _fits(inner: Tuple[int, ...], outer: Tuple[int, ...]) -> bool:
    """Whether the rectangle (y, x, height, width) inner is non-empty and
    lies within outer."""
    y, x, height, width = inner
    outer_y, outer_x, outer_height, outer_width = outer
    return (
        height > 0
        and width > 0
        and y >= outer_y
        and x >= outer_x
        and y + height <= outer_y + outer_height
        and x + width <= outer_x + outer_width
    )


def _needed_window(
    y: int, x: int, height: int, width: int, image_height: int, image_width: int
) -> Tuple[int, int, int, int]:
    """The LR rectangle (y, x, height, width) an output region depends on."""
    top = max(0, y // 2 - HALO)
    left = max(0, x // 2 - HALO)
    bottom = min(image_height - 1, (y + height - 1) // 2 + HALO)
    right = min(image_width - 1, (x + width - 1) // 2 + HALO)
    return top, left, bottom - top + 1, right - left + 1


def _check_dtype(lr: numpy.ndarray, name: str) -> None:
    if lr.dtype != numpy.uint8:
        raise TypeError(
            f"{name} has dtype {lr.dtype}, and quillmorph upscales uint8 images only: "
            f"convert it with {name}.astype(numpy.uint8) where its values are 0..255"
        )


def _check_image(lr: numpy.ndarray) -> None:
    _check_dtype(lr, "image")
    if lr.ndim not in (2, 3):
        raise ValueError(
            f"image must have 2 dimensions (height, width) or 3 (height, width, channels), "
            f"not {lr.ndim}: its shape is {lr.shape}"
        )
    height, width = lr.shape[:2]
    if height < 3 or width < 3:
        raise ValueError(
            f"image of shape {lr.shape} has an unsupported size of {width} x {height} pixels "
            "(each side must be 3 or more)"
        )
    if lr.ndim == 3 and lr.shape[2] == 0:
        raise ValueError(f"image of shape {lr.shape} has no channels")


def _check_threads(threads: int) -> int:
    count = operator.index(threads)
    if count < 0:
        raise ValueError(f"threads must be 0 (every processor) or a positive count, not {count}")
    # "At most n" threads: no machine reaches the library's int range.
    return min(count, _INT_MAX)


def _check_out(out: Any, shape: tuple, lr: numpy.ndarray) -> NDArray[numpy.uint8]:
    if not isinstance(out, numpy.ndarray):
        raise ValueError(f"out must be a numpy.ndarray, not {type(out).__name__}")
    if out.dtype != numpy.uint8:
        raise ValueError(f"out must have dtype uint8, not {out.dtype}")
    if out.shape != shape:
        raise ValueError(
            f"out must have shape {shape} (twice the image's height and width), not {out.shape}"
        )
    if not out.flags.c_contiguous:
        raise ValueError("out must be C-contiguous, as numpy.empty(shape, numpy.uint8) makes it")
    if not out.flags.writeable:
        raise ValueError("out must be writable")
    if numpy.may_share_memory(out, lr):
        raise ValueError("out must not share memory with image")
    return out


def _channel_progress(
    progress: Optional[ProgressCallback], channel: int, channels: int
) -> Optional[ProgressCallback]:
    """progress over all channels, from the rows of one of them."""
    if progress is None or channels == 1:
        return progress
    report: ProgressCallback = progress

    def channel_progress(rows_done: int, rows_total: int) -> Any:
        return report(channel * rows_total + rows_done, channels * rows_total)

    return channel_progress


def _upscale_2d(
    lr: numpy.ndarray,
    hr: numpy.ndarray,
    threads: int,
    progress: Optional[ProgressCallback],
    check_signals: bool,
) -> None:
    _raise_for(_core.upscale_2d(lr, hr, threads, progress, check_signals))


def _raise_for(status: int) -> None:
    """Raises the exception for a status of the library, if any."""
    if status == _core.OK:
        return
    message = _core.status_string(status)
    if status == _core.ERROR_NO_MEMORY:
        raise MemoryError(message)
    if status == _core.ERROR_CANCELLED:
        raise Cancelled(message, status)
    raise Error(message, status)
