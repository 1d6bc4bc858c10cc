"""Quillmorph: doubles the resolution of 8- and 16-bit grayscale images, bit-exactly.

An H x W image becomes one of 2H x 2W: the original pixels stay at the even
positions (row 2y, column 2x), and every other pixel is estimated, first by a
fixed 4-tap filter, then by two adaptive least-squares passes that follow
edges instead of blurring them.  The result is defined to the bit: the same
samples as the Quillmorph command-line tool and the C library, on every
platform, layout and thread count.

    >>> import numpy, quillmorph
    >>> image = numpy.zeros((480, 640), numpy.uint8)
    >>> quillmorph.upscale(image).shape
    (960, 1280)

Images are uint8 or uint16 arrays, and results have their dtype.  maxval,
the largest value a sample may take, is the dtype's unless given (4095 for a
12-bit camera that stores its samples in 16 bits, say).  Stacks of images
of any number of dimensions are upscaled image by image: axes names the two
axes that are doubled, and the others are looped over, so a (Z, Y, X) stack
takes axes=(-2, -1).

upscale() does the work on a whole image.  upscale_region() computes any
rectangle of the output from the part of the input around it (HALO pixels
wider on every side), exactly as the whole image has it: for tiles, and for
images too large for one machine (quillmorph.dask runs it on Dask).  Error
and Cancelled are their exceptions and __version__ is the library's version.
"""

from __future__ import annotations

import operator
import threading
from typing import Any, Callable, Iterator, Optional, Tuple

import numpy
from numpy.typing import ArrayLike, NDArray

from . import _core

__all__ = ["HALO", "Cancelled", "Error", "ProgressCallback", "upscale", "upscale_region",
           "vector_target", "__version__"]

#: The library's version, "major.minor.patch".
__version__: str = _core.version

#: The dependency radius in LR pixels: output pixel (R, C) depends only on
#: the input pixels at most HALO rows and columns from (R // 2, C // 2).
HALO: int = _core.HALO

#: progress(rows_done, rows_total); a true result cancels the call.
ProgressCallback = Callable[[int, int], Any]

_INT_MAX = 2**31 - 1

# The dtypes the library takes, in the machine's byte order; the other
# byte order is taken too, and results come in the machine's.
_SAMPLE_DTYPES = (numpy.dtype(numpy.uint8), numpy.dtype(numpy.uint16))


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


def vector_target() -> str:
    """The copy of the vector code the library runs.

    "avx512", "avx2" or "sse2" on x86-64, "neon" on ARM64, or "generic"; every
    copy writes the same bytes.  The widest the processor runs is chosen
    once per process, unless the environment variable QUILLMORPH_CPU names
    another.  Raises Error when it names one that is unknown or that this
    processor cannot run: every upscale then fails the same way.
    """
    name = _core.vector_target()
    if name is None:
        status = _core.ERROR_VECTOR_TARGET
        raise Error(_core.status_string(status), status)
    return name


