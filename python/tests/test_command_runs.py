"""qmorph as a program: the forms and wrong usage, failures among good
files, existing outputs, links and pipes as outputs, a missing reader,
Ctrl-C in the middle of a batch, and the progress bar on a terminal only."""

import os
import pty
import signal
import subprocess
import sys
import threading
import time

import numpy
import pytest
from numpy.testing import assert_array_equal

import quillmorph
from command_files import qmorph, read_pillow, read_tiff, samples, write_pillow, write_pnm

SIDES = (40, 33)


@pytest.fixture
def png(tmp_path):
    """in.png, 8-bit RGB, and what its output must hold."""
    image = samples(SIDES + (3,), 255)
    write_pillow(tmp_path / "in.png", image)
    return quillmorph.upscale(image)


# (arguments, what the message says)
WRONG_USAGE = [
    (["--scale", "3", "in.png", "out.png"], "doubled once (2), twice (4) or three times (8)"),
    (["in.png"], "give one input and one output"),
    (["in.png", "a.png", "b.png"], "give one input and one output"),
    (["in.png", "-o", "missing"], "-o missing: no such directory"),
    (["--threads", "-1", "in.png", "out.png"], "--threads -1"),
    (["--maxval", "65536", "in.png", "out.png"], "it must lie in 1..65535"),
    (["--format", "gif", "in.png", "out.png"], "invalid choice: 'gif'"),
    (["in.png", "out.gif"], "out.gif: its extension names no format; give --format"),
]


@pytest.mark.parametrize("arguments, message", WRONG_USAGE)
def test_wrong_usage_exits_with_status_2_and_writes_nothing(arguments, message, tmp_path, png):
    run = qmorph(*arguments, cwd=tmp_path)
    assert (run.returncode, run.stdout) == (2, "")
    assert message in run.stderr
    assert sorted(os.listdir(tmp_path)) == ["in.png"]


def test_help_has_examples_and_version_is_the_librarys(tmp_path):
    assert "qmorph *.png -o out/ --format tiff" in qmorph("--help", cwd=tmp_path).stdout
    version = qmorph("--version", cwd=tmp_path).stdout
    assert version == f"qmorph (quillmorph) {quillmorph.__version__}\n"


def test_failed_files_are_named_and_the_others_written(tmp_path, png):
    (tmp_path / "corrupt.png").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(100))
    (tmp_path / "notes.txt").write_text("not an image")
    write_pillow(tmp_path / "small.png", numpy.zeros((2, 9), numpy.uint8))
    deep = numpy.full((5, 5), 4000, numpy.uint16)
    deep[2, 2] = 5000
    write_pnm(tmp_path / "above.pgm", deep, 4095)
    (tmp_path / "out").mkdir()
    (tmp_path / "again").mkdir()
    (tmp_path / "again" / "in.png").write_bytes((tmp_path / "in.png").read_bytes())
    inputs = ["corrupt.png", "in.png", "notes.txt", "small.png", "above.pgm", "missing.png",
              os.path.join("again", "in.png")]
    run = qmorph(*inputs, "-o", "out", cwd=tmp_path)
    assert run.returncode == 1
    assert os.listdir(tmp_path / "out") == ["in.png"]
    assert_array_equal(read_pillow(tmp_path / "out" / "in.png"), png)
    failed = sorted(line.split(": ")[1] for line in run.stderr.splitlines()[:-1])
    assert failed == sorted(set(inputs) - {"in.png"}), run.stderr
    assert "each side must be 3 or more" in run.stderr and "above maxval=4095" in run.stderr
    assert f"in.png is written to {os.path.join('out', 'in.png')} too" in run.stderr
    assert run.stderr.endswith("qmorph: 6 of 7 files failed\n")


def test_an_existing_output_is_replaced_with_overwrite_only(tmp_path, png):
    (tmp_path / "out").mkdir()
    for existing in (tmp_path / "out.png", tmp_path / "out" / "in.png"):
        existing.write_bytes(b"kept")
        existing.chmod(0o640)
    for arguments in (["in.png", "out.png"], ["in.png", "-o", "out"]):
        run = qmorph(*arguments, cwd=tmp_path)
        assert run.returncode == 1 and "give --overwrite to replace it" in run.stderr
        assert qmorph(*arguments, "--overwrite", cwd=tmp_path).returncode == 0
    for written in (tmp_path / "out.png", tmp_path / "out" / "in.png"):
        assert_array_equal(read_pillow(written), png)
        assert written.stat().st_mode & 0o777 == 0o640  # the replaced file's permissions
    assert sorted(os.listdir(tmp_path / "out")) == ["in.png"]  # no temporary file stays


def test_outputs_in_a_directory_are_named_after_their_inputs(tmp_path, png):
    (tmp_path / "out").mkdir()
    assert qmorph("in.png", "out", cwd=tmp_path).returncode == 0
    assert qmorph("in.png", "-o", "out", "--format", "tiff", cwd=tmp_path).returncode == 0
    assert sorted(os.listdir(tmp_path / "out")) == ["in.png", "in.tif"]
    assert_array_equal(read_tiff(tmp_path / "out" / "in.tif"), png)


