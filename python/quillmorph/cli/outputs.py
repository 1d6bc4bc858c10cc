"""Output files written as the Quillmorph tool writes them: to a temporary
file beside the target, renamed into place once complete, so that a failed
or interrupted run never leaves a partial file or damages an existing one.

A symbolic link is followed (the file it leads to is replaced, and the link
stays a link; a dangling link creates the file it names).  A file with
other hard links is written in place once the image is complete, so that
every name keeps showing the same file.  Pipes, terminals and devices are
written directly, never replaced.  A directory is refused."""

import errno
import os
import shutil
import stat
import tempfile
from typing import BinaryIO, Callable

TEMP_PREFIX = ".qmorph."
# Where os.link cannot make the name (file systems without hard links), the
# rename that may replace is taken after a check instead.
NO_HARD_LINKS = (errno.EPERM, errno.EOPNOTSUPP, errno.ENOTSUP, errno.EXDEV, errno.EMLINK)


class OutputExists(Exception):
    """The output exists and --overwrite was not given."""


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


# Read once, at import on the main thread: os.umask can only be read by
# setting it.
NEW_FILE_MODE = 0o666 & ~_umask()


def write_file(path: str, overwrite: bool, write: Callable[[BinaryIO], None]) -> None:
    """Writes path through write(file); OutputExists when path exists and
    overwrite is false."""
    target = os.path.realpath(path) if os.path.islink(path) else path
    try:
        status = os.stat(target)
    except FileNotFoundError:
        status = None
    if status and stat.S_ISDIR(status.st_mode):
        raise IsADirectoryError(errno.EISDIR, "it is a directory", path)
    if status and not stat.S_ISREG(status.st_mode):
        with open(target, "wb") as file:  # a pipe or a device: written directly
            write(file)
        return
    if status and not overwrite:
        raise OutputExists(f"{path} exists: give --overwrite to replace it")
    descriptor, temp = tempfile.mkstemp(prefix=TEMP_PREFIX, dir=os.path.dirname(target) or ".")
    os.close(descriptor)
    try:
        # Opened by name: writers that look at file.name (tifffile) need a path.
        with open(temp, "wb") as file:
            write(file)
        os.chmod(temp, stat.S_IMODE(status.st_mode) if status else NEW_FILE_MODE)
        _put_in_place(temp, target, status, overwrite)
    finally:
        if os.path.lexists(temp):
            os.unlink(temp)


def _put_in_place(temp: str, target: str, status: "os.stat_result | None", overwrite: bool) -> None:
    if status and status.st_nlink > 1:
        shutil.copyfile(temp, target)  # in place: the other names keep the same file
        return
    if status:
        _keep_owner(temp, status)
    if overwrite:
        os.replace(temp, target)
        return
    try:
        os.link(temp, target)  # never replaces: a file made meanwhile stays
    except FileExistsError:
        raise OutputExists(f"{target} exists: give --overwrite to replace it") from None
    except OSError as error:
        if error.errno not in NO_HARD_LINKS:
            raise
        if os.path.lexists(target):
            raise OutputExists(f"{target} exists: give --overwrite to replace it") from None
        os.replace(temp, target)


def _keep_owner(temp: str, status: os.stat_result) -> None:
    """The replaced file's owner and group, where the user may give them."""
    if not hasattr(os, "chown"):
        return
    for owner in (status.st_uid, -1):
        try:
            os.chown(temp, owner, status.st_gid)
            return
        except OSError:
            continue