def upscale(
    image: ArrayLike,
    *,
    threads: int = 0,
    maxval: Optional[int] = None,
    axes: Optional[Tuple[int, int]] = None,
    progress: Optional[ProgressCallback] = None,
    out: Optional[NDArray[Any]] = None,
) -> NDArray[Any]:
    """Doubles the resolution of an 8- or 16-bit grayscale image, or of each in a stack.

    image: anything numpy.asarray takes, of dtype uint8 or uint16; it is
        never modified.  Each side must be 3 pixels or more.  Any layout
        works: C or Fortran order, views with steps or negative strides,
        read-only arrays, and uint16 in either byte order (the other one is
        byte-swapped a row at a time as it is read).  Images the library
        cannot read in place are read a row at a time; no layout costs a
        copy of the whole array.
    threads: how many threads the call works on, the calling thread among
        them: 0 (the default) for every processor the process may use, 1 for
        the calling thread alone, n for at most n (the library runs 256 at
        most, however many are asked for).
    maxval: the largest value a sample may take, 1 up to the dtype's
        largest; None (the default) for the dtype's largest, 255 or 65535.
        The method's bounds scale with it, and results lie in 0..maxval.
    axes: (rows, columns), the two axes of image that are doubled, negative
        indices counting from the end; every other axis is looped over, each
        image upscaled on its own.  None (the default) takes (H, W) images
        and (H, W, C) ones, each channel upscaled on its own: axes (0, 1).
        Other numbers of dimensions must name their axes: (-2, -1) for a
        (Z, Y, X) stack, say.
    progress: None, or progress(rows_done, rows_total), called on the
        calling thread every few output rows and once at the end, with the
        rows finished so far and in all (over every image of a stack).  A
        true result cancels the call: upscale raises Cancelled.  An exception
        it raises stops the call and propagates unchanged.
    out: None, or a writable C-contiguous array of exactly the result's
        shape and dtype, not sharing memory with image, to write the result
        into.

    Returns the result: image's shape with the two axes doubled, of image's
    dtype in the machine's byte order; out when given, otherwise a new
    C-contiguous array.

    The GIL is released while the library works, so calls from several
    Python threads run in parallel.  Ctrl-C (any signal handler that raises)
    stops a call in the main thread within a fraction of a second, and its
    exception propagates.  A call that stops early leaves out written in part;
    a refused one (a sample above maxval) leaves it as it was.

    Raises TypeError for a dtype other than uint8 and uint16 (convert with
    image.astype(numpy.uint16)), or a maxval, axes or thread count that is
    not made of integers; ValueError for a wrong shape or side, axes that do
    not name two axes of image, a maxval out of the dtype's range, a sample
    above maxval, a negative thread count or an unsuitable out; Cancelled
    when progress asked to stop; MemoryError when memory runs out; Error for
    any other failure the library reports.
    """
    lr = numpy.asarray(image)
    dtype = _sample_dtype(lr, "image")
    doubled = _image_axes(lr.shape, axes, "image")
    height, width = _image_sides(lr.shape, doubled, "image")
    maximum = _check_maxval(maxval, dtype)
    thread_count = _check_threads(threads)
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be callable or None, not {type(progress).__name__}")
    shape = _with_sides(lr.shape, doubled, 2 * height, 2 * width)
    if out is None:
        hr = numpy.empty(shape, dtype)
    else:
        hr = _check_out(out, shape, dtype, lr, "the image's with its height and width doubled")
    # Only the main thread runs signal handlers: elsewhere polling for them
    # would only cost the GIL.
    check_signals = threading.current_thread() is threading.main_thread()
    count = lr.size // (height * width)
    # Each image is checked before its first row is written; a stack must be
    # checked whole, so that a refused call leaves out as it was.
    if count > 1 and maximum < numpy.iinfo(dtype).max and lr.max() > maximum:
        _raise_for(_core.ERROR_SAMPLE, "image", maximum)
    for index, (lr_plane, hr_plane) in enumerate(_planes(lr, hr, doubled)):
        report = _stack_progress(progress, index, count)
        status = _core.upscale_2d(lr_plane, hr_plane, thread_count, maximum, report, check_signals)
        _raise_for(status, "image", maximum)
    return hr


