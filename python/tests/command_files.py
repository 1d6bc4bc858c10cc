"""Image files made on the fly for the qmorph tests, written and read by
Pillow, OpenCV, tifffile and a few lines for PNM headers, never by the
command's own readers; and the command itself, run as a program."""

import os
import subprocess
import sys

import numpy
import pytest

from conftest import random_channels, random_stack

Image = pytest.importorskip("PIL.Image", reason="Pillow is not installed (python3-pil)")
tifffile = pytest.importorskip("tifffile", reason="tifffile is not installed (python3-tifffile)")
cv2 = pytest.importorskip("cv2", reason="OpenCV is not installed (python3-opencv)")

PNM_MAGICS = {1: b"P5", 3: b"P6"}
PAM_TUPLE_TYPES = {2: b"GRAYSCALE_ALPHA", 4: b"RGB_ALPHA"}


def qmorph(*arguments, cwd, **options):
    """The command's run: QUILLMORPH_QMORPH (the installed script) where
    set, python -m quillmorph otherwise."""
    installed = os.environ.get("QUILLMORPH_QMORPH")
    command = [installed] if installed else [sys.executable, "-m", "quillmorph"]
    return subprocess.run(command + [str(argument) for argument in arguments], cwd=cwd,
                          capture_output=True, text=True, **options)


def samples(shape, maxval, seed=0):
    """(H, W) or (H, W, C) samples 0..maxval, uint16 past 255, channels unlike."""
    if len(shape) == 2:
        return random_stack(shape, maxval, seed)
    image = random_channels(shape[0], shape[1], shape[2], seed).astype(numpy.uint32)
    return (image * maxval // 255).astype(numpy.uint8 if maxval <= 255 else numpy.uint16)


def write_pillow(path, image, **options):
    Image.fromarray(image).save(path, **options)


def write_opencv(path, image):
    assert cv2.imwrite(str(path), image[..., [2, 1, 0, 3][: image.shape[2]]])


def write_pnm(path, image, maxval):
    height, width = image.shape[:2]
    channels = 1 if image.ndim == 2 else image.shape[2]
    if channels in PNM_MAGICS:
        header = b"%s\n# made by a test\n%d %d\n%d\n" % (PNM_MAGICS[channels], width, height,
                                                          maxval)
    else:
        header = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (
            width, height, channels, maxval, PAM_TUPLE_TYPES[channels])
    path.write_bytes(header + image.astype(image.dtype.newbyteorder(">")).tobytes())


def write_tiff(path, image, **options):
    if image.ndim == 3 and image.shape[2] in (2, 4):
        options.setdefault("extrasamples", ("unassalpha",))
    if image.ndim == 3 and image.shape[2] == 2:
        options.update(photometric="minisblack", planarconfig="contig")
    tifffile.imwrite(path, image, **options)


def read_pillow(path):
    with Image.open(path) as image:
        array = numpy.asarray(image)
        return array.astype(numpy.uint16) if image.mode == "I" else array


def read_opencv(path):
    image = cv2.imread(str(path), cv2.IMREAD_UNCHANGED)
    assert image is not None, f"OpenCV cannot read {path}"
    if image.ndim == 3 and image.shape[2] >= 3:
        return image[..., [2, 1, 0, 3][: image.shape[2]]]
    return image


def read_tiff(path, photometric=None):
    """The pages' samples; photometric, when given, is checked."""
    with tifffile.TiffFile(path) as tiff:
        if photometric:
            assert tiff.pages[0].photometric.name == photometric
        return tiff.asarray()


def pnm_maxval(path):
    """The maxval a PNM file's header states."""
    data = path.read_bytes()
    if data.startswith(b"P7"):
        return int(data.split(b"MAXVAL")[1].split()[0])
    return int(data.split(maxsplit=4)[3])
