"""What a user gets from the distributions: a wheel that type checkers
understand after a plain install, the license in wheel and sdist, the
metadata, and an sdist without the CI scripts.

The wheel is built once per session. Set VELARTO_WHEEL to a built wheel to
reuse it; otherwise it is built with the local build backend (no network
needed), or, where that backend is not installed, with an isolated build
that fetches it: only then can a missing network skip these tests.
"""
from __future__ import annotations

import email
import os
import re
import shutil
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent

if os.environ.get("VELARTO_SANITIZED"):
    # The distributions do not depend on the build under test; the plain run checks them.
    pytest.skip("the distributions are checked in the plain run", allow_module_level=True)

NETWORK_FAILURES = ("NewConnectionError", "Temporary failure in name resolution",
                    "Network is unreachable", "No matching distribution found")


def _has_local_backend() -> bool:
    try:
        import scikit_build_core  # noqa: F401
    except ImportError:
        return False
    return True


@pytest.fixture(scope="session")
def wheel(tmp_path_factory) -> Path:
    given = os.environ.get("VELARTO_WHEEL")
    if given:
        return Path(given)
    out = tmp_path_factory.mktemp("wheel")
    command = [sys.executable, "-m", "pip", "wheel", "--no-deps", "-q", "-w", str(out), str(ROOT)]
    if _has_local_backend():
        # A build folder kept under build/ makes later sessions rebuild only what changed.
        build_dir = ROOT / "build" / "wheel" / f"py{sys.version_info.major}{sys.version_info.minor}"
        command += ["--no-build-isolation", f"--config-settings=build-dir={build_dir}"]
    # What is checked here is the packaging, not the machine code: an unoptimised
    # build compiles in a fraction of the time.
    command += ["--config-settings=cmake.build-type=Debug", "--config-settings=cmake.define.CMAKE_CXX_FLAGS_DEBUG=-O0"]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        output = done.stdout + done.stderr
        if not _has_local_backend() and any(sign in output for sign in NETWORK_FAILURES):
            pytest.skip("no network to fetch the build backend for the wheel:\n" + output[-2000:])
        pytest.fail("building the wheel failed:\n" + output[-4000:])
    (built,) = out.glob("velarto-*.whl")
    return built


