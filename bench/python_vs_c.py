#!/usr/bin/env python3
"""What the Python package costs over the C library, in time and memory.

    PYTHONPATH=build/python python3 bench/python_vs_c.py build/libquillmorph.so [--side 1024]

Time: quillmorph.upscale on a side x side uint8 array (into a given out, and
into a new array) against qm_upscale on the same image through ctypes, from
the shared library of the same build.  The three run interleaved, in turn,
so that drifts of the machine's speed touch all alike; the figure is the
median of the per-round ratios to the C call.

Memory: each call runs in a fresh process that measures its resident memory
just before the call and its peak just after: VmHWM of /proc/self/status,
reset before the call through /proc/self/clear_refs (Linux).  getrusage's
ru_maxrss would not do: a child started with vfork, as subprocess starts
it, keeps its parent's peak across exec.  The difference is what the call
added: the output, which the C call's caller allocates too, and the
engine's working memory.
"""

import argparse
import ctypes
import json
import statistics
import subprocess
import sys
import time

import numpy

import quillmorph

# The child of the memory measurement: prints the bytes a call added.
MEMORY_CHILD = """
import ctypes, json, os, sys
import numpy, quillmorph

def status_bytes(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024

library, side, channels, way = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
qm = ctypes.CDLL(library)
shape = (side, side) if channels == 1 else (side, side, channels)
image = numpy.random.default_rng(0).integers(0, 256, shape, dtype=numpy.uint8)
with open("/proc/self/clear_refs", "w") as clear_refs:
    clear_refs.write("5")  # the peak starts again from the memory now resident
before = status_bytes("VmRSS")
if way == "c":
    out = numpy.empty((2 * side, 2 * side), numpy.uint8)
    status = qm.qm_upscale(image.ctypes.data_as(ctypes.c_void_p), side, side, side,
                           out.ctypes.data_as(ctypes.c_void_p), 2 * side, None)
    assert status == 0
else:
    out = quillmorph.upscale(image)
print(json.dumps({"added": status_bytes("VmHWM") - before, "output": out.nbytes}))
"""


def seconds(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def time_calls(qm, side, threads, rounds):
    """Median seconds of each way, and median ratios to the C call."""
    image = numpy.random.default_rng(1).integers(0, 256, (side, side), dtype=numpy.uint8)
    out = numpy.empty((2 * side, 2 * side), numpy.uint8)
    options = qm.qm_options_new()
    qm.qm_options_set_threads(options, threads)
    ways = {
        "qm_upscale (ctypes)": lambda: qm.qm_upscale(
            image.ctypes.data_as(ctypes.c_void_p),
            side,
            side,
            side,
            out.ctypes.data_as(ctypes.c_void_p),
            2 * side,
            options,
        ),
        "upscale(image, out=out)": lambda: quillmorph.upscale(image, out=out, threads=threads),
        "upscale(image)": lambda: quillmorph.upscale(image, threads=threads),
    }
    names = list(ways)
    times = {name: [] for name in names}
    for round_number in range(rounds + 1):
        order = names[round_number % len(names) :] + names[: round_number % len(names)]
        measured = {name: seconds(ways[name]) for name in order}
        if round_number == 0:
            continue  # warm-up: first touches of the pages, thread starts
        for name in names:
            times[name].append(measured[name])
    qm.qm_options_free(options)
    c_times = times[names[0]]
    return {
        name: (
            statistics.median(times[name]),
            statistics.median(t / c for t, c in zip(times[name], c_times)),
        )
        for name in names
    }


def added_memory(library, side, channels, way):
    child = subprocess.run(
        [sys.executable, "-c", MEMORY_CHILD, library, str(side), str(channels), way],
        check=True,
        capture_output=True,
        text=True,
    )
    return json.loads(child.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("library", help="the build's libquillmorph.so")
    parser.add_argument("--side", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=15)
    arguments = parser.parse_args()

    qm = ctypes.CDLL(arguments.library)
    qm.qm_options_new.restype = ctypes.c_void_p
    qm.qm_options_set_threads.argtypes = [ctypes.c_void_p, ctypes.c_int]
    qm.qm_options_free.argtypes = [ctypes.c_void_p]
    qm.qm_status_string.restype = ctypes.c_char_p
    qm.qm_upscale.argtypes = [
        ctypes.c_void_p,
        ctypes.c_int,
        ctypes.c_int,
        ctypes.c_ssize_t,
        ctypes.c_void_p,
        ctypes.c_ssize_t,
        ctypes.c_void_p,
    ]
    side = arguments.side
    print(f"quillmorph {quillmorph.__version__} ({quillmorph.vector_target()} vector code), "
          f"{side} x {side}, {arguments.rounds} rounds")
    print(f"{'threads':>7}  {'call':<26} {'median':>9}  {'ratio to C':>10}")
    for threads in (1, 0):
        for name, (median, ratio) in time_calls(qm, side, threads, arguments.rounds).items():
            print(f"{threads:>7}  {name:<26} {median:8.3f}s  {ratio:10.4f}")

    print(f"\nmemory a call adds ({side} x {side} input, all processors)")
    print(f"{'call':<30} {'added':>9} {'output':>9} {'added - output':>15}")
    for label, channels, way in [
        ("qm_upscale (ctypes)", 1, "c"),
        ("upscale(image)", 1, "python"),
        ("upscale(image), 3 channels", 3, "python"),
    ]:
        memory = added_memory(arguments.library, side, channels, way)
        added, output = memory["added"], memory["output"]
        print(
            f"{label:<30} {added / 2**20:7.1f}MB {output / 2**20:7.1f}MB "
            f"{(added - output) / 2**20:13.1f}MB"
        )


if __name__ == "__main__":
    main()