def upscale_region(
    window: ArrayLike,
    *,
    window_origin: Tuple[int, int],
    image_shape: Tuple[int, int],
    region: Tuple[int, int, int, int],
    threads: int = 0,
    maxval: Optional[int] = None,
    axes: Optional[Tuple[int, int]] = None,
    out: Optional[NDArray[Any]] = None,
) -> NDArray[Any]:
    """One rectangle of the upscaled image, from the part of the image around it.

    window: the pixels of a rectangle of the LR image, a uint8 or uint16
        array (any layout, either byte order; never modified): 2-D, or a
        stack of such rectangles along the axes that axes does not name.
    window_origin: (y, x), where the window's first pixel lies in the image.
    image_shape: (H, W), the whole LR image's height and width.
    region: (y, x, height, width) of the rectangle wanted, in the pixels of
        the (2H, 2W) output; any position, even or odd.
    threads, maxval, axes: as for upscale.
    out: as for upscale; its shape is window's with the two axes replaced by
        the region's height and width.

    Returns the region exactly as upscale(whole_image) has it, at the
    image's borders too, of window's dtype in the machine's byte order.  The
    window must hold every LR pixel the region depends on: rows y // 2 - HALO
    to (y + height - 1) // 2 + HALO and columns likewise, clipped to the
    image.  A larger window is fine; only what is needed is worked on (and
    copied, a plane at a time, where its layout or byte order is not the
    library's).

    Raises TypeError for a dtype other than uint8 and uint16, or arguments
    that are not made of integers; ValueError for a window that does not
    hold what the region needs, rectangles that do not fit the image or the
    library's sizes, sides below 3, wrong axes, a maxval out of the dtype's
    range, a sample above maxval among those needed, a negative thread count
    or an unsuitable out; MemoryError when memory runs out.
    """
    lr = numpy.asarray(window)
    dtype = _sample_dtype(lr, "window")
    doubled = _image_axes(lr.shape, axes, "window")
    window_y, window_x = _coordinates(window_origin, 2, "window_origin")
    height, width = _coordinates(image_shape, 2, "image_shape")
    region_y, region_x, region_height, region_width = _coordinates(region, 4, "region")
    needed = _region_window((height, width), (region_y, region_x, region_height, region_width))
    held = (window_y, window_x, lr.shape[doubled[0]], lr.shape[doubled[1]])
    if not _fits(held, (0, 0, height, width)):
        raise ValueError(
            f"a window of shape {held[2:]} at {held[:2]} does not fit an image of "
            f"shape {(height, width)}"
        )
    if not _fits(needed, held):
        raise ValueError(
            f"the window (shape {held[2:]} at {held[:2]}) does not hold every pixel "
            f"the region depends on: rows {needed[0]}..{needed[0] + needed[2] - 1} and columns "
            f"{needed[1]}..{needed[1] + needed[3] - 1} of the image (HALO = {HALO})"
        )
    maximum = _check_maxval(maxval, dtype)
    thread_count = _check_threads(threads)
    shape = _with_sides(lr.shape, doubled, region_height, region_width)
    if out is None:
        hr = numpy.empty(shape, dtype)
    else:
        hr = _check_out(out, shape, dtype, lr, "the window's with the region's height and width")
    # What the region needs, and nothing more, is handed to the library.
    top, left = needed[0] - window_y, needed[1] - window_x
    lr = _crop(lr, doubled, (top, top + needed[2]), (left, left + needed[3]))
    check_signals = threading.current_thread() is threading.main_thread()
    for lr_plane, hr_plane in _planes(lr, hr, doubled):
        # A copy, never ascontiguousarray: that returns a C-contiguous plane
        # at an odd address (numpy.frombuffer after an odd-length header)
        # as it is, and the library takes aligned rows only.
        if not _has_plain_rows(lr_plane):
            lr_plane = numpy.array(lr_plane, dtype, order="C")
        target = hr_plane if _has_plain_rows(hr_plane) else numpy.empty(hr_plane.shape, dtype)
        status = _core.upscale_region_2d(
            lr_plane, target, needed[0], needed[1], height, width, region_y, region_x,
            thread_count, maximum, None, check_signals,
        )
        _raise_for(status, "window", maximum)
        if target is not hr_plane:
            hr_plane[...] = target
    return hr


def _int_tuple(value: Any, length: int, name: str) -> Tuple[int, ...]:
    try:
        items = tuple(operator.index(item) for item in value)
    except TypeError:
        raise TypeError(f"{name} must be a tuple of {length} integers, not {value!r}") from None
    if len(items) != length:
        raise ValueError(f"{name} must hold {length} integers, not {len(items)}: {value!r}")
    return items


def _coordinates(value: Any, length: int, name: str) -> Tuple[int, ...]:
    items = _int_tuple(value, length, name)
    # Past the library's int every coordinate is out of range anyway: a
    # ValueError like any other, not an OverflowError from the module.
    if any(abs(item) > _INT_MAX for item in items):
        raise ValueError(f"{name} {value!r} lies beyond the sizes the library addresses")
    return items


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


