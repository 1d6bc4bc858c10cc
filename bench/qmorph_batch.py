#!/usr/bin/env python3
"""Whether qmorph's worker processes beat one process with every thread.

    PYTHONPATH=build/python python3 bench/qmorph_batch.py [--files 8] [--side 1024]

Writes --files 8-bit RGB PNG files of --side x --side pixels into a scratch
folder, then upscales them all twice over, in turn: one file at a time in
this process with every processor's threads (run_here), and several at once
in worker processes sharing the threads (run_in_workers, as qmorph does
for batches of more than a few megabytes).  Prints each way's median time
of --rounds rounds.  Decoding and encoding PNG run on one thread, which is
what the workers win back.
"""

import argparse
import os
import statistics
import tempfile
import time

import numpy
from PIL import Image

from quillmorph.cli.batch import Display, Job, run_here, run_in_workers
from quillmorph.cli.convert import Settings


def make_files(folder, count, side):
    rng = numpy.random.default_rng(0)
    y, x = numpy.mgrid[0:side, 0:side]
    names = []
    for index in range(count):
        ramp = (x * (index + 1) + y * 3) % 256
        noise = rng.integers(0, 32, (side, side))
        image = numpy.stack([ramp, (ramp + noise) % 256, 255 - ramp], axis=2).astype(numpy.uint8)
        names.append(os.path.join(folder, f"in{index}.png"))
        Image.fromarray(image).save(names[-1])
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", type=int, default=8)
    parser.add_argument("--side", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=3)
    options = parser.parse_args()
    processors = len(os.sched_getaffinity(0))
    silent = Display(lambda index: None, lambda index, rows: None, lambda outcome: None)
    with tempfile.TemporaryDirectory() as folder:
        sources = make_files(folder, options.files, options.side)
        jobs = [Job(index, source, os.path.join(folder, f"out{index}.png"), 0)
                for index, source in enumerate(sources)]
        ways = {
            f"one process, {processors} threads": lambda: run_here(
                jobs, Settings(1, processors, None, True, None), silent),
            f"{processors} worker processes, 1 thread each": lambda: run_in_workers(
                jobs, Settings(1, 1, None, True, None), processors, silent),
        }
        times = {name: [] for name in ways}
        for _ in range(options.rounds):
            for name, run in ways.items():  # interleaved: drifts touch both alike
                start = time.perf_counter()
                run()
                times[name].append(time.perf_counter() - start)
    print(f"{options.files} PNG files of {options.side} x {options.side} RGB, doubled:")
    for name, seconds in times.items():
        print(f"  {name}: {statistics.median(seconds):.2f} s")


if __name__ == "__main__":
    main()
