"""Many files: in this process, or several at once in worker processes
where there are files and processors to spare (decoding and encoding run
on one thread, so files side by side beat threads alone).  A file that
fails is reported and the others go on; an interrupted run stops every
worker, each of which removes its temporary file."""

import gc
import multiprocessing
import os
import signal
import time
from concurrent.futures import FIRST_COMPLETED, Future, ProcessPoolExecutor, wait
from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional

from .convert import Settings, convert

# Workers report rows at most this often, in seconds.
REPORT_INTERVAL = 0.1


@dataclass(frozen=True)
class Job:
    index: int
    source: str
    target: str
    rows: int  # planned, for the progress bars


@dataclass
class Outcome:
    index: int
    notes: List[str] = field(default_factory=list)
    error: Optional[str] = None


# Callbacks of the run's display: started(index), advanced(index, rows),
# finished(outcome).
@dataclass
class Display:
    started: Callable[[int], None]
    advanced: Callable[[int, int], None]
    finished: Callable[[Outcome], None]


def describe(error: BaseException) -> str:
    """A sentence about a failure, without Python's decoration."""
    if isinstance(error, MemoryError):
        return "there is not enough memory to upscale it"
    if isinstance(error, OSError) and error.strerror:
        where = f" ({error.filename})" if error.filename else ""
        return f"{error.strerror[0].lower()}{error.strerror[1:]}{where}"
    return str(error) or type(error).__name__


def run_job(job: Job, settings: Settings, advance: Callable[[int], None]) -> Outcome:
    try:
        return Outcome(job.index, notes=convert(job.source, job.target, settings, advance))
    except Exception as error:  # noqa: BLE001 - every failure is reported, and the run goes on
        return Outcome(job.index, error=describe(error))


def run_here(jobs: List[Job], settings: Settings, display: Display) -> None:
    for job in jobs:
        display.started(job.index)
        outcome = run_job(job, settings, lambda rows, i=job.index: display.advanced(i, rows))
        display.finished(outcome)


def run_in_workers(jobs: List[Job], settings: Settings, workers: int, display: Display) -> None:
    context = multiprocessing.get_context("spawn")
    reports = context.Queue()
    # Ignored while the workers start, so that they start ignoring it: Ctrl-C
    # reaches every process of the terminal's group, and this one stops them.
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        executor = ProcessPoolExecutor(workers, mp_context=context, initializer=_start_worker,
                                       initargs=(reports,))
        futures: Dict[Future, Job] = {
            executor.submit(_work, job, settings): job for job in jobs}
    finally:
        signal.signal(signal.SIGINT, previous)
    pids: List[int] = []
    try:
        pending = set(futures)
        while pending:
            done, pending = wait(pending, timeout=REPORT_INTERVAL, return_when=FIRST_COMPLETED)
            _relay(reports, pids, display)
            for future in done:
                display.finished(_outcome(future, futures[future]))
        executor.shutdown()
        _relay(reports, pids, display)  # the last rows, which may trail the results
    except BaseException:
        for future in futures:
            future.cancel()
        _relay(reports, pids, display)  # workers that started since
        for pid in pids:
            _terminate(pid)
        executor.shutdown(wait=True)
        reports.close()
        reports.join_thread()
        # The process may end by a signal next, before any finalizer runs:
        # the queues' semaphores are released now, or the resource tracker
        # would warn of them.
        del executor, reports, futures
        gc.collect()
        raise


def _relay(reports, pids: List[int], display: Display) -> None:
    while not reports.empty():
        kind, *values = reports.get()
        if kind == "pid":
            pids.append(values[0])
        elif kind == "start":
            display.started(values[0])
        else:
            display.advanced(values[0], values[1])


def _outcome(future: Future, job: Job) -> Outcome:
    try:
        return future.result()
    except Exception as error:  # noqa: BLE001 - a worker that died
        return Outcome(job.index, error=f"its worker process stopped ({describe(error)})")


def _terminate(pid: int) -> None:
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass


# In each worker process: where its reports go, and whether it was told to
# stop (it then leaves the jobs already queued for it).
_reports = None
_stopping = False


def _start_worker(reports) -> None:
    global _reports
    _reports = reports
    signal.signal(signal.SIGTERM, _stop_worker)
    reports.put(("pid", os.getpid()))


def _stop_worker(signum: int, frame) -> None:
    global _stopping
    _stopping = True
    # Once only: a second signal (the pool terminates every worker when one
    # has ended) must not cut short the unwinding of the first.
    signal.signal(signum, signal.SIG_IGN)
    # Unwinds the job, whose output removes its temporary file on the way.
    raise SystemExit(128 + signum)


def _work(job: Job, settings: Settings) -> Outcome:
    if _stopping:
        return Outcome(job.index, error="interrupted")
    _reports.put(("start", job.index))
    pending = 0
    last = time.monotonic()

    def advance(rows: int) -> None:
        nonlocal pending, last
        pending += rows
        now = time.monotonic()
        if now - last >= REPORT_INTERVAL:
            _reports.put(("rows", job.index, pending))
            pending, last = 0, now

    outcome = run_job(job, settings, advance)
    if pending:
        _reports.put(("rows", job.index, pending))
    return outcome
