"""qmorph on every format, depth and channel layout it keeps: the output is
quillmorph.upscale of the decoded input, byte for byte, in the input's
depth and channels; and what it keeps besides the samples."""

import numpy
import pytest
from numpy.testing import assert_array_equal

import quillmorph
from command_files import (Image, pnm_maxval, qmorph, read_opencv, read_pillow, read_tiff,
                           samples, tifffile, write_opencv, write_pillow, write_pnm, write_tiff)

SIDES = (37, 29)


def palette(path, image):
    Image.fromarray(image).convert("P").save(path)


def as_rgb(path):
    with Image.open(path) as image:
        return numpy.asarray(image.convert("RGB"))


# (case, input, channels, maxval, write(path, samples), read input, output, read output)
FORMATS = [
    ("PNG gray 8", "in.png", 1, 255, write_pillow, read_pillow, "out.png", read_pillow),
    ("PNG gray+alpha 8", "in.png", 2, 255, write_pillow, read_pillow, "out.png", read_pillow),
    ("PNG RGB 8", "in.png", 3, 255, write_pillow, read_pillow, "out.png", read_pillow),
    ("PNG RGBA 8", "in.png", 4, 255, write_pillow, read_pillow, "out.png", read_pillow),
    ("PNG gray 16", "in.png", 1, 65535, write_pillow, read_pillow, "out.png", read_pillow),
    ("PNG RGB 16", "in.png", 3, 65535, write_opencv, read_opencv, "out.png", read_opencv),
    ("PNG RGBA 16", "in.png", 4, 65535, write_opencv, read_opencv, "out.png", read_opencv),
    ("PNG palette to RGB", "in.png", 3, 255, palette, as_rgb, "out.png", read_pillow),
    ("JPEG gray to PNG", "in.jpg", 1, 255, write_pillow, read_pillow, "out.png", read_pillow),
    ("JPEG RGB to TIFF", "in.jpg", 3, 255, write_pillow, read_pillow, "out.tif", read_tiff),
    ("PGM 16, maxval 4095", "in.pgm", 1, 4095, write_pnm, read_opencv, "out.pgm", read_opencv),
    ("PPM 16", "in.ppm", 3, 65535, write_pnm, read_opencv, "out.ppm", read_opencv),
    ("PAM gray+alpha 8", "in.pam", 2, 255, write_pnm, read_opencv, "out.pam", read_opencv),
    ("PNM 8 to PNG", "in.pgm", 1, 255, write_pnm, read_opencv, "out.png", read_pillow),
    ("TIFF gray 8, strips of one row", "in.tif", 1, 255,
     lambda path, image: write_tiff(path, image, rowsperstrip=1), read_tiff, "out.tif", read_tiff),
    ("TIFF gray+alpha 8", "in.tif", 2, 255, write_tiff, read_tiff, "out.tif", read_tiff),
    ("TIFF gray 8, 0 is white", "in.tif", 1, 255,
     lambda path, image: write_tiff(path, image, photometric="miniswhite"), read_tiff, "out.tif",
     lambda path: read_tiff(path, photometric="MINISWHITE")),
    ("TIFF RGB 16, deflate", "in.tif", 3, 65535,
     lambda path, image: write_tiff(path, image, compression="zlib"), read_tiff, "out.tif",
     read_tiff),
    ("TIFF RGBA 16, tiled", "in.tif", 4, 65535,
     lambda path, image: write_tiff(path, image, tile=(16, 16)), read_tiff, "out.tif", read_tiff),
    ("TIFF 16 to PNG", "in.tif", 3, 65535, write_tiff, read_tiff, "out.png", read_opencv),
    ("WebP RGBA", "in.webp", 4, 255,
     lambda path, image: write_pillow(path, image, lossless=True, exact=True), read_pillow,
     "out.webp", read_pillow),
]


