"""Binary PNM files (PGM P5, PPM P6, PAM P7), read and written in bands,
at 8 and 16 bits with their maxval: the one format whose whole image never
has to be in memory.  The plain (ASCII) and bitmap kinds go to Pillow."""

import re
from typing import BinaryIO, Iterator, Tuple

import numpy

from .picture import Page, Picture, byte_chunks

MAGICS = (b"P5", b"P6", b"P7")
# Bands of about this many bytes are read and written at a time.
BAND_BYTES = 1 << 22
# The longest header this reader takes: more is not a PNM header.
HEADER_LIMIT = 4096
# The tuple types of P7 files by channel count, and the channel count of P5, P6.
TUPLE_TYPES = {1: b"GRAYSCALE", 2: b"GRAYSCALE_ALPHA", 3: b"RGB", 4: b"RGB_ALPHA"}
PLAIN_CHANNELS = {b"P5": 1, b"P6": 3}

_TOKEN = re.compile(rb"(?:\s|#[^\n]*\n?)*([^\s#]+)")


class PnmError(ValueError):
    pass


def is_binary_pnm(head: bytes) -> bool:
    return head[:2] in MAGICS


def _header(data: bytes) -> Tuple[int, int, int, int, int]:
    """(width, height, channels, maxval, offset of the samples) of a header."""
    magic = data[:2]
    if magic == b"P7":
        fields, position = {}, 2
        while True:
            line_end = data.find(b"\n", position)
            if line_end < 0:
                raise PnmError("its PAM header has no ENDHDR line")
            words = data[position:line_end].split(b"#")[0].split()
            position = line_end + 1
            if words[:1] == [b"ENDHDR"]:
                break
            if words:
                fields[words[0]] = words[1:]
        try:
            width, height, channels, maxval = (int(fields[key][0]) for key in
                                               (b"WIDTH", b"HEIGHT", b"DEPTH", b"MAXVAL"))
        except (KeyError, IndexError, ValueError):
            raise PnmError("its PAM header lacks WIDTH, HEIGHT, DEPTH or MAXVAL") from None
        offset = position
    else:
        numbers, position = [], 2
        for _ in range(3):
            match = _TOKEN.match(data, position)
            if not match or not match.group(1).isdigit():
                raise PnmError("its header is malformed")
            numbers.append(int(match.group(1)))
            position = match.end()
        if position >= len(data) or not data[position : position + 1].isspace():
            raise PnmError("its header is malformed")
        width, height, maxval = numbers
        channels, offset = PLAIN_CHANNELS[magic], position + 1
    if not (1 <= channels <= 4 and 1 <= maxval <= 65535 and width > 0 and height > 0):
        raise PnmError(f"its header holds {width} x {height} pixels of {channels} channels "
                       f"and maxval {maxval}, which this command does not take")
    return width, height, channels, maxval, offset


def read(path: str) -> Picture:
    with open(path, "rb") as file:
        head = file.read(HEADER_LIMIT)
    width, height, channels, maxval, offset = _header(head)
    dtype = numpy.dtype(numpy.uint8 if maxval < 256 else ">u2")
    shape = (height, width) if channels == 1 else (height, width, channels)
    row_bytes = width * channels * dtype.itemsize

    def bands() -> Iterator[numpy.ndarray]:
        band_rows = max(1, BAND_BYTES // row_bytes)
        with open(path, "rb") as file:
            file.seek(offset)
            for top in range(0, height, band_rows):
                rows = min(band_rows, height - top)
                data = file.read(rows * row_bytes)
                if len(data) < rows * row_bytes:
                    raise PnmError(
                        f"it is truncated: it holds fewer than {width} x {height} pixels")
                yield numpy.frombuffer(data, dtype).reshape((rows,) + shape[1:])

    return Picture([Page(shape, dtype.newbyteorder("="), bands)], maxval)


def write(file: BinaryIO, picture: Picture) -> None:
    page = picture.pages[0]
    height, width = page.shape[:2]
    channels = page.channels
    if channels in (1, 3):
        magic = b"P5" if channels == 1 else b"P6"
        header = b"%s\n%d %d\n%d\n" % (magic, width, height, picture.maxval)
    else:
        header = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (
            width, height, channels, picture.maxval, TUPLE_TYPES[channels])
    file.write(header)
    for band in page.bands():
        for chunk in byte_chunks(band, ">"):
            file.write(chunk)
