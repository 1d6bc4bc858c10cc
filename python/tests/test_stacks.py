"""uint8 and uint16 images, maxvals and stacks of any number of dimensions:
every image of a stack comes out as the 2-D call makes it, whichever axes
are doubled, whatever the layout and byte order, in memory, by regions and
on Dask; wrong arguments are refused before any work (on Dask, as the graph
is built)."""

import tracemalloc

import numpy
import pytest
from numpy.testing import assert_array_equal

import quillmorph
from conftest import random_stack

try:
    import dask.array as dask_array

    import quillmorph.dask
except ImportError:  # the Dask rows are skipped
    dask_array = None

BIG_ENDIAN = numpy.dtype(">u2")


def with_sample(array, value):
    array = array.copy()
    array.flat[7] = value
    return array


def whole_region(array, **arguments):
    """upscale_region for the whole output, from the whole image."""
    rows, columns = arguments.get("axes") or (0, 1)
    height, width = array.shape[rows], array.shape[columns]
    return quillmorph.upscale_region(array, window_origin=(0, 0), image_shape=(height, width),
                                     region=(0, 0, 2 * height, 2 * width), **arguments)


def on_dask(array, **arguments):
    return quillmorph.dask.upscale(array, **arguments).compute(scheduler="sync")


UP, REGION, DASK = quillmorph.upscale, whole_region, on_dask
U8, U16, STACK = random_stack((9, 8)), random_stack((9, 8), 4095), random_stack((3, 9, 8), 65535)

