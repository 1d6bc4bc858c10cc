# Signatures of the compiled module quillmorph._core (src/core_module.cpp),
# for type checkers and editors.  Use quillmorph.upscale instead.
from typing import Any, Callable, Optional, Tuple

OK: int
ERROR_ARGUMENT: int
ERROR_SIZE: int
ERROR_TOO_LARGE: int
ERROR_NO_MEMORY: int
ERROR_READ: int
ERROR_WRITE: int
ERROR_CANCELLED: int
ERROR_SAMPLE: int
ERROR_VECTOR_TARGET: int
HALO: int
version: str

def upscale_2d(
    image: Any,
    out: Any,
    threads: int,
    maxval: int,
    progress: Optional[Callable[[int, int], Any]],
    check_signals: bool,
    /,
) -> int: ...
def upscale_region_2d(
    window: Any,
    out: Any,
    window_y: int,
    window_x: int,
    image_height: int,
    image_width: int,
    region_y: int,
    region_x: int,
    threads: int,
    maxval: int,
    progress: Optional[Callable[[int, int], Any]],
    check_signals: bool,
    /,
) -> int: ...
def region_window(
    image_height: int,
    image_width: int,
    region_y: int,
    region_x: int,
    region_height: int,
    region_width: int,
    /,
) -> Tuple[int, int, int, int, int]: ...
def status_string(status: int, /) -> str: ...
def vector_target() -> Optional[str]: ...
