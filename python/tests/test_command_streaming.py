"""The command's streaming: readers that give bands, and the band-by-band
upscale, which must give the whole-image samples for any band heights."""

import numpy
import pytest
from numpy.testing import assert_array_equal

import quillmorph
from command_files import samples, write_pnm, write_tiff
from quillmorph.cli import pnm, tiff_codec, upscaling
from quillmorph.cli.picture import Page

SIDES = (40, 23)


def in_bands(image, heights):
    """image's rows, in bands of the given heights in turn."""
    top, turn = 0, 0
    while top < len(image):
        height = heights[turn % len(heights)]
        yield image[top : top + height]
        top, turn = top + height, turn + 1


@pytest.mark.parametrize("heights", [[1], [2, 5], [7], [39, 1], [40]], ids=str)
def test_bands_of_any_heights_give_the_whole_images_samples(heights, monkeypatch):
    monkeypatch.setattr(upscaling, "REGION_ROWS", 6)  # many regions, each past a band's end
    image = samples(SIDES + (3,), 4095, seed=len(heights))
    rows = []
    bands = upscaling.upscale_bands(in_bands(image, heights), SIDES, 4095, 1, rows.append)
    assert_array_equal(numpy.concatenate(list(bands)), quillmorph.upscale(image, maxval=4095))
    assert sum(rows) == 2 * SIDES[0]


def test_three_doublings_of_a_streamed_page_are_three_calls():
    image = samples(SIDES, 255, seed=3)
    page = Page(image.shape, image.dtype, lambda: in_bands(image, [3]))
    rows = []
    result = upscaling.upscale_page(page, 3, 255, 2, rows.append)
    expected = quillmorph.upscale(quillmorph.upscale(quillmorph.upscale(image)))
    assert result.shape == expected.shape
    assert_array_equal(numpy.concatenate(list(result.bands())), expected)
    assert sum(rows) == upscaling.work_rows(SIDES[0], 3) == (80 + 160 + 320)


def test_a_stream_that_ends_early_is_refused():
    image = samples(SIDES, 255)
    with pytest.raises(ValueError, match="ended after 30 of its 40 rows"):
        list(upscaling.upscale_bands(iter([image[:30]]), SIDES, 255, 1, lambda rows: None))


def test_pnm_and_strip_wise_tiff_are_read_in_bands(tmp_path, monkeypatch):
    monkeypatch.setattr(pnm, "BAND_BYTES", 5 * SIDES[1] * 2 * 2)  # five rows of gray+alpha
    image = samples(SIDES + (2,), 1000)
    write_pnm(tmp_path / "in.pam", image, 1000)
    write_tiff(tmp_path / "in.tif", image, rowsperstrip=3)
    for picture in (pnm.read(str(tmp_path / "in.pam")), tiff_codec.read(str(tmp_path / "in.tif"))):
        bands = list(picture.pages[0].bands())
        assert len(bands) > 5
        assert_array_equal(numpy.concatenate(bands), image)