def _region_window(
    image_shape: Tuple[int, ...], region: Tuple[int, ...]
) -> Tuple[int, int, int, int]:
    """The LR rectangle (y, x, height, width) that the region (y, x, height,
    width) of the output of an image of image_shape (H, W) depends on, by the
    library's own rule; ValueError for an image or region it refuses."""
    height, width = _coordinates(image_shape, 2, "image_shape")
    region = _coordinates(region, 4, "region")
    status, y, x, window_height, window_width = _core.region_window(height, width, *region)
    if status == _core.OK:
        return y, x, window_height, window_width
    if status == _core.ERROR_SIZE:
        raise ValueError(
            f"image_shape {(height, width)} is an unsupported size of {width} x {height} pixels "
            "(each side must be 3 or more)"
        )
    if status == _core.ERROR_TOO_LARGE:
        raise ValueError(f"image_shape {(height, width)}: {_core.status_string(status)}")
    raise ValueError(f"region {region} does not fit the output of shape {(2 * height, 2 * width)}")


def _sample_dtype(lr: numpy.ndarray, name: str) -> numpy.dtype:
    """The dtype of the result: lr's, in the machine's byte order."""
    dtype = lr.dtype.newbyteorder("=") if lr.dtype.kind == "u" else lr.dtype
    if dtype not in _SAMPLE_DTYPES:
        raise TypeError(
            f"{name} has dtype {lr.dtype}, and quillmorph upscales uint8 and uint16 images only: "
            f"convert it with {name}.astype(numpy.uint8) or {name}.astype(numpy.uint16) where "
            "its values fit"
        )
    return dtype


def _image_sides(shape: Tuple[int, ...], doubled: Tuple[int, int], name: str) -> Tuple[int, int]:
    """The height and width of the image along the doubled axes, each 3 or
    more (ValueError otherwise)."""
    height, width = shape[doubled[0]], shape[doubled[1]]
    if height < 3 or width < 3:
        raise ValueError(
            f"{name} of shape {shape} has an unsupported size of {width} x {height} pixels "
            "(each side must be 3 or more)"
        )
    return height, width


def _image_axes(shape: Tuple[int, ...], axes: Any, name: str) -> Tuple[int, int]:
    """The two axes of an array of shape that are doubled, counted from 0."""
    ndim = len(shape)
    if axes is None:
        if ndim not in (2, 3):
            raise ValueError(
                f"{name} must have 2 dimensions (height, width) or 3 (height, width, channels), "
                f"not {ndim}: its shape is {shape}; for other arrays, name the two axes to "
                "double with axes=(rows, columns)"
            )
        doubled = (0, 1)
    else:
        rows, columns = _int_tuple(axes, 2, "axes")
        if ndim < 2:
            raise ValueError(
                f"{name} must have 2 dimensions or more, not {ndim}: its shape is {shape}"
            )
        if not (-ndim <= rows < ndim and -ndim <= columns < ndim):
            raise ValueError(f"axes {axes!r} are not axes of {name}, of shape {shape}")
        doubled = (rows % ndim, columns % ndim)
        if doubled[0] == doubled[1]:
            raise ValueError(f"axes {axes!r} name the same axis of {name} twice")
    for axis in range(ndim):
        if axis not in doubled and shape[axis] == 0:
            what = "channels" if axes is None else f"images (axis {axis} has length 0)"
            raise ValueError(f"{name} of shape {shape} has no {what}")
    return doubled


def _with_sides(
    shape: Tuple[int, ...], doubled: Tuple[int, int], height: int, width: int
) -> Tuple[int, ...]:
    """shape with the lengths of the two doubled axes replaced."""
    sides = list(shape)
    sides[doubled[0]], sides[doubled[1]] = height, width
    return tuple(sides)


