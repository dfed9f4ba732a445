from __future__ import annotations

import subprocess

import pytest

import engine_build


@pytest.fixture(scope="session")
def engine_binary(tmp_path_factory):
    """engine_binary("name") compiles tests/engine/name.cpp once and returns its path."""
    built: dict[str, object] = {}
    out_dir = tmp_path_factory.mktemp("engine")

    def get(name: str):
        if name not in built:
            try:
                built[name] = engine_build.build(name, out_dir)
            except subprocess.CalledProcessError as failure:  # show the compiler's complaint
                pytest.fail(f"building engine test {name} failed:\n{failure.stderr}")
        return built[name]

    return get
