"""What the installed package offers besides upscale: its version, its
exceptions, documentation and type information."""

import pathlib
import pydoc
import re

import quillmorph

SOURCE_ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_version_is_the_librarys():
    assert re.fullmatch(r"\d+\.\d+\.\d+", quillmorph.__version__)
    cmake_lists = SOURCE_ROOT / "CMakeLists.txt"
    if cmake_lists.exists():
        project = re.search(r"project\(Quillmorph VERSION ([0-9.]+)", cmake_lists.read_text())
        assert quillmorph.__version__ == project.group(1)


def test_exceptions_form_a_hierarchy():
    assert issubclass(quillmorph.Cancelled, quillmorph.Error)
    assert issubclass(quillmorph.Error, RuntimeError)
    error = quillmorph.Error("message", -3)
    assert (str(error), error.status) == ("message", -3)


def test_help_documents_every_parameter():
    text = pydoc.render_doc(quillmorph.upscale)
    for word in ["image", "threads", "maxval", "axes", "progress", "out", "Cancelled", "Ctrl-C"]:
        assert word in text
    assert "upscale" in pydoc.render_doc(quillmorph)


def test_type_information_is_installed():
    package = pathlib.Path(quillmorph.__file__).parent
    assert (package / "py.typed").exists()
    assert "def upscale_2d" in (package / "_core.pyi").read_text()
