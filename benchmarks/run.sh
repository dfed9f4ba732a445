#!/usr/bin/env bash
# Creates (or updates) the benchmark venv, installs velarto in release mode and
# the peers (networkx, grand-cypher, rustworkx, ladybug, duckdb, pandas), then runs run.py.
#
#   benchmarks/run.sh              # 10,000 and 100,000 elements
#   benchmarks/run.sh --quick      # a fast smoke run
#   benchmarks/run.sh --sizes 10000
#
# The venv is build/bench-venv (override with VELARTO_BENCH_VENV); the peers are
# installed there only, never as dependencies of the package.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="${VELARTO_BENCH_VENV:-$ROOT/build/bench-venv}"
PYTHON="${PYTHON:-python3}"

if [ ! -x "$VENV/bin/python" ]; then
    "$PYTHON" -m venv "$VENV"
fi
"$VENV/bin/python" -m pip install --quiet networkx grand-cypher rustworkx ladybug duckdb pandas
# Release build (the project's default build type); reinstalled on every run so
# that the figures are those of the current sources.
"$VENV/bin/python" -m pip install --quiet --force-reinstall --no-deps "$ROOT"
cd "$ROOT/benchmarks"
exec "$VENV/bin/python" run.py "$@"
