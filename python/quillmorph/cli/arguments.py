"""The command line: its forms, options and help, checked before any
file is touched; wrong usage exits with status 2."""

import argparse
import os
from dataclasses import dataclass
from typing import List, Optional, Tuple

import quillmorph

from .codecs import EXTENSIONS, format_of

SCALES = {2: 1, 4: 2, 8: 3}  # factor: doublings
LARGEST_MAXVAL = 65535

EXAMPLES = """\
examples:
  qmorph scan.png scan_x2.png            one file; the output's extension picks the format
  qmorph stack.tif -o big/ --scale 4     every page of a TIFF stack, doubled twice, into big/
  qmorph *.png -o out/ --format tiff     many files into out/, written as TIFF
  qmorph frame.pgm hr.pgm --maxval 4095  a 12-bit camera's frame in a 16-bit file

Depth (8 or 16 bits), channels (gray, gray+alpha, RGB, RGBA), every TIFF
page, the resolution (doubled with each doubling), the colour profile and
the EXIF block are kept; the samples are those of quillmorph.upscale.

exit status: 0 when every file was written, 1 when some failed (each is
named, with the reason), 2 for wrong usage."""


@dataclass(frozen=True)
class Request:
    pairs: List[Tuple[str, str]]  # (input, output)
    doublings: int
    threads: int
    maxval: Optional[int]
    overwrite: bool
    format_name: Optional[str]
    quiet: bool


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="qmorph", formatter_class=argparse.RawDescriptionHelpFormatter, epilog=EXAMPLES,
        usage="qmorph [options] IN OUT\n       qmorph [options] IN... -o DIR",
        description="Doubles the resolution of PNG, TIFF, JPEG, PNM and WebP images with "
                    "Quillmorph, bit-exactly.")
    parser.add_argument("paths", nargs="+", metavar="IN", help="input files (and OUT)")
    parser.add_argument("-o", "--output-dir", metavar="DIR",
                        help="write each input into DIR, under its own name")
    parser.add_argument("--scale", type=int, default=2, metavar="2|4|8",
                        help="double once, twice or three times (default 2)")
    parser.add_argument("--threads", type=int, default=0, metavar="N",
                        help="at most N threads; 0 (the default) for every processor")
    parser.add_argument("--maxval", type=int, metavar="M",
                        help="the largest value a sample may take (4095 for 12-bit data in "
                             "16-bit files); by default the file's")
    parser.add_argument("--format", choices=sorted(EXTENSIONS), dest="format_name",
                        help="the output format, instead of the output's extension")
    parser.add_argument("--overwrite", action="store_true", help="replace existing outputs")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="print failures only: no progress, no list of files written")
    parser.add_argument("--version", action="version",
                        version=f"qmorph (quillmorph) {quillmorph.__version__}")
    return parser


def parse(argv: Optional[List[str]]) -> Request:
    parser = _parser()
    options = parser.parse_args(argv)
    if options.scale not in SCALES:
        parser.error(f"--scale {options.scale}: the image is doubled once (2), twice (4) or "
                     "three times (8); other factors would need samples the method does not "
                     "define")
    if options.threads < 0:
        parser.error(f"--threads {options.threads}: give 0 for every processor, or a count")
    if options.maxval is not None and not 1 <= options.maxval <= LARGEST_MAXVAL:
        parser.error(f"--maxval {options.maxval}: it must lie in 1..{LARGEST_MAXVAL}")
    return Request(_pairs(parser, options), SCALES[options.scale], options.threads,
                   options.maxval, options.overwrite, options.format_name, options.quiet)


def _pairs(parser: argparse.ArgumentParser, options: argparse.Namespace) -> List[Tuple[str, str]]:
    paths, directory = options.paths, options.output_dir
    if directory is None:
        if len(paths) != 2:
            parser.error("give one input and one output (IN OUT), or inputs and -o DIR")
        source, target = paths
        if not os.path.isdir(target):
            if not options.format_name and not format_of(target):
                parser.error(f"{target}: its extension names no format; give --format")
            return [(source, target)]
        directory, paths = target, [source]
    elif not os.path.isdir(directory):
        parser.error(f"-o {directory}: no such directory")
    return [(source, os.path.join(directory, _name_for(source, options.format_name)))
            for source in paths]


def _name_for(source: str, format_name: Optional[str]) -> str:
    """The output's name in a directory: the input's, with the format's
    extension where --format names another one."""
    name = os.path.basename(source)
    stem, extension = os.path.splitext(name)
    if format_name and extension.lower() not in EXTENSIONS[format_name]:
        return stem + EXTENSIONS[format_name][0]
    return name
