"""16-bit colour PNG files, which Pillow cannot hold (it reads them as
8-bit), through OpenCV; the metadata that OpenCV neither reads nor writes
(resolution, colour profile, EXIF) comes from Pillow on reading and goes in
as chunks after the header on writing."""

import struct
import zlib
from typing import List, Optional

import numpy

from .dependencies import require
from .picture import Picture, Resolution

SIGNATURE = b"\x89PNG\r\n\x1a\n"
# Where the header chunk ends: the signature, then IHDR's length, type,
# 13 bytes of data and CRC.
HEADER_END = len(SIGNATURE) + 4 + 4 + 13 + 4
# The IHDR colour types whose 16-bit samples Pillow turns to 8 bits.
COLOUR_TYPES = {4: "gray+alpha", 2: "RGB", 6: "RGBA"}
INCHES_PER_METRE = 1 / 0.0254
CENTIMETRES_PER_METRE = 100
EXIF_PREFIX = b"Exif\x00\x00"


def is_deep_colour(head: bytes) -> bool:
    """Whether a PNG file starting with head holds 16-bit samples with
    colour or alpha."""
    return head.startswith(SIGNATURE) and head[24:25] == b"\x10" and head[25] in COLOUR_TYPES


def has_alpha(head: bytes) -> bool:
    """Whether the deep colour PNG is read with alpha (as RGBA)."""
    return COLOUR_TYPES[head[25]] != "RGB"


def notes(head: bytes) -> List[str]:
    if COLOUR_TYPES[head[25]] != "gray+alpha":
        return []
    # OpenCV writes no 16-bit gray+alpha PNG: the gray is kept thrice.
    return ["a 16-bit gray+alpha PNG image, written as 16-bit RGBA (OpenCV, which writes "
            "16-bit colour PNG files, has no gray+alpha)"]


def read_samples(path: str) -> numpy.ndarray:
    """The samples as (height, width, channels) uint16, in RGB(A) order;
    gray+alpha as RGBA."""
    cv2 = require("cv2")
    image = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if image is None or image.dtype != numpy.uint16 or image.ndim != 3:
        raise ValueError("OpenCV could not decode it as a 16-bit colour PNG file")
    return numpy.ascontiguousarray(image[..., [2, 1, 0, 3][: image.shape[2]]])  # from BGR(A)


def encode(picture: Picture, samples: numpy.ndarray) -> bytes:
    """A PNG file of 16-bit colour samples (channels 3 or 4), with the
    picture's metadata."""
    cv2 = require("cv2")
    bgr = samples[..., [2, 1, 0, 3][: samples.shape[2]]]
    done, encoded = cv2.imencode(".png", numpy.ascontiguousarray(bgr))
    if not done:
        raise ValueError("OpenCV could not encode a 16-bit PNG file")
    chunks = _metadata_chunks(picture)
    data = encoded.tobytes()
    return data[:HEADER_END] + b"".join(chunks) + data[HEADER_END:]


def _chunk(kind: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def _metadata_chunks(picture: Picture) -> List[bytes]:
    chunks = []
    if picture.resolution:
        chunks.append(_chunk(b"pHYs", _physical(picture.resolution)))
    if picture.icc_profile:
        chunks.append(_chunk(b"iCCP", b"ICC profile\x00\x00" + zlib.compress(picture.icc_profile)))
    if picture.exif:
        exif = picture.exif
        chunks.append(_chunk(b"eXIf", exif[len(EXIF_PREFIX):] if exif.startswith(EXIF_PREFIX)
                             else exif))
    return chunks


def _physical(resolution: Resolution) -> bytes:
    per_metre: Optional[float] = {"inch": INCHES_PER_METRE, "cm": CENTIMETRES_PER_METRE}.get(
        resolution.unit or "")
    unit = 1 if per_metre else 0
    scale = per_metre or 1
    return struct.pack(">IIB", round(resolution.x * scale), round(resolution.y * scale), unit)
