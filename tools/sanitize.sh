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
python="${PYTHON:-$(command -v python3)}"

CC=gcc CXX=g++ cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELARTO_SANITIZE=ON \
    -DPython_EXECUTABLE="$python" >/dev/null
ninja -C "$build"

libasan="$(gcc -print-file-name=libasan.so)"
if [[ ! -e "$libasan" ]]; then
    echo "sanitize.sh: gcc's libasan.so was not found ($libasan)" >&2
    exit 1
fi

# detect_leaks=0: CPython does not free its own allocations at exit, so the
# leak checker would report the interpreter rather than the module. Leaks of
# the module are looked for by tests/test_leaks.py instead.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Python's small-object allocator hides heap errors from ASan; plain malloc does not.
export PYTHONMALLOC=malloc
export PYTHONPATH="$build${PYTHONPATH:+:$PYTHONPATH}"
# The million-deep type test builds, prints, hashes and frees several trees of
# a million nodes; instrumented, that takes minutes rather than seconds. A
# depth of 200,000 still lies far beyond any C stack, so recursion would
# still crash.
export VELARTO_DEEP_TYPE_DEPTH="${VELARTO_DEEP_TYPE_DEPTH:-200000}"
# The leak tests measure growth over many runs; fewer runs keep the slack
# far below what a per-call leak would add, and save minutes.
export VELARTO_LEAK_ITERATIONS="${VELARTO_LEAK_ITERATIONS:-5000}"

cd "$root"
if [[ $# -eq 0 ]]; then
    set -- tests
fi
LD_PRELOAD="$libasan${LD_PRELOAD:+:$LD_PRELOAD}" "$python" -m pytest -q -p no:cacheprovider "$@"
