"""The GIL is released during a call, and calls from several Python threads
at once give the same bytes as calls one at a time."""

import threading

import numpy
import pytest
from numpy.testing import assert_array_equal

import quillmorph
from conftest import random_channels, random_image

PYTHON_THREADS = 4


def run_together(calls):
    """Runs each call on its own thread, all started together; their results."""
    start = threading.Barrier(len(calls))
    results = [None] * len(calls)
    errors = []

    def run(index, call):
        start.wait()
        try:
            results[index] = call()
        except BaseException as error:  # reported below, on the test's thread
            errors.append(error)

    threads = [threading.Thread(target=run, args=item) for item in enumerate(calls)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors, errors
    return results


@pytest.mark.parametrize("library_threads", [1, 2, 0])
def test_threads_at_once_give_the_same_bytes(library_threads):
    images = [
        random_image(60 + 7 * index, 50 - 3 * index, seed=index) for index in range(PYTHON_THREADS)
    ]
    images.append(random_channels(33, 41, 3, seed=9))
    alone = [quillmorph.upscale(image, threads=1) for image in images]
    for _ in range(3):
        together = run_together(
            [
                lambda image=image: quillmorph.upscale(image, threads=library_threads)
                for image in images
            ]
        )
        for index, (result, expected) in enumerate(zip(together, alone)):
            assert_array_equal(result, expected, f"image {index}")


def test_threads_sharing_one_image_and_callback():
    image = random_image(80, 64).copy()
    image.setflags(write=False)
    calls = []
    lock = threading.Lock()

    def progress(rows_done, rows_total):
        with lock:
            calls.append(threading.get_ident())

    results = run_together(
        [lambda: quillmorph.upscale(image, progress=progress, threads=2)] * PYTHON_THREADS
    )
    for result in results:
        assert_array_equal(result, quillmorph.upscale(image))
    # Each thread's calls came on that thread.
    assert len(set(calls)) == PYTHON_THREADS


def test_other_threads_run_python_during_a_call():
    # out starts at zero, which no row of the result is: this thread sees a
    # result written in part only if it ran while the call held no GIL.
    image = random_image(512, 512)
    out = numpy.zeros((1024, 1024), numpy.uint8)
    worker = threading.Thread(
        target=quillmorph.upscale, args=(image,), kwargs={"out": out, "threads": 1}
    )
    seen_in_part = False
    worker.start()
    while worker.is_alive() and not seen_in_part:
        seen_in_part = bool(out[0].any()) and not out[-1].any()
    worker.join()
    assert seen_in_part
    assert_array_equal(out, quillmorph.upscale(image))
