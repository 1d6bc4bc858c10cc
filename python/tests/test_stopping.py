"""Progress reports, cancellation, exceptions from the callback, Ctrl-C in a
long call, and no leaks from any way a call can end."""

import gc
import os
import signal
import subprocess
import sys
import textwrap
import threading

import numpy
import pytest
from numpy.testing import assert_array_equal

import quillmorph
from conftest import random_channels, random_image


class Recorder:
    """A progress callable that records its calls and answers stop_at."""

    def __init__(self, stop_at=None, answer=True):
        self.calls = []
        self.threads = set()
        self.stop_at = stop_at
        self.answer = answer

    def __call__(self, rows_done, rows_total):
        self.calls.append((rows_done, rows_total))
        self.threads.add(threading.get_ident())
        if self.stop_at is not None and rows_done >= self.stop_at:
            return self.answer
        return None


class ProgressFailed(Exception):
    pass


def failing_progress(rows_done, rows_total):
    raise ProgressFailed(f"{rows_done} of {rows_total}")


@pytest.mark.parametrize("shape", [(40, 30), (40, 30, 3)], ids=str)
@pytest.mark.parametrize("threads", [1, 2])
def test_progress_counts_every_row_on_the_calling_thread(shape, threads):
    image = random_channels(40, 30, 3) if len(shape) == 3 else random_image(40, 30)
    recorder = Recorder()
    result = quillmorph.upscale(image, threads=threads, progress=recorder)
    assert_array_equal(result, quillmorph.upscale(image))
    total = 80 * (shape[2] if len(shape) == 3 else 1)
    done = [rows_done for rows_done, _ in recorder.calls]
    assert done == sorted(done) and done[-1] == total
    assert {rows_total for _, rows_total in recorder.calls} == {total}
    assert recorder.threads == {threading.get_ident()}


# (case, image, stop at rows_done, the answer that stops)
CANCELLATIONS = [
    ("first report", random_image(40, 30), 0, True),
    ("half way", random_image(40, 30), 40, True),
    ("last report", random_image(40, 30), 80, True),
    ("any true value", random_image(40, 30), 40, 1),
    ("second channel", random_channels(40, 30, 3), 100, True),
]


@pytest.mark.parametrize(
    "case, image, stop_at, answer", CANCELLATIONS, ids=[row[0] for row in CANCELLATIONS]
)
def test_a_true_answer_cancels(case, image, stop_at, answer):
    recorder = Recorder(stop_at, answer)
    with pytest.raises(quillmorph.Cancelled, match="Cancelled by the progress callback") as raised:
        quillmorph.upscale(image, threads=2, progress=recorder)
    assert isinstance(raised.value, quillmorph.Error) and isinstance(raised.value, RuntimeError)
    assert raised.value.status < 0
    # The call stopped at the first true answer.
    assert recorder.calls[-1][0] >= stop_at
    assert [done for done, _ in recorder.calls if done >= stop_at] == [recorder.calls[-1][0]]


@pytest.mark.parametrize("shape", [(40, 30), (40, 30, 2)], ids=str)
def test_an_exception_from_progress_propagates_unchanged(shape):
    image = random_channels(40, 30, 2) if len(shape) == 3 else random_image(40, 30)
    raised = ProgressFailed("from the callback")
    calls = []

    def progress(rows_done, rows_total):
        calls.append(rows_done)
        if rows_done >= 16:
            raise raised

    with pytest.raises(ProgressFailed) as caught:
        quillmorph.upscale(image, threads=2, progress=progress)
    assert caught.value is raised
    assert calls[-1] == 16