@pytest.fixture(scope="session")
def venv_python(wheel, tmp_path_factory) -> Path:
    """A fresh virtual environment holding the wheel and nothing else."""
    venv = tmp_path_factory.mktemp("venv")
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True)
    python = venv / "bin" / "python"
    done = subprocess.run([sys.executable, "-m", "pip", "--python", str(python), "install", "-q",
                           "--no-index", "--no-deps", str(wheel)], capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    return python


def _clean_env(tmp_path: Path) -> dict[str, str]:
    env = {k: v for k, v in os.environ.items() if k not in {"MYPYPATH", "PYTHONPATH", "LD_PRELOAD"}}
    env["MYPY_CACHE_DIR"] = str(tmp_path / "mypy-cache")
    return env


CHECKED = '''\
from typing import assert_type
import velarto

person = velarto.Variable("Person")
assert_type(person.uid(), str)
reveal_type(person.uid())
graph = velarto.Graph()
node = velarto.Node(person, {"name": "Ann"})
graph.nodes[node.uid()] = node
rows = graph.query().match(node="n").return_("n")
count: int = graph.query().match(node="n").return_count()
planted: int = person.uid()
'''


def test_mypy_strict_finds_the_stubs_in_a_fresh_venv(venv_python, tmp_path):
    script = tmp_path / "user_script.py"
    script.write_text(CHECKED)
    mypy = pytest.importorskip("mypy", reason="mypy is not installed").__name__
    done = subprocess.run([sys.executable, "-m", mypy, "--strict", "--python-executable", str(venv_python),
                           script.name], capture_output=True, text=True, cwd=tmp_path,
                          env=_clean_env(tmp_path))
    out = done.stdout + done.stderr
    assert "Cannot find implementation or library stub" not in out, out
    assert re.search(r'user_script.py:6: note: Revealed type is "(builtins\.)?str"', out), out
    planted_line = CHECKED.splitlines().index("planted: int = person.uid()") + 1
    errors = [line for line in out.splitlines() if ": error:" in line]
    assert errors == [f'{script.name}:{planted_line}: error: Incompatible types in assignment '
                      f'(expression has type "str", variable has type "int")  [assignment]'], out


DUMPS = """\
import pickle, sys, velarto
from velarto import Application, Edge, Graph, Node, PathPattern, Term, Variable
a, b = Node(Variable("A")), Node(Application(Variable("A"), Variable("B")))
g = Graph()
g.nodes[a.uid()], g.nodes[b.uid()] = a, b
e = Edge(Term("f", Application(a.type, b.type)), a, b)
g.edges[e.uid()] = e
values = (g, PathPattern("(x)-[r*1..2]->(y)"))
sys.stdout.write(pickle.dumps(values).hex())
"""

# Loads with nothing imported first: pickle itself must find what rebuilds the values.
LOADS = """\
import pickle, sys
g, path = pickle.loads(bytes.fromhex(sys.stdin.read()))
(e,) = g.edges.values()
print(len(g.nodes), e.end.type, e.start.properties is g.nodes[e.start.uid()].properties, repr(path))
import velarto
print(sorted(set(vars(velarto)) - {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}))
"""


def test_the_installed_wheel_pickles_across_processes_and_has_the_exact_module_surface(venv_python, tmp_path):
    env = _clean_env(tmp_path)
    dumped = subprocess.run([str(venv_python), "-c", DUMPS], capture_output=True, text=True, cwd=tmp_path, env=env)
    assert dumped.returncode == 0, dumped.stderr
    loaded = subprocess.run([str(venv_python), "-c", LOADS], input=dumped.stdout, capture_output=True, text=True,
                            cwd=tmp_path, env=env)
    assert loaded.returncode == 0, loaded.stderr
    assert loaded.stdout.splitlines() == [
        "2 (A -> B) True PathPattern(2 nodes, 1 edges)",
        "['Application', 'Edge', 'EdgePattern', 'Graph', 'Node', 'NodePattern', 'PathPattern', 'Query', 'Term', "
        "'TypeSchema', 'Variable', '__all__']",
    ]


def test_wheel_holds_the_stub_package_license_and_metadata(wheel):
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        stub = archive.read("velarto-stubs/__init__.pyi")
        helper = archive.read("_velarto_pickle.py") if "_velarto_pickle.py" in names else b""
        (metadata_name,) = [n for n in names if n.endswith(".dist-info/METADATA")]
        metadata = email.message_from_bytes(archive.read(metadata_name))
        licenses = [n for n in names if n.endswith("/LICENSE")]
        license_text = archive.read(licenses[0]).decode() if licenses else ""
    assert stub == (ROOT / "src" / "velarto.pyi").read_bytes()
    # Pickle imports this helper by name, so it sits beside the extension, at the top level.
    assert helper == (ROOT / "src" / "python" / "_velarto_pickle.py").read_bytes()
    assert "velarto.pyi" not in names  # a stub beside the module is not what checkers read
    assert "MIT License" in license_text
    classifiers = metadata.get_all("Classifier")
    for version in ("3.11", "3.12", "3.13"):
        assert f"Programming Language :: Python :: {version}" in classifiers
    assert "Programming Language :: C++" in classifiers
    assert "velarto developers" in metadata["Author"]
    assert "networkx" in metadata.get_all("Provides-Extra")
    assert any(r.startswith("networkx") and 'extra == "networkx"' in r for r in metadata.get_all("Requires-Dist"))


def test_sdist_has_license_and_changelog_and_no_ci_scripts(tmp_path):
    if not _has_local_backend():
        pytest.skip("the sdist is built with the local build backend, which is not installed")
    done = subprocess.run([sys.executable, "-c", "import sys; from scikit_build_core.build import "
                           "build_sdist; print(build_sdist(sys.argv[1]))", str(tmp_path)],
                          capture_output=True, text=True, cwd=ROOT)
    assert done.returncode == 0, done.stdout + done.stderr
    (sdist,) = tmp_path.glob("velarto-*.tar.gz")
    with tarfile.open(sdist) as archive:
        names = {name.split("/", 1)[1] for name in archive.getnames() if "/" in name}
    assert {"LICENSE", "CHANGELOG.md", "README.md", "pyproject.toml", "src/velarto.pyi", "src/CMakeLists.txt",
            "src/python/_velarto_pickle.py"} <= names
    assert not [name for name in names if name.startswith(".ci")], names
    assert not [name for name in names if name.startswith("build/")], names  # the kept build folders
