"""PNG, JPEG, WebP and the plain PNM kinds through Pillow, which decodes
and encodes whole images only; 16-bit colour PNG through png16."""

from typing import Any, BinaryIO, Dict, Iterator, List, Optional, Tuple

import numpy

from . import png16
from .dependencies import require
from .picture import Page, Picture, Resolution

# Pillow's names of the formats this module writes.
FORMATS = {"png": "PNG", "jpeg": "JPEG", "webp": "WEBP"}
# What each mode becomes, and the note that says so; modes not here and
# not deep are refused.
CONVERTED = {
    "1": ("L", "a bilevel image, written as 8-bit gray"),
    "P": ("RGB", "a palette image, written as RGB"),
    "PA": ("RGBA", "a palette image with alpha, written as RGBA"),
    "CMYK": ("RGB", "a CMYK image, written as RGB"),
    "YCbCr": ("RGB", "a YCbCr image, written as RGB"),
    "LAB": ("RGB", "a Lab image, written as RGB"),
    "HSV": ("RGB", "an HSV image, written as RGB"),
}
KEPT = ("L", "LA", "RGB", "RGBA")
DEEP_GRAY = ("I;16", "I;16L", "I;16B", "I;16N", "I")
JPEG_QUALITY = 95  # Pillow's default of 75 would lose more than the upscale gains
CENTIMETRES_PER_INCH = 2.54


CHANNELS = {"L": 1, "LA": 2, "RGB": 3, "RGBA": 4}


def read(path: str, head: bytes) -> Picture:
    """The picture, from the file's header: its samples are decoded when
    its page's bands are taken."""
    Image = require("PIL.Image")
    # The user names the files: Pillow's guard against decompression bombs
    # would refuse the large images this command is for.
    Image.MAX_IMAGE_PIXELS = None
    with Image.open(path) as image:
        notes = []
        if getattr(image, "n_frames", 1) > 1:
            notes.append(f"only the first of its {image.n_frames} frames is written")
        if png16.is_deep_colour(head):
            mode, dtype = "RGBA" if png16.has_alpha(head) else "RGB", numpy.dtype(numpy.uint16)
            notes += png16.notes(head)
        else:
            mode, dtype = _mode(image, notes), numpy.dtype(numpy.uint8)
            if mode in DEEP_GRAY:
                mode, dtype = "L", numpy.dtype(numpy.uint16)
        width, height = image.size
        dpi = image.info.get("dpi")
        resolution = Resolution(float(dpi[0]), float(dpi[1]), "inch") if dpi else None
        icc_profile, exif = image.info.get("icc_profile"), image.info.get("exif")
    channels = CHANNELS[mode]
    shape = (height, width) + ((channels,) if channels > 1 else ())

    def bands() -> Iterator[numpy.ndarray]:
        if dtype == numpy.uint16 and channels > 1:
            yield png16.read_samples(path)
            return
        with Image.open(path) as image:
            samples = _samples(image, mode, dtype)
        yield samples  # with Pillow's copy closed: the image is held once

    return Picture([Page(shape, dtype, bands)], int(numpy.iinfo(dtype).max), resolution,
                   icc_profile or None, exif or None, notes=notes)


def _mode(image: Any, notes: List[str]) -> str:
    """The mode the image is read in; notes say what changes."""
    mode = image.mode
    if mode in CONVERTED:
        target, note = CONVERTED[mode]
        if mode == "P" and "transparency" in image.info:
            target, note = "RGBA", "a palette image with transparency, written as RGBA"
        notes.append(note)
        return target
    if mode in KEPT or mode in DEEP_GRAY:
        return mode
    raise ValueError(f"it holds {mode} samples, and the command takes 8- and 16-bit gray, "
                     "gray+alpha, RGB and RGBA images")


def _samples(image: Any, mode: str, dtype: numpy.dtype) -> numpy.ndarray:
    if dtype == numpy.uint16:
        samples = numpy.asarray(image)
        # Pillow holds 16-bit gray PNG files as 32-bit "I".
        if samples.min() < 0 or samples.max() > 65535:
            raise ValueError("it holds samples beyond 16 bits")
        return samples.astype(numpy.uint16)
    return numpy.asarray(image if image.mode == mode else image.convert(mode))


def write(file: BinaryIO, picture: Picture, format_name: str) -> None:
    samples = picture.pages[0].whole()
    channels = 1 if samples.ndim == 2 else samples.shape[2]
    deep = samples.dtype == numpy.uint16
    if format_name == "png" and deep and channels > 1:
        file.write(png16.encode(picture, samples))
        return
    _check_fits(format_name, deep, channels)
    Image = require("PIL.Image")
    image = Image.fromarray(samples)
    image.save(file, format=FORMATS[format_name], **_save_options(picture, format_name))


def _check_fits(format_name: str, deep: bool, channels: int) -> None:
    if deep and format_name in ("jpeg", "webp"):
        raise ValueError(f"{format_name.upper()} holds 8-bit samples and this image has 16: "
                         "write PNG, TIFF or PNM to keep them")
    if format_name == "jpeg" and channels in (2, 4):
        raise ValueError("JPEG holds no alpha channel: write PNG, TIFF, WebP or PNM to keep it")
    if format_name == "webp" and channels in (1, 2):
        raise ValueError("WebP holds RGB and RGBA images only: write PNG, TIFF or PNM to keep "
                         "the gray image as it is")


def _save_options(picture: Picture, format_name: str) -> Dict[str, Any]:
    options: Dict[str, Any] = {}
    dpi = _dpi(picture.resolution)
    if dpi and format_name in ("png", "jpeg"):
        options["dpi"] = dpi
    if picture.icc_profile:
        options["icc_profile"] = picture.icc_profile
    if picture.exif:
        options["exif"] = picture.exif
    if format_name == "jpeg":
        options["quality"] = JPEG_QUALITY
    if format_name == "webp":
        options.update(lossless=True, exact=True)  # exact: the RGB under transparent pixels too
    return options


def _dpi(resolution: Optional[Resolution]) -> Optional[Tuple[float, float]]:
    if resolution is None or resolution.unit is None:
        return None
    factor = CENTIMETRES_PER_INCH if resolution.unit == "cm" else 1
    return (resolution.x * factor, resolution.y * factor)