# The child: a call long enough (some seconds) to be interrupted in the
# middle.  out starts at zero, which no row of the result is, so the rows
# written tell whether the call stopped part way.
INTERRUPTED_CHILD = """
    import signal, sys, numpy, quillmorph
    # A parent that ignores SIGINT would leave it ignored in the child.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    rng = numpy.random.default_rng(0)
    image = rng.integers(0, 256, (4096, 2048), dtype=numpy.uint8)
    out = numpy.zeros((8192, 4096), numpy.uint8)
    progress = (lambda done, total: None) if sys.argv[1] == "with progress" else None
    print("ready", flush=True)
    try:
        quillmorph.upscale(image, threads=1, out=out, progress=progress)
    except KeyboardInterrupt:
        started, finished = out[0].any(), out[-1].any()
        print("stopped part way" if started and not finished else "not part way", flush=True)
        raise
    print("finished", flush=True)
"""


@pytest.mark.skipif(sys.platform == "win32", reason="SIGINT to a child process is POSIX")
@pytest.mark.parametrize("progress", ["without progress", "with progress"])
def test_ctrl_c_stops_a_long_call(tmp_path, progress):
    script = tmp_path / "child.py"
    script.write_text(textwrap.dedent(INTERRUPTED_CHILD))
    child = subprocess.Popen(
        [sys.executable, str(script), progress],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        cwd=tmp_path,
    )
    try:
        assert child.stdout.readline() == "ready\n"
        # Let the call get going: a signal before it would stop nothing.
        threading.Event().wait(1.0)
        child.send_signal(signal.SIGINT)
        # A call that ignored the signal would finish and say so; the
        # timeout only keeps a hung child from hanging the tests, and is
        # generous for loaded machines.
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
        child.wait()
    assert out == "stopped part way\n", err
    assert "KeyboardInterrupt" in err
    assert child.returncode != 0


# The child: a daemon thread still inside a long call when the interpreter
# exits.  The rows written when the main thread ends tell that the call was
# under way.
SHUTDOWN_CHILD = """
    import sys, threading, numpy, quillmorph
    rng = numpy.random.default_rng(0)
    image = rng.integers(0, 256, (4096, 2048), dtype=numpy.uint8)
    out = numpy.zeros((8192, 4096), numpy.uint8)
    progress = (lambda done, total: None) if sys.argv[1] == "with progress" else None
    options = {"out": out, "threads": 2, "progress": progress}
    threading.Thread(target=quillmorph.upscale, args=(image,), kwargs=options, daemon=True).start()
    while not out[0].any():
        pass
    print("finished" if out[-1].any() else "mid-call", flush=True)
"""


@pytest.mark.parametrize("progress", ["without progress", "with progress"])
def test_the_interpreter_exits_cleanly_during_a_call(tmp_path, progress):
    script = tmp_path / "child.py"
    script.write_text(textwrap.dedent(SHUTDOWN_CHILD))
    child = subprocess.run(
        [sys.executable, str(script), progress], capture_output=True, text=True, cwd=tmp_path,
        timeout=120,
    )
    assert (child.returncode, child.stdout, child.stderr) == (0, "mid-call\n", "")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def end_every_way(image, out):
    """One call ending each way: success, cancelled, raised, refused."""
    quillmorph.upscale(image, out=out, threads=2)
    with pytest.raises(quillmorph.Cancelled):
        quillmorph.upscale(image, out=out, threads=2, progress=Recorder(stop_at=32))
    with pytest.raises(ProgressFailed):
        quillmorph.upscale(image, out=out, threads=2, progress=failing_progress)
    with pytest.raises(ValueError):
        quillmorph.upscale(image[:2], threads=2)


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm")
def test_no_leaks_however_calls_end():
    image = random_image(96, 96)
    out = numpy.empty((192, 192), numpy.uint8)
    for _ in range(20):
        end_every_way(image, out)
    gc.collect()
    references = sys.getrefcount(image), sys.getrefcount(out), sys.getrefcount(failing_progress)
    before = resident_bytes()
    for _ in range(200):
        end_every_way(image, out)
    gc.collect()
    # Each call takes some 400 KB of working memory and starts a thread: a
    # leak of either would add hundreds of MB.
    assert resident_bytes() - before < 16 << 20
    assert (
        sys.getrefcount(image),
        sys.getrefcount(out),
        sys.getrefcount(failing_progress),
    ) == references
