"""Builds the small C++ programs in tests/engine/ against the engine sources.

The engine layer (src/core) has no Python in it, so its pieces are tested
directly: each program is driven over stdin/stdout by the tests.

Compiling the engine is the slow part of a test run, so builds are kept
between runs in a cache outside the source tree ($VELARTO_ENGINE_CACHE, else
$XDG_CACHE_HOME/velarto-engine-tests, else ~/.cache/velarto-engine-tests).
The engine's objects are compiled once, in parallel, into a folder named by a
hash of the compiler, the flags and every file under src/core; each program is
linked into a file named by that hash and the files of tests/engine. Any
change to those makes a new name, so a stale build is never picked up.
Results appear under their final names only when complete (renamed into
place), so test runs in several trees may share the cache; entries unused for
a week are removed.
"""
from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORE = ROOT / "src" / "core"
ENGINE_TESTS = ROOT / "tests" / "engine"
FLAGS = ["-std=c++20", "-O1", "-g", "-Wall", "-Wextra", "-I", str(ROOT / "src")]
UNUSED_FOR = 7 * 24 * 3600  # seconds before an unused cache entry is removed


def compiler() -> str | None:
    return os.environ.get("CXX") or shutil.which("g++") or shutil.which("c++") or shutil.which("clang++")


def cache_dir() -> Path:
    named = os.environ.get("VELARTO_ENGINE_CACHE")
    if named:
        return Path(named)
    base = os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache"
    return Path(base) / "velarto-engine-tests"


def build(name: str) -> Path:
    """The binary of tests/engine/<name>.cpp linked with every engine source, built if not cached."""
    cxx = compiler()
    if cxx is None:
        raise RuntimeError("no C++ compiler found for the engine tests")
    cache = cache_dir()
    cache.mkdir(parents=True, exist_ok=True)
    identity = subprocess.run([cxx, "--version"], capture_output=True, text=True, check=True).stdout
    core_key = _files_hash(CORE, cxx, identity, *FLAGS)
    objects = _core_objects(cxx, cache, cache / f"core-{core_key}")
    binary = cache / f"{name}-{_files_hash(ENGINE_TESTS, core_key)}"
    if not binary.exists():
        with tempfile.TemporaryDirectory(prefix="tmp-", dir=cache) as scratch:
            linked = Path(scratch) / name
            _compile(cxx, [str(ENGINE_TESTS / f"{name}.cpp"), *map(str, objects), "-o", str(linked)])
            os.replace(linked, binary)
        _remove_unused(cache)
    os.utime(binary)
    return binary


def run(binary: Path, stdin: bytes, *args: str) -> bytes:
    done = subprocess.run([str(binary), *args], input=stdin, capture_output=True, check=True)
    return done.stdout


def _files_hash(folder: Path, *extra: str) -> str:
    digest = hashlib.sha256("\0".join(extra).encode())
    for path in sorted(p for p in folder.iterdir() if p.is_file()):
        digest.update(f"\0{path.name}\0{path.stat().st_size}\0".encode())
        digest.update(path.read_bytes())
    return digest.hexdigest()[:24]


def _compile(cxx: str, arguments: list[str]) -> None:
    subprocess.run([cxx, *FLAGS, *arguments], check=True, capture_output=True, text=True)


def _core_objects(cxx: str, cache: Path, folder: Path) -> list[Path]:
    if not folder.is_dir():
        scratch = Path(tempfile.mkdtemp(prefix="tmp-", dir=cache))
        try:
            def compile_one(source: Path) -> None:
                _compile(cxx, ["-c", str(source), "-o", str(scratch / f"{source.stem}.o")])

            with ThreadPoolExecutor(os.cpu_count() or 1) as pool:
                list(pool.map(compile_one, sorted(CORE.glob("*.cpp"))))
            try:
                scratch.rename(folder)
            except OSError:
                if not folder.is_dir():  # not merely another run that got there first
                    raise
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
    os.utime(folder)
    return sorted(folder.glob("*.o"))


def _remove_unused(cache: Path) -> None:
    now = time.time()
    for entry in cache.iterdir():
        try:
            if now - entry.stat().st_mtime > UNUSED_FOR:
                shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
        except OSError:
            pass  # another run removed or is using it
