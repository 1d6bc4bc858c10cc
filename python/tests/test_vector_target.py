"""The vector code the package runs: named by vector_target(), chosen with
QUILLMORPH_CPU, refused as a whole when that names none that runs here.
Each case is a fresh interpreter, since the choice is made once a process."""

import json
import os
import subprocess
import sys

import pytest

PROBE = """
import json, numpy, quillmorph
image = (numpy.arange(63, dtype=numpy.uint16) * 997 % 4096).reshape(7, 9)
try:
    target = quillmorph.vector_target()
except quillmorph.Error as error:
    target = "refused: " + str(error)
try:
    result = quillmorph.upscale(image, maxval=4095).tobytes().hex()
except quillmorph.Error as error:
    result = "status %d" % error.status
print(json.dumps([target, result]))
"""


def probe(setting):
    env = dict(os.environ)
    env.pop("QUILLMORPH_CPU", None)
    if setting is not None:
        env["QUILLMORPH_CPU"] = setting
    run = subprocess.run([sys.executable, "-c", PROBE], env=env, capture_output=True, text=True,
                         check=True)
    return json.loads(run.stdout)


def test_every_copy_writes_the_same_bytes_and_the_setting_is_obeyed():
    chosen, expected = probe(None)
    assert chosen in ("avx512", "avx2", "sse2", "neon", "generic")
    for setting in ("generic", chosen):
        assert probe(setting) == [setting, expected]


@pytest.mark.parametrize("setting", ["pdp11", "Generic", "neon avx2"])
def test_a_copy_that_cannot_run_fails_every_call(setting):
    target, result = probe(setting)
    assert target.startswith("refused: QUILLMORPH_CPU names vector code")
    assert result == "status -9"
