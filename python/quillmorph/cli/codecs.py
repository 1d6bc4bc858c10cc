"""Which reader and writer a file goes to: readers by the file's first
bytes, writers by the output's format."""

import os
from typing import BinaryIO, Optional

from . import pillow_codec, pnm, tiff_codec
from .dependencies import require
from .picture import Picture

# The formats the command writes, and the extensions that name each; the
# first one is given to outputs named after their input with --format.
EXTENSIONS = {
    "png": (".png",),
    "tiff": (".tif", ".tiff"),
    "jpeg": (".jpg", ".jpeg", ".jpe"),
    "pnm": (".pnm", ".pgm", ".ppm", ".pam"),
    "webp": (".webp",),
}
TIFF_MAGICS = (b"II*\x00", b"MM\x00*", b"II+\x00", b"MM\x00+")
HEAD_BYTES = 64  # enough for every magic number and PNG's header chunk


def format_of(path: str) -> Optional[str]:
    """The format an output path's extension names, or None."""
    extension = os.path.splitext(path)[1].lower()
    for name, extensions in EXTENSIONS.items():
        if extension in extensions:
            return name
    return None


def read(path: str) -> Picture:
    with open(path, "rb") as file:
        head = file.read(HEAD_BYTES)
    if head[:4] in TIFF_MAGICS:
        return tiff_codec.read(path)
    if pnm.is_binary_pnm(head):
        return pnm.read(path)
    Image = require("PIL.Image")
    try:
        return pillow_codec.read(path, head)
    except Image.UnidentifiedImageError:
        raise ValueError("it is not an image file the command reads (PNG, JPEG, TIFF, PNM, "
                         "WebP)") from None


def write(file: BinaryIO, picture: Picture, format_name: str) -> None:
    if len(picture.pages) > 1 and format_name != "tiff":
        raise ValueError(f"it has {len(picture.pages)} pages, and {format_name.upper()} holds "
                         "one image: write TIFF to keep them all")
    if format_name == "tiff":
        tiff_codec.write(file, picture)
    elif format_name == "pnm":
        pnm.write(file, picture)
    else:
        pillow_codec.write(file, picture, format_name)