@pytest.mark.parametrize("case", FORMATS, ids=[row[0] for row in FORMATS])
def test_each_format_gives_upscale_of_its_samples_in_its_depth_and_channels(case, tmp_path):
    name, source, channels, maxval, write, read_input, target, read_output = case
    shape = SIDES if channels == 1 else SIDES + (channels,)
    image = samples(shape, maxval, seed=len(name))
    if write is write_pnm:
        write_pnm(tmp_path / source, image, maxval)
    else:
        write(tmp_path / source, image)
    run = qmorph(source, target, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    decoded = read_input(tmp_path / source)
    result = read_output(tmp_path / target)
    assert result.dtype == decoded.dtype
    assert_array_equal(result, quillmorph.upscale(decoded, maxval=maxval), name)
    if target.endswith((".pgm", ".ppm", ".pam")):
        assert pnm_maxval(tmp_path / target) == maxval
    if "palette" in name:
        assert "palette image, written as RGB" in run.stdout


def test_every_page_of_a_16_bit_tiff_stack_with_its_tags_and_scale_4_as_two_calls(tmp_path):
    stack = numpy.stack([samples(SIDES, 4095, seed) for seed in range(3)])
    profile = b"an ICC profile's bytes"
    with tifffile.TiffWriter(tmp_path / "stack.tif") as tiff:
        for page in stack:
            tiff.write(page, resolution=(300, 300), resolutionunit="INCH", metadata=None,
                       extratags=[(274, "H", 1, 6, True), (281, "H", 1, 4095, True),
                                  (34675, 7, len(profile), profile, True)])
    for arguments in (["stack.tif", "x4.tif", "--scale", "4"], ["stack.tif", "x2.tif"],
                      ["x2.tif", "x2x2.tif"]):
        assert qmorph(*arguments, cwd=tmp_path).returncode == 0
    with tifffile.TiffFile(tmp_path / "x4.tif") as tiff:
        assert len(tiff.pages) == 3
        for page, lr in zip(tiff.pages, stack):
            twice = quillmorph.upscale(quillmorph.upscale(lr, maxval=4095), maxval=4095)
            assert_array_equal(page.asarray(), twice)
            tags = page.tags
            assert tags["XResolution"].value == (1200, 1) and tags["ResolutionUnit"].value == 2
            assert tags["Orientation"].value == 6 and tags["MaxSampleValue"].value == 4095
            assert bytes(tags[34675].value) == profile
    assert_array_equal(read_tiff(tmp_path / "x4.tif"), read_tiff(tmp_path / "x2x2.tif"))


@pytest.mark.parametrize("target", ["out.png", "out.jpg", "out.webp"])
def test_resolution_colour_profile_and_exif_orientation_are_kept(target, tmp_path):
    exif = Image.Exif()
    exif[274] = 8  # the orientation: rotated a quarter turn
    profile = bytes(range(256)) * 2  # any bytes stand for a profile here
    source = tmp_path / "in.jpg"
    write_pillow(source, samples(SIDES + (3,), 255), dpi=(150, 150), icc_profile=profile,
                 exif=exif.tobytes())
    assert qmorph("in.jpg", target, cwd=tmp_path).returncode == 0
    with Image.open(tmp_path / target) as result:
        if not target.endswith(".webp"):  # WebP has no resolution
            assert [round(value) for value in result.info["dpi"]] == [300, 300]
        assert result.info["icc_profile"] == profile
        assert result.getexif()[274] == 8


def test_16_bit_colour_png_keeps_its_tags(tmp_path):
    write_opencv(tmp_path / "in.png", samples(SIDES + (3,), 65535))
    qmorph("in.png", "mid.tif", cwd=tmp_path)
    with tifffile.TiffWriter(tmp_path / "tagged.tif") as tiff:
        tiff.write(read_tiff(tmp_path / "mid.tif"), resolution=(40, 40),
                   resolutionunit="CENTIMETER", extratags=[(34675, 7, 4, b"icc!", True)])
    assert qmorph("tagged.tif", "out.png", cwd=tmp_path).returncode == 0
    with Image.open(tmp_path / "out.png") as result:
        assert [round(value) for value in result.info["dpi"]] == [203, 203]  # 80 per cm
        assert result.info["icc_profile"] == b"icc!"
