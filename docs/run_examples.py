#!/usr/bin/env python3
"""Runs the code examples of README.md and docs/*.md, so that they cannot go stale.

An example is a fenced block whose info string starts with its language and
the word run; words after it say what it needs:

    ```python run needs=dask,zarr files=scan.zarr
    ```c run files=lrimg.pgm args=lrimg.pgm,hrimg.pgm

  needs=a,b   Python modules (python) or programs (sh) it needs; without
              them the example is skipped, saying so.
  files=x,y   files the example expects in its folder, made here first
              by their extension (make_fixture): .pgm a chart, .png a
              small colour picture, .tif a 16-bit TIFF (a (Z, Y, X) stack
              when its name says stack), .zarr an 8-bit zarr array.
  args=x,y    a C example's command-line arguments.

Every example runs in a scratch folder of its own: sh examples with bash
(-e -o pipefail) and the build's Quillmorph and make_chart first on PATH,
and with --python-path the package's qmorph command;
C examples compiled as C99 with warnings as errors against the build tree's
header and shared library, then run; Python examples with this interpreter
and the build's package first on PYTHONPATH.  A block in sh, c or python
that does not run says why in an HTML comment on the line before it:
<!-- not run: REASON -->.

    run_examples.py --language sh|c|python|js [options] FILE...
    run_examples.py --links FILE...

--links instead checks that every relative link of the files leads to a
file that exists (and a heading, for #anchors in Markdown files), and that
every sh, c and python block is marked as run or not run.

Prints a line per example and "N passed, N failed, N skipped"; exits 1 when
one failed.  When none could run at all it says "No example ran:".
"""

import argparse
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

LANGUAGES = ("sh", "c", "python", "js")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FENCE = re.compile(r"^(\s*)(`{3,})(.*)$")
NOT_RUN = re.compile(r"^\s*<!-- not run: .+ -->\s*$")
TIMEOUT = 300  # seconds an example may take; the slowest starts a Dask cluster


def shown(path):
    """A path as the messages show it: from the project's root."""
    return os.path.relpath(os.path.abspath(path), ROOT)


class Example:
    def __init__(self, path, line, language, words, code, not_run):
        self.path, self.line, self.language, self.code = path, line, language, code
        self.runs = bool(words) and words[0] == "run"
        self.not_run = not_run
        self.options = dict(word.split("=", 1) for word in words[1:] if "=" in word)

    def listed(self, key):
        value = self.options.get(key, "")
        return [item for item in value.split(",") if item]

    def where(self):
        return f"{shown(self.path)}:{self.line}"


def examples_in(path):
    """Every fenced block of a Markdown file, with its info string."""
    with open(path, encoding="utf-8") as file:
        lines = file.read().split("\n")
    found = []
    index = 0
    while index < len(lines):
        opening = FENCE.match(lines[index])
        if not opening:
            index += 1
            continue
        indent, fence, info = opening.groups()
        words = info.split()
        language = words[0] if words else ""
        not_run = index > 0 and bool(NOT_RUN.match(lines[index - 1]))
        body = []
        index += 1
        while index < len(lines) and lines[index].strip() != fence:
            line = lines[index]
            body.append(line[len(indent):] if line.startswith(indent) else line.lstrip())
            index += 1
        found.append(Example(path, index - len(body), language, words[1:], "\n".join(body) + "\n",
                             not_run))
        index += 1
    return found


# ---- Files the examples expect ---------------------------------------------


def write_png(path, pixels, width, height, channels):
    """A PNG of 8-bit samples, rows of width * channels bytes, with zlib alone."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    color_type = {1: 0, 3: 2}[channels]
    rows = b"".join(b"\0" + bytes(pixels[y * width * channels:(y + 1) * width * channels])
                    for y in range(height))
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n")
        file.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, color_type, 0, 0, 0)))
        file.write(chunk(b"IDAT", zlib.compress(rows)))
        file.write(chunk(b"IEND", b""))


def photo_pixels(width, height, channels, seed):
    """A small RGB or gray picture: a disc and a slanted edge on a gradient."""
    pixels = []
    for y in range(height):
        for x in range(width):
            disc = (x - width / 3) ** 2 + (y - height / 2) ** 2 < (height / 4) ** 2
            edge = 2 * x + y > 1.4 * width + seed
            base = 40 + (150 * x) // width
            value = 230 if disc else (25 if edge else base)
            pixels.extend([value, (value + 30 * seed) % 256, 255 - value][:channels])
    return pixels


PYTHON_FIXTURES = {
    # name: (modules it needs, code that writes it to the path `path`)
    ".tif": (["numpy", "tifffile"], """
import numpy, tifffile
y, x = numpy.mgrid[0:48, 0:64]
image = ((x * 1000 + y * 300 + (x - 20) ** 2 * 40) % 65536).astype(numpy.uint16)
if "stack" in path:
    image = numpy.stack([image, image[::-1], image[:, ::-1]])  # (Z, Y, X)