# (case, call, array, arguments, exception, message): without an exception
# the call works, and each image of its result is the 2-D call's on that
# image of the array.
# fmt: off
CASES = [
    ("uint8", UP, U8, {}, None, None),
    ("uint16", UP, U16, {}, None, None),
    ("uint8 maxval 200", UP, U8 * 200 // 255, {"maxval": 200}, None, None),
    ("uint16 maxval 4095", UP, U16, {"maxval": 4095}, None, None),
    ("uint16 maxval 1", UP, U16 % 2, {"maxval": 1}, None, None),
    ("big-endian", UP, U16.astype(BIG_ENDIAN), {"maxval": 4095}, None, None),
    ("(H, W, C)", UP, numpy.moveaxis(STACK, 0, 2), {}, None, None),
    ("(Z, Y, X) axes (1, 2)", UP, STACK, {"axes": (1, 2)}, None, None),
    ("(Z, Y, X) axes (-2, -1)", UP, STACK, {"axes": (-2, -1)}, None, None),
    ("(Y, Z, X) axes (0, 2)", UP, numpy.moveaxis(STACK, 0, 1), {"axes": (0, 2)}, None, None),
    ("transposed", UP, U16, {"axes": (1, 0)}, None, None),
    ("5-D", UP, random_stack((2, 3, 9, 8), 300).reshape(2, 3, 9, 1, 8), {"axes": (2, -1)}, None,
     None),
    ("threads past an int", UP, U8, {"threads": 2**40}, None, None),
    ("region of a stack", REGION, STACK, {"axes": (1, 2), "maxval": 65535}, None, None),
    ("region (H, W, C)", REGION, numpy.moveaxis(STACK, 0, 2), {}, None, None),
    ("region big-endian", REGION, U16.astype(BIG_ENDIAN), {"maxval": 4095}, None, None),
    ("uint32", UP, U8.astype(numpy.uint32), {}, TypeError, "dtype uint32"),
    ("int16", REGION, U8.astype(numpy.int16), {}, TypeError, "dtype int16"),
    ("maxval 300 for uint8", UP, U8, {"maxval": 300}, ValueError, "maxval 300 does not fit uint8"),
    ("maxval 0", UP, U16, {"maxval": 0}, ValueError, r"maxval 0 .* 1\.\.65535"),
    ("maxval negative", REGION, U16, {"maxval": -1}, ValueError, r"1\.\.65535"),
    ("maxval past 16 bits", UP, U16, {"maxval": 65536}, ValueError, r"1\.\.65535"),
    ("maxval float", UP, U16, {"maxval": 4095.0}, TypeError, "maxval must be an integer"),
    ("maxval text", REGION, U16, {"maxval": "4095"}, TypeError, "not str"),
    ("sample above maxval", UP, with_sample(U16, 4096), {"maxval": 4095}, ValueError,
     "above maxval=4095"),
    ("sample above maxval, region", REGION, with_sample(U8, 201), {"maxval": 200}, ValueError,
     "above maxval=200"),
    ("sample above maxval, big-endian", UP, with_sample(U16, 4096).astype(BIG_ENDIAN),
     {"maxval": 4095}, ValueError, "above maxval=4095"),
    ("4-D without axes", UP, STACK[None], {}, ValueError, "name the two axes"),
    ("1-D with axes", UP, U8[0], {"axes": (0, -1)}, ValueError, "2 dimensions or more"),
    ("axes twice the same", UP, STACK, {"axes": (2, -1)}, ValueError, "same axis"),
    ("axes past the array", UP, STACK, {"axes": (1, 3)}, ValueError, "not axes of image"),
    ("axes of floats", UP, STACK, {"axes": (1.0, 2)}, TypeError, "2 integers"),
    ("three axes", UP, STACK, {"axes": (0, 1, 2)}, ValueError, "2 integers, not 3"),
    ("empty stack", UP, STACK[:0], {"axes": (1, 2)}, ValueError, "axis 0 has length 0"),
    ("stack of thin images", UP, STACK[:, :2], {"axes": (1, 2)}, ValueError, "each side"),
    ("out big-endian", UP, U16, {"out": numpy.empty((18, 16), BIG_ENDIAN)}, ValueError,
     "machine's byte order"),
    ("out uint8 for uint16", UP, U16, {"out": numpy.empty((18, 16), numpy.uint8)}, ValueError,
     "dtype uint16, not uint8"),
    ("out of a stack", UP, STACK, {"axes": (1, 2), "out": numpy.empty((6, 18, 16), numpy.uint16)},
     ValueError, r"shape \(3, 18, 16\)"),
]
if dask_array is not None:
    lazy = dask_array.from_array
    CASES += [
        ("dask stack", DASK, lazy(STACK, chunks=(2, 4, 5)), {"axes": (-2, -1)}, None, None),
        ("dask (H, W, C)", DASK, lazy(numpy.moveaxis(STACK, 0, 2), chunks=(5, 3, 1)), {}, None,
         None),
        ("dask big-endian", DASK, lazy(U16.astype(BIG_ENDIAN), chunks=4), {"maxval": 4095}, None,
         None),
        ("dask empty chunk", DASK, lazy(U8, chunks=((0, 9), (8,))), {}, ValueError,
         "size 0 along axis 0"),
        ("dask unknown chunks", DASK, lazy(U8, 3)[lazy(U8[:, 0], 3) < 9], {}, ValueError,
         r"compute_chunk_sizes\(\)"),
        ("dask fractional threads", DASK, lazy(U8), {"threads": 1.5}, TypeError, "float"),
        ("dask negative threads", DASK, lazy(U8), {"threads": -2}, ValueError, "not -2"),
        ("dask maxval", DASK, lazy(U8), {"maxval": 256}, ValueError, "does not fit uint8"),
        ("dask axes", DASK, lazy(STACK), {"axes": (0, 0)}, ValueError, "same axis"),
        ("dask dtype", DASK, lazy(U8.astype(float)), {}, TypeError, r"astype\(numpy\.uint16\)"),
    ]
# fmt: on


@pytest.mark.parametrize("case, call, array, arguments, exception, message", CASES,
                         ids=[row[0] for row in CASES])
def test_dtypes_maxvals_and_axes(case, call, array, arguments, exception, message):
    if exception is not None:
        # Dask's checks come as the graph is built: nothing is computed.
        with pytest.raises(exception, match=message):
            (quillmorph.dask.upscale if call is DASK else call)(array, **arguments)
        return
    result = call(array, **arguments)
    array = numpy.asarray(array)
    axes = arguments.get("axes") or (0, 1)
    assert result.dtype == array.dtype.newbyteorder("=")
    images = numpy.moveaxis(array, axes, (-2, -1))
    results = numpy.moveaxis(result, axes, (-2, -1))
    assert results.shape == images.shape[:-2] + (2 * images.shape[-2], 2 * images.shape[-1])
    for index in numpy.ndindex(images.shape[:-2]):
        image = numpy.ascontiguousarray(images[index], result.dtype)
        expected = quillmorph.upscale(image, maxval=arguments.get("maxval"))
        assert_array_equal(results[index], expected, f"{case}: image {index}")


def unaligned(stack):
    """A copy of stack whose samples lie at odd addresses."""
    memory = numpy.zeros(stack.nbytes + 1, numpy.uint8)
    memory[1:] = numpy.frombuffer(stack.tobytes(), numpy.uint8)
    return numpy.frombuffer(memory.data, stack.dtype, offset=1).reshape(stack.shape)


# Views with the values of a C-contiguous (Z, Y, X) stack, in every layout.
LAYOUTS = {
    "C order": lambda stack: stack,
    "Fortran order": numpy.asfortranarray,
    "steps": lambda stack: numpy.repeat(numpy.repeat(stack, 2, axis=1), 3, axis=2)[:, ::2, ::3],
    "negative strides": lambda stack: numpy.ascontiguousarray(stack[::-1, :, ::-1])[::-1, :, ::-1],
    "big-endian": lambda stack: stack.astype(BIG_ENDIAN),
    "unaligned": unaligned,
}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_every_layout_of_a_stack_gives_each_images_samples(layout):
    stack = random_stack((3, 128, 96), 65535, seed=11)
    view = LAYOUTS[layout](stack)
    out = numpy.empty((3, 256, 192), numpy.uint16)
    tracemalloc.start()
    try:
        quillmorph.upscale(view, axes=(-2, -1), out=out, threads=2)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    # numpy reports its allocations: not even one image is copied.
    assert peak < stack[0].nbytes // 4
    for index, image in enumerate(stack):
        assert_array_equal(out[index], quillmorph.upscale(image), f"image {index}")


@pytest.mark.parametrize("shape", [(3, 3), (24, 31), (2, 50, 37)], ids=str)
def test_uint8_images_give_the_same_samples_as_uint16(shape):
    image = random_stack(shape, seed=4)
    deep = quillmorph.upscale(image.astype(numpy.uint16), maxval=255, axes=(-2, -1))
    assert deep.dtype == numpy.uint16
    assert_array_equal(deep, quillmorph.upscale(image, axes=(-2, -1)))


@pytest.mark.parametrize("layout", LAYOUTS)
def test_a_sample_above_the_maxval_leaves_out_as_it_was(layout):
    stack = random_stack((2, 40, 30), 4095, seed=9)
    stack[1, 30, 10] = 4096  # below the rows that a row-by-row call writes first
    for images in (stack[1:], stack):  # one image, and a stack whose first image is fine
        out = numpy.full((len(images), 80, 60), 7, numpy.uint16)
        with pytest.raises(ValueError, match="above maxval=4095"):
            quillmorph.upscale(LAYOUTS[layout](images), axes=(-2, -1), maxval=4095, out=out)
        assert (out == 7).all(), f"{layout}, {len(images)} images"


def test_uint16_windows_and_out_at_odd_addresses_give_the_whole_images_samples():
    image = random_stack((8, 9), 65535, seed=6)
    whole = quillmorph.upscale(unaligned(image))
    out = unaligned(numpy.zeros((16, 18), numpy.uint16))
    quillmorph.upscale_region(unaligned(image), window_origin=(0, 0), image_shape=(8, 9),
                              region=(0, 0, 16, 18), out=out)
    assert_array_equal(out, whole, "upscale_region")
    if dask_array is not None:
        lazy = dask_array.from_array(unaligned(image), chunks=(4, 5))
        assert_array_equal(quillmorph.dask.upscale(lazy).compute(scheduler="sync"), whole, "Dask")
