"""quillmorph.upscale writes the tool's bytes for every image, layout,
thread count and number of channels, and never modifies its input."""

import tracemalloc

import numpy
import pytest
from numpy.testing import assert_array_equal

import quillmorph
from conftest import random_channels, random_image

# (height, width): the smallest image, thin ones both ways, sides around the
# 4-tap filter's and the estimators' reach, and images taller than the
# engine's row rings (48 HR rows).
SIZES = [(3, 3), (3, 40), (40, 3), (4, 5), (5, 4), (7, 9), (24, 31), (50, 37), (97, 13), (13, 97)]
THREADS = [1, 3]


def embedded(image, row_step, column_step):
    """A view of image's values inside a larger array, every row_step-th row
    and column_step-th column, the bytes around it set."""
    height, width = image.shape
    outer = numpy.full((height * row_step + 1, width * column_step + 2), 77, numpy.uint8)
    view = outer[1::row_step, 2::column_step][:height, :width]
    view[...] = image
    return view


def read_only(image):
    copy = image.copy()
    copy.setflags(write=False)
    return copy


# Views with the values of a C-contiguous 2-D image, in every layout.
LAYOUTS = {
    "C order": lambda image: image,
    "Fortran order": numpy.asfortranarray,
    "rows apart": lambda image: embedded(image, 1, 1),
    "steps both ways": lambda image: embedded(image, 2, 3),
    "negative strides": lambda image: numpy.ascontiguousarray(image[::-1, ::-1])[::-1, ::-1],
    "rows bottom up": lambda image: numpy.ascontiguousarray(image[::-1])[::-1],
    "read-only": read_only,
}

# The same for (H, W, C) images.
LAYOUTS_3D = {
    "C order": lambda image: image,
    "Fortran order": numpy.asfortranarray,
    "planar": lambda image: numpy.moveaxis(
        numpy.ascontiguousarray(numpy.moveaxis(image, 2, 0)), 0, 2
    ),
    "channels reversed": lambda image: numpy.ascontiguousarray(image[:, :, ::-1])[:, :, ::-1],
    "negative strides": lambda image: numpy.ascontiguousarray(image[::-1, ::-1, ::-1])[
        ::-1, ::-1, ::-1
    ],
    "read-only": read_only,
}


@pytest.mark.parametrize("threads", THREADS)
@pytest.mark.parametrize("size", SIZES, ids=str)
def test_random_images_give_the_tools_bytes(tool_upscale, size, threads):
    image = random_image(*size, seed=sum(size))
    assert_array_equal(quillmorph.upscale(image, threads=threads), tool_upscale(image))


@pytest.mark.parametrize("threads", [1, 2])
def test_chart_gives_the_tools_bytes(tool_upscale, chart, threads):
    assert_array_equal(quillmorph.upscale(chart, threads=threads), tool_upscale(chart))


@pytest.mark.parametrize("threads", THREADS)
@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("size", [(3, 3), (40, 3), (3, 40), (50, 37)], ids=str)
def test_every_layout_gives_the_same_bytes(tool_upscale, size, layout, threads):
    image = random_image(*size, seed=1)
    view = LAYOUTS[layout](image)
    before = view.copy()
    result = quillmorph.upscale(view, threads=threads)
    assert result.flags.c_contiguous
    assert_array_equal(result, tool_upscale(image))
    assert_array_equal(view, before)


@pytest.mark.parametrize("threads", THREADS)
@pytest.mark.parametrize("layout", LAYOUTS_3D)
@pytest.mark.parametrize("shape", [(3, 3, 1), (3, 40, 2), (40, 3, 3), (30, 27, 4)], ids=str)
def test_each_channel_is_upscaled_on_its_own(tool_upscale, shape, layout, threads):
    image = random_channels(*shape, seed=5)
    view = LAYOUTS_3D[layout](image)
    before = view.copy()
    result = quillmorph.upscale(view, threads=threads)
    assert result.shape == (2 * shape[0], 2 * shape[1], shape[2])
    for channel in range(shape[2]):
        assert_array_equal(
            result[:, :, channel], tool_upscale(image[:, :, channel]), f"channel {channel}"
        )
    assert_array_equal(view, before)


@pytest.mark.parametrize("shape", [(9, 11), (9, 11, 3)], ids=str)
def test_out_is_written_and_returned(shape):
    image = random_channels(*shape[:2], 3, seed=2) if len(shape) == 3 else random_image(*shape)
    out = numpy.zeros((18, 22) + shape[2:], numpy.uint8)
    assert quillmorph.upscale(image, out=out) is out
    assert_array_equal(out, quillmorph.upscale(image))


@pytest.mark.parametrize("convert", [memoryview, list], ids=["buffer", "list of uint8 rows"])
def test_what_numpy_asarray_takes_is_taken(convert):
    image = random_image(5, 6)
    assert_array_equal(quillmorph.upscale(convert(image)), quillmorph.upscale(image))


@pytest.mark.parametrize("layout", sorted(set(LAYOUTS) | {"3 channels"}))
def test_no_layout_costs_a_copy_of_the_image(layout):
    # numpy reports its allocations to tracemalloc: a copy of the image
    # would show as a peak of its size.
    image = random_image(512, 512)
    view = random_channels(512, 512, 3) if layout == "3 channels" else LAYOUTS[layout](image)
    out = numpy.empty((1024, 1024) + view.shape[2:], numpy.uint8)
    tracemalloc.start()
    try:
        quillmorph.upscale(view, out=out, threads=2)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < image.nbytes // 8
