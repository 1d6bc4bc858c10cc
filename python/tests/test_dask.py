"""Dask: any chunking, on the threaded scheduler and on a two-process
cluster, gives the bytes of the whole-image call."""

import subprocess
import sys

import numpy
import pytest

import quillmorph
from conftest import random_image, random_stack

dask_array = pytest.importorskip("dask.array", reason="Dask is not installed (python3-dask)")
import quillmorph.dask  # noqa: E402  (after the skip)

SHAPE = (53, 47)


def chunkings(rng):
    """Tiny chunks (1 to 5 pixels, less than the halo), uneven last chunks,
    one chunk, and random ones."""
    def random_chunks(length, low, high):
        sizes = []
        while sum(sizes) < length:
            sizes.append(min(int(rng.integers(low, high + 1)), length - sum(sizes)))
        return tuple(sizes)
    return [
        ((1,) * SHAPE[0], (2,) * 23 + (1,)),
        (random_chunks(SHAPE[0], 1, 5), random_chunks(SHAPE[1], 1, 5)),
        ((20, 20, 13), (16, 16, 15)),
        (SHAPE[0], SHAPE[1]),
        (random_chunks(SHAPE[0], 3, 30), random_chunks(SHAPE[1], 3, 30)),
    ]


def test_any_chunking_gives_the_whole_images_bytes():
    image = random_image(*SHAPE, seed=7)
    whole = quillmorph.upscale(image)
    for chunks in chunkings(numpy.random.default_rng(20)):
        lazy = dask_array.from_array(image, chunks=chunks)
        result = quillmorph.dask.upscale(lazy)
        assert result.chunks == tuple(tuple(2 * c for c in axis) for axis in lazy.chunks)
        numpy.testing.assert_array_equal(result.compute(scheduler="threads"), whole,
                                         err_msg=f"chunks {lazy.chunks}")


def test_a_two_process_cluster_gives_the_same_bytes():
    distributed = pytest.importorskip("distributed", reason="python3-distributed is not installed")
    image = random_image(70, 61, seed=8)
    whole = quillmorph.upscale(image)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        lazy = dask_array.from_array(image, chunks=(16, 20))
        numpy.testing.assert_array_equal(client.compute(quillmorph.dask.upscale(lazy)).result(),
                                         whole)


def test_chunks_along_every_axis_on_a_cluster_give_the_in_memory_samples():
    distributed = pytest.importorskip("distributed", reason="python3-distributed is not installed")
    stack = random_stack((3, 37, 29), 4095, seed=3)
    channels = numpy.moveaxis(random_stack((2, 23, 19), seed=4), 0, 2)
    cases = [(stack, (2, 10, 7), {"axes": (-2, -1), "maxval": 4095}), (channels, (9, 11, 1), {})]
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        for array, chunks, options in cases:
            lazy = quillmorph.dask.upscale(dask_array.from_array(array, chunks=chunks), **options)
            numpy.testing.assert_array_equal(client.compute(lazy).result(),
                                             quillmorph.upscale(array, **options))


@pytest.mark.parametrize("array,error,message", [
    (dask_array.zeros((8, 8), dtype=numpy.float32), TypeError, r"astype\(numpy\.uint8\)"),
    (dask_array.zeros((8, 8, 3, 2), dtype=numpy.uint8), ValueError, "2 dimensions"),
    (dask_array.zeros((2, 8), dtype=numpy.uint8), ValueError, "each side"),
])
def test_wrong_arrays(array, error, message):
    with pytest.raises(error, match=message):
        quillmorph.dask.upscale(array)


def test_without_dask_the_error_names_the_package():
    # A fresh interpreter in which importing dask fails.
    code = ("import sys; sys.modules['dask'] = None\n"
            "try:\n    import quillmorph.dask\nexcept ImportError as e:\n    print(e)\n")
    printed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                             check=True).stdout
    assert "python3-dask" in printed
    subprocess.run([sys.executable, "-c", "import sys; sys.modules['dask'] = None; import quillmorph"],
                   check=True)