tifffile.imwrite(path, image)
"""),
    ".zarr": (["numpy", "zarr"], """
import numpy, zarr
y, x = numpy.mgrid[0:96, 0:128]
array = zarr.open(path, mode="w", shape=(96, 128), chunks=(48, 64), dtype="u1")
array[:] = ((x * 3 + y * 2) % 256).astype(numpy.uint8)
"""),
}


def make_fixture(name, folder, tools, python):
    """Writes the file an example expects; returns why it could not, or None."""
    path = os.path.join(folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    extension = os.path.splitext(name)[1]
    if extension == ".pgm":
        subprocess.run([tools.make_chart, path, "64"], check=True, stdout=subprocess.DEVNULL)
        return None
    if extension == ".png":
        seed = sum(name.encode()) % 7
        write_png(path, photo_pixels(96, 64, 3, seed), 96, 64, 3)
        return None
    if extension in PYTHON_FIXTURES:
        modules, code = PYTHON_FIXTURES[extension]
        lacking = missing_modules(python, modules)
        if lacking:
            return f"{name} needs the Python modules {', '.join(lacking)}"
        subprocess.run([python, "-c", f"path = {path!r}\n" + code], check=True)
        return None
    raise ValueError(f"no way to make the file {name} (run_examples.py, make_fixture)")


def missing_modules(python, modules, environment=None):
    lacking = []
    for module in modules:
        probe = subprocess.run([python, "-c", f"import {module}"], env=environment,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if probe.returncode != 0:
            lacking.append(module)
    return lacking


# ---- Running ----------------------------------------------------------------


def run_example(example, settings, folder):
    """(outcome, detail): outcome is passed, failed or skipped."""
    if example.language == "python":
        lacking = missing_modules(settings.python, example.listed("needs"),
                                  settings.python_environment)
        if lacking:
            return "skipped", f"needs the Python modules {', '.join(lacking)}"
    elif example.language == "sh":
        lacking = [program for program in example.listed("needs")
                   if not shutil.which(program, path=settings.shell_environment["PATH"])]
        if lacking:
            return "skipped", f"needs {', '.join(lacking)}"
    for name in example.listed("files"):
        try:
            reason = make_fixture(name, folder, settings, settings.python)
        except (OSError, subprocess.CalledProcessError) as error:
            return "failed", f"could not make {name}: {error}"
        if reason:
            return "skipped", reason

    if example.language == "sh":
        command = ["bash", "-e", "-o", "pipefail", "-c", example.code]
        environment = settings.shell_environment
    elif example.language == "python":
        source = os.path.join(folder, "example.py")
        with open(source, "w", encoding="utf-8") as file:
            file.write(example.code)
        command = [settings.python, source]
        environment = settings.python_environment
    elif example.language == "js":
        # The package is found by its name, as its users import it.
        modules = os.path.join(folder, "node_modules")
        os.makedirs(modules)
        os.symlink(os.path.join(ROOT, "js"), os.path.join(modules, "quillmorph"))
        source = os.path.join(folder, "example.mjs")
        with open(source, "w", encoding="utf-8") as file:
            file.write(example.code)
        command = ["node", source]
        environment = os.environ.copy()
    else:
        source = os.path.join(folder, "example.c")
        with open(source, "w", encoding="utf-8") as file:
            file.write(example.code)
        program = os.path.join(folder, "example")
        library_dir = os.path.dirname(settings.library)
        compiler = subprocess.run(
            [settings.cc, "-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror",
             "-I", settings.include, source, settings.library, f"-Wl,-rpath,{library_dir}",
             "-o", program], capture_output=True, text=True)
        if compiler.returncode != 0:
            return "failed", "does not compile:\n" + compiler.stdout + compiler.stderr
        command = [program] + example.listed("args")
        environment = os.environ.copy()
    try:
        result = subprocess.run(command, cwd=folder, env=environment, capture_output=True,
                                text=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return "failed", f"still running after {TIMEOUT} s"
    if result.returncode != 0:
        return "failed", f"exit status {result.returncode}:\n{result.stdout}{result.stderr}"
    return "passed", ""


def shell_environment(tools, scratch):
    bin_dir = os.path.join(scratch, "bin")
    os.makedirs(bin_dir)
    for program in (tools.quillmorph, tools.make_chart):
        os.symlink(os.path.abspath(program), os.path.join(bin_dir, os.path.basename(program)))
    if tools.python_path:
        # The package's qmorph command, as its console script runs it.
        qmorph = os.path.join(bin_dir, "qmorph")
        with open(qmorph, "w", encoding="utf-8") as script:
            script.write(f"#!/bin/sh\nPYTHONPATH={shlex.quote(os.path.abspath(tools.python_path))}"
                         f'${{PYTHONPATH:+:$PYTHONPATH}} exec {shlex.quote(tools.python)} '
                         '-m quillmorph "$@"\n')
        os.chmod(qmorph, 0o755)
    environment = os.environ.copy()
    environment["PATH"] = bin_dir + os.pathsep + environment.get("PATH", "")
    return environment


def run_examples(settings, paths):
    examples = [example for path in paths for example in examples_in(path)
                if example.language == settings.language and example.runs]
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    with tempfile.TemporaryDirectory() as scratch:
        settings.shell_environment = shell_environment(settings, scratch)
        settings.python_environment = os.environ.copy()
        if settings.python_path:
            settings.python_environment["PYTHONPATH"] = os.pathsep.join(
                [settings.python_path] + [p for p in [os.environ.get("PYTHONPATH")] if p])
        settings.python_environment["PYTHONDONTWRITEBYTECODE"] = "1"
        blocked = None
        if settings.language == "python" and missing_modules(
                settings.python, ["quillmorph"], settings.python_environment):
            blocked = "the quillmorph package is not built (Python's development files and numpy)"
        if settings.language == "js" and not os.path.exists(
                os.path.join(ROOT, "js", "dist", "quillmorph_wasm.wasm")):
            blocked = "the WebAssembly module is not built (npm --prefix js run build)"
        if settings.language == "js" and not shutil.which("node"):
            blocked = "no node (Node 18 or newer)"
        if settings.language == "c" and not (settings.library and settings.include):
            blocked = "no library given (--library, --include)"
        if settings.language == "c" and not shutil.which(settings.cc):
            blocked = f"no C compiler ({settings.cc}; apt-get install gcc)"
        for number, example in enumerate(examples):
            if blocked:
                outcome, detail = "skipped", blocked
            else:
                folder = os.path.join(scratch, f"example{number}")
                os.makedirs(folder)
                outcome, detail = run_example(example, settings, folder)
            counts[outcome] += 1
            print(f"{example.where()}: {outcome}" + (f": {detail}" if detail else ""), flush=True)
    if counts["passed"] == 0 and counts["failed"] == 0:
        print(f"No example ran: no {settings.language} example could run here")
    print(f"{counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 1 if counts["failed"] else 0


# ---- Links and marks -----------------------------------------------------------

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def heading_anchors(path):
    """The anchors GitHub gives the headings of a Markdown file."""
    anchors = set()
    in_fence = False
    with open(path, encoding="utf-8") as file:
        for line in file:
            if FENCE.match(line):
                in_fence = not in_fence
            elif not in_fence and line.startswith("#"):
                text = line.lstrip("#").strip().lower()
                text = re.sub(r"[^\w\- ]", "", text)
                anchors.add(text.replace(" ", "-"))
    return anchors


def check_links(paths):
    problems = []
    for path in paths:
        with open(path, encoding="utf-8") as file:
            text = file.read()
        prose = re.sub(r"```.*?```", "", text, flags=re.S)
        for target in LINK.findall(prose):
            if re.match(r"^[a-z]+:", target):
                continue  # http:, https:, mailto: are not checked (no network)
            file_part, _, anchor = target.partition("#")
            linked = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) \
                if file_part else path
            if not os.path.exists(linked):
                problems.append(f"{shown(path)}: the link {target} leads nowhere")
            elif anchor and linked.endswith(".md") and anchor not in heading_anchors(linked):
                problems.append(f"{shown(path)}: {shown(linked)} has no heading #{anchor}")
        for example in examples_in(path):
            if example.language in LANGUAGES and not example.runs and not example.not_run:
                problems.append(f"{example.where()}: a {example.language} block neither marked "
                                f"run nor preceded by <!-- not run: REASON -->")
    for problem in problems:
        print(problem)
    print(f"{len(paths)} files checked: {len(problems)} problems")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--links", action="store_true", help="check links and marks instead")
    parser.add_argument("--language", choices=LANGUAGES)
    parser.add_argument("--tool", default="build/Quillmorph", help="the Quillmorph program")
    parser.add_argument("--make-chart", default="build/make_chart", help="make_chart")
    parser.add_argument("--include", help="the folder of quillmorph.h (C examples)")
    parser.add_argument("--library", help="the shared library to link (C examples)")
    parser.add_argument("--cc", default=os.environ.get("CC", "cc"), help="the C compiler")
    parser.add_argument("--python-path", help="the folder holding the quillmorph package")
    parser.add_argument("files", nargs="+")
    settings = parser.parse_args()
    if settings.links:
        return check_links(settings.files)
    if not settings.language:
        parser.error("--language or --links is needed")
    # Examples run in folders of their own: every path is made absolute.
    for name in ("tool", "make_chart", "include", "library", "python_path"):
        if getattr(settings, name):
            setattr(settings, name, os.path.abspath(getattr(settings, name)))
    settings.quillmorph = settings.tool
    settings.python = sys.executable
    return run_examples(settings, settings.files)


if __name__ == "__main__":
    sys.exit(main())
