#!/usr/bin/env bash
# CI for the Python package: builds the source distribution, then a wheel
# from it the way users do (pip, through setup.py and the project's CMake),
# installs the wheel into a fresh virtual environment and runs the tests that
# the source distribution holds from outside it, so that they test what was
# installed and prove the source distribution complete.
#
#   python/ci.sh [BUILD_DIR]
#
# The tests compare with the command-line tool and the chart generator:
# those of BUILD_DIR when given (a CMake build of this checkout), otherwise
# built here in build-python-ci/.  PYTHON chooses the interpreter; by
# default the first python3 on PATH, or /usr/bin/python3, that has numpy
# and pytest.  Missing Debian packages are installed, as .ci/run does.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The qmorph command's readers, writers and progress bar, for its tests.
packages=(cmake g++ python3-build python3-dev python3-numpy python3-pytest python3-setuptools
          python3-wheel python3-venv python3-pil python3-tifffile python3-opencv python3-tqdm)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

python=${PYTHON:-}
if [ -z "$python" ]; then
  for candidate in "$(command -v python3 || true)" /usr/bin/python3; do
    if [ -n "$candidate" ] && "$candidate" -c "import numpy, pytest" 2>/dev/null; then
      python=$candidate
      break
    fi
  done
fi
if [ -z "$python" ]; then
  echo "No python3 with numpy and pytest (Debian: python3-numpy python3-pytest)" >&2
  exit 1
fi
echo "== Python package: $python ($("$python" --version 2>&1))"

build_dir=${1:-}
if [ -z "$build_dir" ]; then
  build_dir=build-python-ci
  cmake -S . -B "$build_dir" -DQUILLMORPH_TESTS=OFF -DQUILLMORPH_BENCH=OFF -DQUILLMORPH_PYTHON=OFF
  cmake --build "$build_dir" -j2 --target Quillmorph make_chart
fi
tool=$(cd "$build_dir" && pwd)/Quillmorph
make_chart=$(cd "$build_dir" && pwd)/make_chart
for program in "$tool" "$make_chart"; do
  [ -x "$program" ] || { echo "$program is not built" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset PYTHONPATH

echo "== A fresh virtual environment (with the system's numpy and pytest)"
"$python" -m venv --system-site-packages "$scratch/venv"
venv_python=$scratch/venv/bin/python

echo "== Source distribution"
# From outside the tree: there a CMake build directory named build would
# hide the build module.
(cd "$scratch" && "$venv_python" -m build --sdist --no-isolation --outdir "$scratch/dist" "$root")
sdists=("$scratch"/dist/quillmorph-*.tar.gz)
echo "built ${sdists[*]##*/}"
mkdir "$scratch/unpacked"
tar -xzf "${sdists[0]}" -C "$scratch/unpacked"
unpacked=("$scratch"/unpacked/quillmorph-*)

echo "== Wheel, from the source distribution alone"
"$venv_python" -m pip wheel --no-build-isolation --no-deps -w "$scratch/wheels" "${sdists[0]}"
wheels=("$scratch"/wheels/quillmorph-*.whl)
echo "built ${wheels[*]##*/}"

echo "== Installed into the environment"
"$venv_python" -m pip install --no-deps --no-index "${wheels[@]}"

echo "== The source distribution's tests of the installed package, run from $scratch/run"
mkdir "$scratch/run"
cd "$scratch/run"
installed=$("$venv_python" -c "import quillmorph; print(quillmorph.__file__)")
case $installed in
  "$scratch/venv/"*) echo "quillmorph imports from $installed" ;;
  *) echo "quillmorph imports from $installed, not the environment" >&2; exit 1 ;;
esac
# The qmorph tests run the console script the wheel installed.
[ -x "$scratch/venv/bin/qmorph" ] || { echo "the wheel installed no qmorph command" >&2; exit 1; }
PYTHONDONTWRITEBYTECODE=1 QUILLMORPH_EXE=$tool QUILLMORPH_MAKE_CHART=$make_chart \
  QUILLMORPH_QMORPH=$scratch/venv/bin/qmorph "$venv_python" -m pytest -q -p no:cacheprovider "${unpacked[0]}/python/tests"
