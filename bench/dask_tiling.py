#!/usr/bin/env python3
"""What tiling with Dask costs, and a large image through zarr on a cluster.

    PYTHONPATH=build/python python3 bench/dask_tiling.py overhead [--side 4096] [--chunk 1024]
    PYTHONPATH=build/python python3 bench/dask_tiling.py cluster [--side 16384] [--chunk 1024]

overhead: the processor time of quillmorph.dask.upscale over a side x side
image in chunk x chunk chunks (one thread a task) against quillmorph.upscale
on the whole image, run alternately in one process: one task at a time
against the call on one thread, and the threaded scheduler against the call
on every processor; medians of the rounds and their ratios.  The outputs
are compared.

cluster: writes a side x side test chart (make_chart, QUILLMORPH_MAKE_CHART
or build/make_chart) to zarr in a scratch folder, upscales it to zarr on a
LocalCluster of two single-threaded worker processes, and prints the wall
time and the peak resident memory of each worker during the run (VmHWM,
reset at its start); then checks sampled
output tiles against the whole-image call.  Needs python3-zarr and
python3-distributed.
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

import numpy

import quillmorph
import quillmorph.dask
import dask.array as da


def chart(side, folder):
    make_chart = os.environ.get("QUILLMORPH_MAKE_CHART", "build/make_chart")
    path = pathlib.Path(folder) / "chart.pgm"
    subprocess.run([make_chart, str(path), str(side)], check=True, capture_output=True)
    data = path.read_bytes()
    _, width, height, _, pixels = data.split(maxsplit=4)
    return numpy.frombuffer(pixels, numpy.uint8).reshape(int(height), int(width))


def processor_seconds(run):
    start = time.process_time()
    result = run()
    return time.process_time() - start, result


def overhead(args):
    with tempfile.TemporaryDirectory() as folder:
        image = chart(args.side, folder)
    lazy = da.from_array(image, chunks=args.chunk)
    # Serial: one task at a time against the call on one thread, which is
    # the cost of tiling itself.  Parallel: the threaded scheduler's tasks
    # side by side against the call on every processor, which both pay for
    # sharing caches and memory.
    pairs = {
        "serial": (lambda: quillmorph.upscale(image, threads=1),
                   lambda: quillmorph.dask.upscale(lazy).compute(scheduler="synchronous")),
        "parallel": (lambda: quillmorph.upscale(image),
                     lambda: quillmorph.dask.upscale(lazy).compute(scheduler="threads")),
    }
    print(f"{args.side} x {args.side}, {args.chunk} x {args.chunk} chunks, {args.rounds} rounds, "
          "medians of processor time:")
    for name, (whole_run, tiled_run) in pairs.items():
        whole_times, tiled_times = [], []
        for round_number in range(args.rounds):
            runs = [(whole_times, whole_run), (tiled_times, tiled_run)]
            if round_number % 2:
                runs.reverse()
            results = []
            for times, run in runs:
                seconds, result = processor_seconds(run)
                times.append(seconds)
                results.append(result)
            assert numpy.array_equal(results[0], results[1]), "outputs differ"
        whole, tiled = statistics.median(whole_times), statistics.median(tiled_times)
        print(f"  {name:8}  whole {whole:.2f} s, tiled {tiled:.2f} s, tiled / whole {tiled / whole:.3f}")
    print("Outputs byte-identical.")


def reset_peak():
    """Starts the process's peak resident memory afresh (Linux).  getrusage's
    ru_maxrss cannot be reset, and a worker forked from this process starts
    with this process's peak in it."""
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")


def peak_megabytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def cluster(args):
    import zarr
    from dask.distributed import Client, LocalCluster

    with tempfile.TemporaryDirectory() as folder:
        image = chart(args.side, folder)
        source, target = f"{folder}/in.zarr", f"{folder}/out.zarr"
        zarr.save_array(source, image, chunks=(args.chunk, args.chunk))
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=":0") as workers, Client(workers) as client:
            client.run(reset_peak)
            before = client.run(peak_megabytes)
            start = time.perf_counter()
            quillmorph.dask.upscale(da.from_zarr(source)).to_zarr(target)
            wall = time.perf_counter() - start
            peaks = client.run(peak_megabytes)
        print(f"{args.side} x {args.side} zarr ({args.chunk} x {args.chunk} chunks) to zarr on two "
              f"worker processes: {wall:.1f} s wall")
        for worker, peak in sorted(peaks.items()):
            print(f"  worker {worker}: peak resident memory {peak:.0f} MB "
                  f"(at the start {before[worker]:.0f} MB)")

        whole = quillmorph.upscale(image)
        output = zarr.open(target, mode="r")
        rng = numpy.random.default_rng(16384)
        tile = 512
        for _ in range(args.samples):
            y = int(rng.integers(0, 2 * args.side - tile))
            x = int(rng.integers(0, 2 * args.side - tile))
            if not numpy.array_equal(output[y:y + tile, x:x + tile], whole[y:y + tile, x:x + tile]):
                sys.exit(f"tile at {(y, x)} differs from the whole-image call")
        print(f"{args.samples} sampled {tile} x {tile} tiles equal the whole-image call's")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mode", choices=["overhead", "cluster"])
    parser.add_argument("--side", type=int)
    parser.add_argument("--chunk", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--samples", type=int, default=8)
    args = parser.parse_args()
    if args.mode == "overhead":
        args.side = args.side or 4096
        overhead(args)
    else:
        args.side = args.side or 16384
        cluster(args)


if __name__ == "__main__":
    main()
