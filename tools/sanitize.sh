#!/usr/bin/env bash
# Builds velarto with AddressSanitizer and UndefinedBehaviorSanitizer (gcc)
# into build/asan and runs the test suite against that build.
#
#   tools/sanitize.sh                      # the whole suite
#   tools/sanitize.sh tests/test_types.py  # only the given files (any pytest arguments)
#
# The interpreter itself is not instrumented, so the ASan runtime has to be
# loaded before anything else: it is preloaded into the Python process.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/asan"
# The interpreter binary itself: a launcher script (pyenv's shims are bash)
# would otherwise be what the sanitizer runtime is preloaded into.
python="${PYTHON:-$(python3 -c 'import sys; print(sys.executable)')}"

CC=gcc CXX=g++ cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELARTO_SANITIZE=ON \
    -DPython_EXECUTABLE="$python" >/dev/null
ninja -j2 -C "$build"

libasan="$(gcc -print-file-name=libasan.so)"
if [[ ! -e "$libasan" ]]; then
    echo "sanitize.sh: gcc's libasan.so was not found ($libasan)" >&2
    exit 1
fi

# Leak detection is on: the interpreter frees its objects at exit, and the
# few allocations it keeps on purpose are listed in tools/lsan.supp.
# VELARTO_DETECT_LEAKS=0 turns it off (for a quick look at one file).
export ASAN_OPTIONS="detect_leaks=${VELARTO_DETECT_LEAKS:-1}:abort_on_error=1:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Python's small-object allocator hides heap errors from ASan; plain malloc does not.
export PYTHONMALLOC=malloc
export VELARTO_SANITIZED=1
export PYTHONPATH="$build${PYTHONPATH:+:$PYTHONPATH}"
# The deep-type tests keep their full depth of a million nested applications:
# instrumented they take about ten seconds each, and ASan's larger frames would
# only make a recursive walk fail sooner. VELARTO_DEEP_TYPE_DEPTH can lower it.

# The leak tests measure growth over many runs. Under ASan only tracemalloc
# can see growth (plain malloc leaves no block count, and glibc's statistics
# do not see ASan's heap); 5,000 runs still put a leak of one small object
# per call well above its slack, and take a quarter of the time.
export VELARTO_LEAK_ITERATIONS="${VELARTO_LEAK_ITERATIONS:-5000}"

cd "$root"
if [[ $# -eq 0 ]]; then
    set -- tests
fi
LD_PRELOAD="$libasan${LD_PRELOAD:+:$LD_PRELOAD}" "$python" -m pytest -q -p no:cacheprovider "$@"
