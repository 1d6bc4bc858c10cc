"""Regions: any rectangle of the output from the window it needs is the
whole image's, a window one pixel short is refused, and wrong arguments say
what was expected."""

import numpy
import pytest

import quillmorph
from conftest import random_image

HALO = quillmorph.HALO


def needed(region, shape):
    """The LR window (y, x, height, width) a region depends on."""
    y, x, height, width = region
    top, left = max(0, y // 2 - HALO), max(0, x // 2 - HALO)
    bottom = min(shape[0] - 1, (y + height - 1) // 2 + HALO)
    right = min(shape[1] - 1, (x + width - 1) // 2 + HALO)
    return top, left, bottom - top + 1, right - left + 1


def from_window(image, window, region, **options):
    y, x, height, width = window
    return quillmorph.upscale_region(
        image[y : y + height, x : x + width], window_origin=(y, x), image_shape=image.shape,
        region=region, **options,
    )


def regions(shape, rng):
    """Anywhere, at each border and corner, single pixels, the whole output."""
    out_h, out_w = 2 * shape[0], 2 * shape[1]
    y, x = int(rng.integers(out_h)), int(rng.integers(out_w))
    h, w = int(rng.integers(1, out_h - y + 1)), int(rng.integers(1, out_w - x + 1))
    return [
        (y, x, h, w), (0, x, h if h < out_h else out_h, w), (out_h - h, 0, h, min(w, out_w)),
        (0, out_w - w, h, w), (out_h - 1, out_w - 1, 1, 1), (y, x, 1, 1), (0, 0, out_h, out_w),
    ]


@pytest.mark.parametrize("shape", [(3, 3), (3, 40), (25, 4), (31, 37), (64, 50)])
def test_every_region_from_its_window_is_the_whole_images(shape):
    rng = numpy.random.default_rng(shape[0] * 100 + shape[1])
    image = random_image(*shape, seed=shape[1])
    whole = quillmorph.upscale(image)
    for region in regions(shape, rng):
        y, x, h, w = region
        window = needed(region, shape)
        numpy.testing.assert_array_equal(
            from_window(image, window, region, threads=1 + region[0] % 3), whole[y : y + h, x : x + w],
            err_msg=f"region {region}",
        )
        top, left, wh, ww = window
        short = [(top + 1, left, wh - 1, ww), (top, left, wh, ww - 1)]
        clipped = [top == 0, left + ww == shape[1]]
        for window_short, is_clipped in zip(short, clipped):
            if not is_clipped:
                with pytest.raises(ValueError, match="does not hold every pixel"):
                    from_window(image, window_short, region)


def test_windows_in_any_layout_and_out():
    image = random_image(40, 30, seed=3)
    whole = quillmorph.upscale(image)
    fortran = numpy.asfortranarray(image)
    out = numpy.empty((10, 12), numpy.uint8)
    result = quillmorph.upscale_region(
        fortran, window_origin=(0, 0), image_shape=image.shape, region=(20, 5, 10, 12), out=out
    )
    assert result is out
    numpy.testing.assert_array_equal(out, whole[20:30, 5:17])


IMAGE = numpy.zeros((20, 20), numpy.uint8)


# (case, arguments changed, exception, message pattern)
WRONG_REGIONS = [
    ("dtype", {"window": IMAGE.astype(numpy.int16)}, TypeError, r"window\.astype\(numpy\.uint8\)"),
    ("4-D window", {"window": numpy.zeros((20, 20, 3, 2), numpy.uint8)}, ValueError, "2 dimensions"),
    ("small image", {"window": IMAGE[:2, :2], "image_shape": (2, 2)}, ValueError, "each side"),
    ("origin not a pair", {"window_origin": (0,)}, ValueError, "2 integers"),
    ("origin of floats", {"window_origin": (0.5, 0)}, TypeError, "integers"),
    ("window past the image", {"window_origin": (1, 0)}, ValueError, "does not fit an image"),
    ("region past the output", {"region": (30, 0, 11, 4)}, ValueError, "does not fit the output"),
    ("empty region", {"region": (0, 0, 0, 4)}, ValueError, "does not fit the output"),
    ("image past an int", {"image_shape": (2**40, 20)}, ValueError, "sizes the library addresses"),
    ("window short of the halo", {"window": IMAGE[:8, :8]}, ValueError, "HALO = 7"),
    ("negative threads", {"threads": -1}, ValueError, "threads"),
    ("out of the wrong shape", {"out": numpy.zeros((4, 5), numpy.uint8)}, ValueError, r"\(4, 4\)"),
]


@pytest.mark.parametrize("case,changes,error,message", WRONG_REGIONS, ids=[c[0] for c in WRONG_REGIONS])
def test_wrong_arguments(case, changes, error, message):
    arguments = {"window": IMAGE, "window_origin": (0, 0), "image_shape": (20, 20),
                 "region": (0, 0, 4, 4), **changes}
    window = arguments.pop("window")
    with pytest.raises(error, match=message):
        quillmorph.upscale_region(window, **arguments)
