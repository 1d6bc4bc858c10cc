"""Shared helpers: PGM files, the command-line tool, random images.

The real programs come from the environment, as ctest and python/ci.sh set
it: QUILLMORPH_EXE (the tool) and QUILLMORPH_MAKE_CHART (the chart
generator).  Tests that need one skip with a message where it is not set.
"""

import os
import pathlib
import subprocess

import numpy
import pytest

import quillmorph


def pytest_report_header():
    return f"quillmorph {quillmorph.__version__} from {pathlib.Path(quillmorph.__file__).parent}"


def write_pgm(path, image):
    height, width = image.shape
    path.write_bytes(b"P5\n%d %d\n255\n" % (width, height) + image.tobytes())


def read_pgm(path):
    data = path.read_bytes()
    magic, width, height, maxval, pixels = data.split(maxsplit=4)
    assert (magic, maxval) == (b"P5", b"255")
    return numpy.frombuffer(pixels, numpy.uint8).reshape(int(height), int(width))


def program(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.skip(f"{variable} is not set: it names the program to compare with")
    return path


@pytest.fixture(scope="session")
def tool_upscale(tmp_path_factory):
    """tool_upscale(image): the tool's output for a 2-D image, via PGM files.

    Remembered per image, since many tests compare with the same ones.
    """
    tool = program("QUILLMORPH_EXE")
    outputs = {}

    def run(image):
        key = (image.shape, image.tobytes())
        if key not in outputs:
            run_dir = tmp_path_factory.mktemp("tool")
            write_pgm(run_dir / "in.pgm", numpy.ascontiguousarray(image))
            subprocess.run(
                [tool, "in.pgm", "out.pgm"], cwd=run_dir, check=True, capture_output=True
            )
            outputs[key] = read_pgm(run_dir / "out.pgm")
        return outputs[key]

    return run


@pytest.fixture
def chart(tmp_path):
    """The project's test chart, 256 x 256, as the chart generator writes it."""
    make_chart = program("QUILLMORPH_MAKE_CHART")
    path = tmp_path / "chart.pgm"
    subprocess.run([make_chart, str(path), "256"], check=True, capture_output=True)
    return read_pgm(path)


def random_image(height, width, seed=0):
    """Noise with a flat patch and a ramp, so that every kind of target occurs."""
    image = numpy.random.default_rng(seed).integers(0, 256, (height, width), dtype=numpy.uint8)
    image[: height // 3, : width // 3] = 128
    ramp = (numpy.arange(width) * 3 % 256).astype(numpy.uint8)
    image[height // 2 :, width // 2 :] = ramp[width // 2 :]
    return image


def random_channels(height, width, channels, seed=0):
    """An (H, W, C) image whose channels differ."""
    planes = [random_image(height, width, seed + channel) for channel in range(channels)]
    return numpy.stack(planes, axis=2)


def random_stack(shape, maxval=255, seed=0):
    """Images along the last two axes, of samples 0..maxval (uint16 past 255)."""
    dtype = numpy.uint8 if maxval <= 255 else numpy.uint16
    count = int(numpy.prod(shape[:-2]))
    planes = [random_image(*shape[-2:], seed=seed + index) for index in range(count)]
    stack = numpy.array(planes, numpy.uint32).reshape(shape) * maxval // 255
    return stack.astype(dtype)
