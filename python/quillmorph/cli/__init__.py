"""qmorph, the command for image files: PNG, TIFF, JPEG, PNM and WebP in,
the same format (or another) out, doubled by quillmorph.upscale with every
sample, page and tag kept.  `qmorph --help` says how; main() runs it."""

from .main import main

__all__ = ["main"]