def test_a_link_is_followed_and_stays_a_link_and_a_pipe_is_written_directly(tmp_path, png):
    (tmp_path / "real.png").write_bytes(b"old")
    os.chmod(tmp_path / "real.png", 0o640)
    os.link(tmp_path / "real.png", tmp_path / "hard.png")
    os.symlink("real.png", tmp_path / "link.png")
    assert qmorph("in.png", "link.png", "--overwrite", cwd=tmp_path).returncode == 0
    assert os.readlink(tmp_path / "link.png") == "real.png"
    assert os.path.samefile(tmp_path / "real.png", tmp_path / "hard.png")  # written in place
    assert os.stat(tmp_path / "real.png").st_mode & 0o777 == 0o640
    assert_array_equal(read_pillow(tmp_path / "hard.png"), png)

    os.mkfifo(tmp_path / "pipe.png")
    received = []
    reader = threading.Thread(target=lambda: received.append((tmp_path / "pipe.png").read_bytes()))
    reader.start()
    assert qmorph("in.png", "pipe.png", cwd=tmp_path).returncode == 0
    reader.join()
    (tmp_path / "piped.png").write_bytes(received[0])
    assert_array_equal(read_pillow(tmp_path / "piped.png"), png)


def test_a_missing_reader_is_named_with_its_package(tmp_path, png):
    blocked = tmp_path / "blocked" / "PIL"
    blocked.mkdir(parents=True)
    (blocked / "__init__.py").write_text("raise ImportError('hidden by the test')\n")
    path = os.pathsep.join([str(tmp_path / "blocked"), os.environ.get("PYTHONPATH", "")])
    run = qmorph("in.png", "out.png", cwd=tmp_path, env={**os.environ, "PYTHONPATH": path})
    assert run.returncode == 1
    assert "need Pillow" in run.stderr and "apt-get install python3-pil" in run.stderr


def batch(tmp_path, count):
    """count PNG files, large enough for a run to take a while."""
    images = []
    for index in range(count):
        images.append(samples((600, 500), 255, seed=index))
        write_pillow(tmp_path / f"in{index}.png", images[-1])
    (tmp_path / "out").mkdir()
    return [f"in{index}.png" for index in range(count)], images


def wait_for(condition, what):
    """Polls condition; fails the test after a minute without it."""
    for _ in range(600):
        if condition():
            return
        time.sleep(0.1)
    pytest.fail(f"waited in vain for {what}")


# (whom the signal is sent to, options): several files at once in worker
# processes, or one at a time in the command's own.
INTERRUPTIONS = [
    ("the command", []),
    ("the terminal's process group", []),
    ("the terminal's process group", ["--threads", "1"]),
]


@pytest.mark.parametrize("whom, options", INTERRUPTIONS)
def test_ctrl_c_in_the_middle_of_a_batch_leaves_no_partial_file(whom, options, tmp_path):
    inputs, images = batch(tmp_path, 16)  # 3 MB: worth worker processes
    installed = os.environ.get("QUILLMORPH_QMORPH")
    command = [installed] if installed else [sys.executable, "-m", "quillmorph"]
    process = subprocess.Popen(command + inputs + ["-o", "out", "--scale", "4"] + options,
                               cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    out = tmp_path / "out"
    wait_for(lambda: any(name.startswith(".qmorph.") for name in os.listdir(out)),
             "a file being written")
    if whom == "the command":
        process.send_signal(signal.SIGINT)
    else:
        os.killpg(process.pid, signal.SIGINT)
    _, errors = process.communicate(timeout=120)
    assert process.returncode == -signal.SIGINT
    assert b"interrupted" in errors
    written = os.listdir(out)
    assert not [name for name in written if not name.startswith("in")], written
    assert len(written) < len(inputs)
    for name in written:
        index = int(name[2:-4])
        twice = quillmorph.upscale(quillmorph.upscale(images[index]))
        assert_array_equal(read_pillow(out / name), twice, name)


def test_a_progress_bar_on_a_terminal_and_none_on_a_pipe(tmp_path):
    inputs, _ = batch(tmp_path, 2)
    piped = qmorph(*inputs, "-o", "out", cwd=tmp_path)
    assert piped.returncode == 0 and "rows" not in piped.stderr and "\r" not in piped.stderr
    written = [f"{name} -> {os.path.join('out', name)}" for name in inputs]
    assert sorted(piped.stdout.splitlines()) == written  # in the order the files finish

    installed = os.environ.get("QUILLMORPH_QMORPH")
    command = [installed] if installed else [sys.executable, "-m", "quillmorph"]
    controller, terminal = pty.openpty()
    process = subprocess.Popen(command + inputs + ["-o", "out", "--overwrite"], cwd=tmp_path,
                               stdin=subprocess.DEVNULL, stdout=terminal, stderr=terminal)
    os.close(terminal)
    shown = b""
    while True:
        try:
            chunk = os.read(controller, 65536)
        except OSError:  # the terminal's other end closed
            break
        if not chunk:
            break
        shown += chunk
    os.close(controller)
    assert process.wait() == 0
    assert b"2 files: 100%" in shown and b" rows" in shown, shown
