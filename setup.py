"""Builds the quillmorph Python package with the project's CMake.

One build description: the extension module quillmorph._core is the CMake
target quillmorph_python (python/CMakeLists.txt), configured here with
QUILLMORPH_PYTHON=ON for the interpreter running this script and copied to
where setuptools packs it.  The version is the CMake project's.

Environment: QUILLMORPH_CMAKE_ARGS adds arguments to the CMake
configuration (e.g. "-DCMAKE_CXX_COMPILER=clang++"); CMAKE_BUILD_PARALLEL_LEVEL
sets the build's jobs (2 unless given).
"""

import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
# setuptools' own build tree; "build" would be the CMake build of a checkout.
BUILD_BASE = "build-pip"


def project_version():
    cmake_lists = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(Quillmorph VERSION ([0-9.]+)", cmake_lists).group(1)


class CMakeBuild(build_ext):
    """Builds each extension as the CMake target of the same module."""

    def build_extension(self, ext):
        if shutil.which("cmake") is None:
            sys.exit(
                "quillmorph needs CMake 3.18 or newer to build (Debian: apt-get install cmake)"
            )
        cmake_dir = pathlib.Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(cmake_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DQUILLMORPH_PYTHON=ON",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DQUILLMORPH_TESTS=OFF",
            "-DQUILLMORPH_BENCH=OFF",
        ] + shlex.split(os.environ.get("QUILLMORPH_CMAKE_ARGS", ""))
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(self.parallel or 2)
        subprocess.run(configure, check=True)
        subprocess.run(
            ["cmake", "--build", str(cmake_dir), "--target", "quillmorph_python", "-j", jobs],
            check=True,
        )
        name = ext.name.split(".")[-1]
        built = sorted((cmake_dir / "python" / "quillmorph").glob(name + ".*"))
        modules = [path for path in built if path.suffix in (".so", ".pyd")]
        if len(modules) != 1:
            sys.exit(f"expected one built {name} module, found {built}")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(modules[0], target)


# egg_info refuses a base that does not exist yet, as in a fresh checkout or
# an unpacked source distribution.
os.makedirs(BUILD_BASE, exist_ok=True)

setup(
    version=project_version(),
    package_dir={"": "python"},
    packages=["quillmorph", "quillmorph.cli"],
    package_data={"quillmorph": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("quillmorph._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": BUILD_BASE}, "egg_info": {"egg_base": BUILD_BASE}},
    zip_safe=False,
)
