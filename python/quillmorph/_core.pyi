# Signatures of the compiled module quillmorph._core (src/core_module.cpp),
# for type checkers and editors.  Use quillmorph.upscale instead.
from typing import Any, Callable, Optional

OK: int
ERROR_ARGUMENT: int
ERROR_SIZE: int
ERROR_TOO_LARGE: int
ERROR_NO_MEMORY: int
ERROR_READ: int
ERROR_WRITE: int
ERROR_CANCELLED: int
version: str

def upscale_2d(
    image: Any,
    out: Any,
    threads: int,
    progress: Optional[Callable[[int, int], Any]],
    check_signals: bool,
    /,
) -> int: ...
def status_string(status: int, /) -> str: ...
