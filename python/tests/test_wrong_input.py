"""Every wrong argument is refused before any work, with the exception and
message that say what was expected."""

import re

import numpy
import pytest

import quillmorph

GOOD = numpy.zeros((4, 5), numpy.uint8)  # its result is (8, 10)


def zeros(shape, dtype=numpy.uint8, order="C"):
    return numpy.zeros(shape, dtype, order=order)


def read_only(array):
    array.setflags(write=False)
    return array


def overlapping_out():
    # image is a corner of out's memory.
    out = zeros((8, 10))
    return {"image": out[:4, :5], "out": out}


def wrong(image=GOOD, **options):
    return {"image": image, **options}


# (case, arguments, exception, message pattern)
# fmt: off
WRONG_INPUT = [
    ("float64", wrong(zeros((4, 5), float)), TypeError,
     r"dtype float64.*image\.astype\(numpy\.uint8\)"),
    ("float32", wrong(zeros((4, 5), numpy.float32)), TypeError, r"dtype float32"),
    ("uint32", wrong(zeros((4, 5), numpy.uint32)), TypeError, r"dtype uint32"),
    ("int8", wrong(zeros((4, 5), numpy.int8)), TypeError, r"dtype int8"),
    ("bool", wrong(zeros((4, 5), bool)), TypeError, r"dtype bool"),
    ("object", wrong(zeros((4, 5), object)), TypeError, r"dtype object"),
    ("Python ints", wrong([[0] * 5] * 4), TypeError, r"dtype int(64|32)"),
    ("0 dimensions", wrong(numpy.uint8(7)), ValueError, r"not 0: its shape is \(\)"),
    ("1 dimension", wrong(zeros(9)), ValueError, r"not 1: its shape is \(9,\)"),
    ("4 dimensions", wrong(zeros((4, 5, 3, 1))), ValueError, r"not 4"),
    ("2 rows", wrong(zeros((2, 5))), ValueError, r"5 x 2 pixels \(each side must be 3 or more\)"),
    ("2 columns", wrong(zeros((5, 2))), ValueError, r"2 x 5 pixels"),
    ("empty", wrong(zeros((0, 0))), ValueError, r"0 x 0 pixels"),
    ("3-D, 2 rows", wrong(zeros((2, 5, 3))), ValueError, r"shape \(2, 5, 3\).*5 x 2 pixels"),
    ("no channels", wrong(zeros((4, 5, 0))), ValueError, r"no channels"),
    ("negative threads", wrong(threads=-1), ValueError, r"threads must be 0 .* not -1"),
    ("fractional threads", wrong(threads=1.5), TypeError, r"float"),
    ("threads as text", wrong(threads="2"), TypeError, r"str"),
    ("progress not callable", wrong(progress=3), TypeError, r"callable or None, not int"),
    ("out a list", wrong(out=[[0] * 10] * 8), ValueError, r"numpy.ndarray, not list"),
    ("out float", wrong(out=zeros((8, 10), float)), ValueError, r"dtype uint8, not float64"),
    ("out int8", wrong(out=zeros((8, 10), numpy.int8)), ValueError, r"dtype uint8, not int8"),
    ("out image-sized", wrong(out=zeros((4, 5))), ValueError, r"shape \(8, 10\) .* not \(4, 5\)"),
    ("out transposed", wrong(out=zeros((10, 8))), ValueError, r"not \(10, 8\)"),
    ("out with channels", wrong(out=zeros((8, 10, 1))), ValueError, r"not \(8, 10, 1\)"),
    ("out without channels", wrong(zeros((4, 5, 3)), out=zeros((8, 10))), ValueError,
     r"shape \(8, 10, 3\)"),
    ("out with steps", wrong(out=zeros((8, 20))[:, ::2]), ValueError, r"C-contiguous"),
    ("out Fortran order", wrong(out=zeros((8, 10), order="F")), ValueError, r"C-contiguous"),
    ("out read-only", wrong(out=read_only(zeros((8, 10)))), ValueError, r"out must be writable"),
    ("out over the image", overlapping_out(), ValueError, r"must not share memory with image"),
]
# fmt: on


@pytest.mark.parametrize(
    "case, arguments, exception, message", WRONG_INPUT, ids=[row[0] for row in WRONG_INPUT]
)
def test_wrong_input_is_refused(case, arguments, exception, message):
    arguments = dict(arguments)
    image = arguments.pop("image")
    before = numpy.array(image, copy=True)
    out = arguments.get("out")
    out_before = out.copy() if isinstance(out, numpy.ndarray) else None
    with pytest.raises(exception) as raised:
        quillmorph.upscale(image, **arguments)
    assert re.search(message, str(raised.value)), f"{case}: {raised.value}"
    assert numpy.array_equal(numpy.asarray(image), before), f"{case}: image changed"
    if out_before is not None:
        assert numpy.array_equal(out, out_before), f"{case}: out written"


def test_arguments_after_the_image_are_keywords_only():
    with pytest.raises(TypeError):
        quillmorph.upscale(GOOD, 1)
