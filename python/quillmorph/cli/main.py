"""qmorph: the command's run, from the arguments to the exit status."""

import os
import signal
import sys
from typing import Dict, List, Optional, Tuple

from . import arguments
from .batch import Display, Job, Outcome, run_here, run_in_workers
from .convert import Settings, planned_rows

SUCCESS, SOME_FAILED = 0, 1
# Starting a worker process (an interpreter, numpy, the readers) costs some
# 0.3 s, which smaller batches would not win back.
WORKERS_REPAID_BYTES = 2 << 20


def main(argv: Optional[List[str]] = None) -> int:
    request = arguments.parse(argv)  # exits with status 2 on wrong usage
    # A termination unwinds like Ctrl-C, so that no temporary file stays.
    signal.signal(signal.SIGTERM, _exit_on_signal)
    jobs, duplicates = _jobs(request)
    workers, threads = _workers(jobs, request.threads)
    settings = Settings(request.doublings, threads, request.maxval, request.overwrite,
                        request.format_name)
    show_bars = not request.quiet and sys.stderr.isatty()
    from .progress import Progress  # after the arguments: --help needs no tqdm

    every_job = jobs + [job for job, _ in duplicates]
    progress = Progress(sum(job.rows for job in jobs), len(every_job), show_bars)
    failures = [0]
    by_index = {job.index: job for job in every_job}
    display = Display(
        started=lambda index: progress.start(index, by_index[index].source, by_index[index].rows),
        advanced=progress.advance,
        finished=lambda outcome: _report(outcome, by_index, progress, request.quiet, failures),
    )
    for job, first in duplicates:
        _report(Outcome(job.index, error=f"{first.source} is written to {job.target} too"),
                by_index, progress, request.quiet, failures)
    try:
        if workers > 1:
            run_in_workers(jobs, settings, workers, display)
        else:
            run_here(jobs, settings, display)
    except KeyboardInterrupt as interruption:
        progress.close()
        print("qmorph: interrupted; no partial file was left", file=sys.stderr)
        _die_by(getattr(interruption, "signum", signal.SIGINT))
    progress.close()
    if failures[0] and len(every_job) > 1:
        print(f"qmorph: {failures[0]} of {len(every_job)} files failed", file=sys.stderr)
    return SOME_FAILED if failures[0] else SUCCESS


def _jobs(request: arguments.Request) -> Tuple[List[Job], List[Tuple[Job, Job]]]:
    """A job per input, and the jobs whose output an earlier job writes
    (each with that job): those fail."""
    with_bars = not request.quiet and sys.stderr.isatty()
    jobs, duplicates, writers = [], [], {}
    for index, (source, target) in enumerate(request.pairs):
        rows = planned_rows(source, request.doublings) if with_bars else 0
        job = Job(index, source, target, rows)
        first = writers.setdefault(os.path.realpath(target), job)
        if first is job:
            jobs.append(job)
        else:
            duplicates.append((job, first))
    return jobs, duplicates


def _workers(jobs: List[Job], threads: int) -> Tuple[int, int]:
    """How many files are worked at once, and the threads of each: a worker
    process per processor where the files repay starting them."""
    processors = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (
        os.cpu_count() or 1)
    budget = threads or processors
    workers = max(1, min(len(jobs), processors, budget))
    if sum(_size(job.source) for job in jobs) < WORKERS_REPAID_BYTES:
        workers = 1
    return workers, max(1, budget // workers)


def _size(path: str) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def _report(outcome: Outcome, jobs: Dict[int, Job], progress, quiet: bool, failures: list) -> None:
    job = jobs[outcome.index]
    progress.finish(outcome.index)
    if outcome.error:
        failures[0] += 1
        progress.message(f"qmorph: {job.source}: {outcome.error}", sys.stderr)
        return
    if quiet:
        return
    for note in outcome.notes:
        progress.message(f"{job.source}: {note}")
    progress.message(f"{job.source} -> {job.target}")


class Interrupted(KeyboardInterrupt):
    """A termination signal, unwinding as Ctrl-C does."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


def _exit_on_signal(signum: int, frame) -> None:
    raise Interrupted(signum)


def _die_by(signum: int) -> None:
    """Ends the process by the signal, as the shell expects of a command
    that was interrupted (status 128 + its number)."""
    sys.stdout.flush()
    sys.stderr.flush()
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)
    sys.exit(128 + signum)  # where the signal cannot end the process
