"""The readers and writers the command is built on, imported when first
needed, with a message that names the package to install where one is
missing.  None of them is needed to import quillmorph itself."""

import importlib
from types import ModuleType

# module: (what it reads and writes, its Debian package, its pip name)
PACKAGES = {
    "PIL.Image": ("PNG, JPEG, PNM and WebP files", "python3-pil", "Pillow"),
    "tifffile": ("TIFF files", "python3-tifffile", "tifffile"),
    "cv2": ("16-bit colour PNG files", "python3-opencv", "opencv-python-headless"),
    "tqdm": ("the progress bar", "python3-tqdm", "tqdm"),
}


class MissingPackage(Exception):
    """A reader or writer the command needs is not installed."""


def require(module: str) -> ModuleType:
    """The module, or MissingPackage with a sentence naming what to install."""
    try:
        return importlib.import_module(module)
    except ImportError:
        needed_for, debian, pip = PACKAGES[module]
        raise MissingPackage(
            f"{needed_for} need {pip}, which is not installed: install it with "
            f"`apt-get install {debian}` (Debian), or `pip install {pip}` "
            "(`pip install quillmorph[cli]` installs every one)"
        ) from None
