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

upscale() is the whole interface; Error and Cancelled are its exceptions and
__version__ is the library's version.
"""

from __future__ import annotations

import operator
import threading
from typing import Any, Callable, Optional

import numpy
from numpy.typing import ArrayLike, NDArray

from . import _core

__all__ = ["Cancelled", "Error", "ProgressCallback", "upscale", "__version__"]

#: The library's version, "major.minor.patch".
__version__: str = _core.version

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


def _check_image(lr: numpy.ndarray) -> None:
    if lr.dtype != numpy.uint8:
        raise TypeError(
            f"image has dtype {lr.dtype}, and quillmorph upscales uint8 images only: "
            "convert it with image.astype(numpy.uint8) where its values are 0..255"
        )
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
    status = _core.upscale_2d(lr, hr, threads, progress, check_signals)
    if status == _core.OK:
        return
    message = _core.status_string(status)
    if status == _core.ERROR_NO_MEMORY:
        raise MemoryError(message)
    if status == _core.ERROR_CANCELLED:
        raise Cancelled(message, status)
    raise Error(message, status)