def _crop(
    array: numpy.ndarray, doubled: Tuple[int, int], rows: Tuple[int, int], columns: Tuple[int, int]
) -> numpy.ndarray:
    """A view of array with its doubled axes cut to [start, end) each."""
    index: list = [slice(None)] * array.ndim
    index[doubled[0]], index[doubled[1]] = slice(*rows), slice(*columns)
    return array[tuple(index)]


def _planes(
    lr: numpy.ndarray, hr: numpy.ndarray, doubled: Tuple[int, int]
) -> Iterator[Tuple[numpy.ndarray, numpy.ndarray]]:
    """Each 2-D image of the stack lr and its place in hr, as views, in C
    order of the other axes."""
    lr_stack = numpy.moveaxis(lr, doubled, (-2, -1))
    hr_stack = numpy.moveaxis(hr, doubled, (-2, -1))
    for index in numpy.ndindex(lr_stack.shape[:-2]):
        yield lr_stack[index], hr_stack[index]


def _has_plain_rows(plane: numpy.ndarray) -> bool:
    """Whether the library can read the 2-D plane in place: samples side by
    side, aligned, in the machine's byte order."""
    item = plane.itemsize
    return (
        plane.dtype.isnative
        and plane.flags.aligned
        and plane.strides[1] == item
        and plane.strides[0] >= plane.shape[1] * item
    )


def _check_maxval(maxval: Any, dtype: numpy.dtype) -> int:
    largest = int(numpy.iinfo(dtype).max)
    if maxval is None:
        return largest
    try:
        value = operator.index(maxval)
    except TypeError:
        raise TypeError(f"maxval must be an integer or None, not {type(maxval).__name__}") from None
    if not 1 <= value <= largest:
        raise ValueError(
            f"maxval {value} does not fit {dtype} samples: it must lie in 1..{largest}"
        )
    return value


def _check_threads(threads: Any) -> int:
    count = operator.index(threads)
    if count < 0:
        raise ValueError(f"threads must be 0 (every processor) or a positive count, not {count}")
    # "At most n" threads, and the library caps n itself.
    return min(count, _INT_MAX)


def _check_out(
    out: Any, shape: tuple, dtype: numpy.dtype, lr: numpy.ndarray, expected: str
) -> NDArray[Any]:
    if not isinstance(out, numpy.ndarray):
        raise ValueError(f"out must be a numpy.ndarray, not {type(out).__name__}")
    if out.dtype != dtype:
        swapped = out.dtype.kind == "u" and out.dtype.newbyteorder("=") == dtype
        order = " (results are in the machine's byte order)" if swapped else ""
        raise ValueError(f"out must have dtype {dtype}, not {out.dtype}{order}")
    if out.shape != shape:
        raise ValueError(f"out must have shape {shape} ({expected}), not {out.shape}")
    if not out.flags.c_contiguous:
        raise ValueError(f"out must be C-contiguous, as numpy.empty(shape, numpy.{dtype}) makes it")
    if not out.flags.writeable:
        raise ValueError("out must be writable")
    if numpy.may_share_memory(out, lr):
        raise ValueError("out must not share memory with image")
    return out


def _stack_progress(
    progress: Optional[ProgressCallback], index: int, count: int
) -> Optional[ProgressCallback]:
    """progress over all images of a stack, from the rows of one of them."""
    if progress is None or count == 1:
        return progress
    report: ProgressCallback = progress

    def stack_progress(rows_done: int, rows_total: int) -> Any:
        return report(index * rows_total + rows_done, count * rows_total)

    return stack_progress


def _raise_for(status: int, name: str, maxval: int) -> None:
    """Raises the exception for a status of the library, if any."""
    if status == _core.OK:
        return
    message = _core.status_string(status)
    if status == _core.ERROR_SAMPLE:
        raise ValueError(
            f"{name} holds a sample above maxval={maxval}: give the largest value its samples "
            "may take as maxval, or clip them"
        )
    if status == _core.ERROR_NO_MEMORY:
        raise MemoryError(message)
    if status == _core.ERROR_CANCELLED:
        raise Cancelled(message, status)
    raise Error(message, status)
