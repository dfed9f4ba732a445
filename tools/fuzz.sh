#!/usr/bin/env bash
# Runs the libFuzzer targets of the engine layer for a bounded time each.
#
#   tools/fuzz.sh [seconds-per-target] [target...]
#
# Targets live in fuzz/<name>_fuzz.cpp; each starts from the seed corpus in
# fuzz/corpus/<name> (copied, so the kept corpus stays small) and is built
# with AddressSanitizer and UBSan. A crash, a sanitizer report or a broken
# invariant (the targets abort on one) fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=()
    for source in fuzz/*_fuzz.cpp; do
        name="$(basename "$source" _fuzz.cpp)"
        targets+=("$name")
    done
fi
cxx="${CLANGXX:-$(command -v clang++ || command -v clang++-14)}"
out="build/fuzz"
mkdir -p "$out"
core_sources=(src/core/*.cpp)
for name in "${targets[@]}"; do
    binary="$out/${name}_fuzz"
    "$cxx" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I src "fuzz/${name}_fuzz.cpp" "${core_sources[@]}" -o "$binary"
    work="$out/corpus-$name"
    rm -rf "$work"
    mkdir -p "$work"
    cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    echo "== fuzzing $name for ${seconds}s"
    "$binary" "$work" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 2>&1 | grep -E "^(stat::number_of_executed_units|stat::new_units_added|#[0-9]+ *DONE|==[0-9]+==ERROR|SUMMARY)" || true
    if ls crash-* leak-* timeout-* oom-* >/dev/null 2>&1; then
        echo "fuzzing $name found a failure:" crash-* leak-* timeout-* oom-* 2>/dev/null
        exit 1
    fi
done
