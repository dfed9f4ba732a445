"""SHA-256 (both block functions) and SipHash-1-3 of the engine layer.

SHA-256 is checked against published vectors and against hashlib; SipHash-1-3
against the interpreter's own bytes hash under PYTHONHASHSEED=0, which is the
same function with the same all-zero key.
"""
from __future__ import annotations

import hashlib
import os
import random
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import engine_build

MASK64 = 2**64 - 1


@pytest.fixture(scope="module")
def ask(engine_binary):
    """ask(list of command lines) -> list of answers, one per command."""
    binary = engine_binary("hash_harness")

    def run(lines: list[str]) -> list[str]:
        out = engine_build.run(binary, ("\n".join(lines) + "\n").encode()).decode().splitlines()
        assert len(out) == len(lines), out
        for line, answer in zip(lines, out):
            assert not answer.startswith("error"), f"{line!r}: {answer}"
        return out

    return run


@pytest.fixture(scope="module")
def hardware_available(ask) -> bool:
    return ask(["hw"]) == ["1"]


@pytest.fixture(scope="module", params=["portable", "hardware", "auto"])
def backend(request, hardware_available) -> str:
    if request.param == "hardware" and not hardware_available:
        pytest.skip("this CPU lacks the SHA extensions, so the hardware block function cannot run here")
    return request.param


def hx(data: bytes) -> str:
    return data.hex() or "-"


# ---------------------------------------------------------------- SHA-256

FIPS_VECTORS = [
    (b"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"),
    (b"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"),
    (b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"),
    (b"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"),
]
MILLION_A = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"


@pytest.mark.parametrize("message,expected", FIPS_VECTORS, ids=["empty", "abc", "448-bit", "896-bit"])
def test_sha256_published_vectors(ask, backend, message, expected):
    assert ask([f"sha256 {backend} {hx(message)}"]) == [expected]


@pytest.mark.parametrize("unit,count", [(b"a", 1_000_000), (b"a" * 1000, 1000), (b"a" * 64, 15625)],
                         ids=["byte-at-a-time", "unaligned-pieces", "whole-blocks"])
def test_sha256_million_a(ask, backend, unit, count):
    assert ask([f"sha256repeat {backend} {count} {unit.hex()}"]) == [MILLION_A]


def test_sha256_million_a_in_one_update(ask, backend):
    assert ask([f"sha256 {backend} {(b'a' * 1_000_000).hex()}"]) == [MILLION_A]


def test_sha256_every_length_across_padding_boundaries(ask, backend):
    # Lengths 0..300 cover 55/56 (length fits / spills) and 63/64/65 for
    # several blocks; the contents vary so that byte order mistakes show.
    # Each message reaches the streaming hasher in one update, as a uid's text does.
    messages = [bytes((i * 7 + n) & 0xFF for i in range(n)) for n in range(301)]
    answers = ask([f"sha256 {backend} {hx(m)}" for m in messages])
    assert answers == [hashlib.sha256(m).hexdigest() for m in messages]


@pytest.mark.parametrize("sizes", [[1], [3], [63], [64], [65], [0, 5, 0, 120], [55, 1, 8], [200]])
def test_sha256_streaming_matches_one_shot(ask, backend, sizes):
    message = bytes(random.Random(len(sizes) * 1000 + sizes[-1]).getrandbits(8) for _ in range(777))
    chunks = " ".join(map(str, sizes))
    assert ask([f"sha256chunks {backend} {chunks} {message.hex()}"]) == [hashlib.sha256(message).hexdigest()]


def cpu_flags() -> set[str] | None:
    """The x86 feature flags the kernel reports, or None where it reports none."""
    try:
        lines = Path("/proc/cpuinfo").read_text().splitlines()
    except OSError:
        return None
    for line in lines:
        if line.split(":")[0].strip() == "flags":
            return set(line.split(":", 1)[1].split())
    return None


def test_automatic_choice_takes_the_hardware_path_where_the_cpu_has_it(ask):
    # Both paths give the same digests, so only the harness can tell which one
    # runs. Each ask() starts a fresh process: the first "active" sees the
    # choice made on first use, before anything pinned a backend.
    flags = cpu_flags()
    if flags is None:
        pytest.skip("/proc/cpuinfo lists no x86 flags to compare the choice with")
    expected = "hardware" if {"sha_ni", "sse4_1"} <= flags else "portable"
    empty = hashlib.sha256(b"").hexdigest()
    assert ask(["active", "sha256 auto -", "active"]) == [expected, empty, expected]
    assert ask(["hw"]) == ["1" if expected == "hardware" else "0"]
    assert ask(["sha256 portable -", "active"]) == [empty, "portable"]


def test_sha256_backends_agree_on_the_same_inputs(ask, hardware_available):
    if not hardware_available:
        pytest.skip("this CPU lacks the SHA extensions, so there is only one block function to compare")
    rng = random.Random(20240611)
    messages = [rng.randbytes(rng.randrange(0, 700)) for _ in range(200)]
    portable = ask([f"sha256 portable {hx(m)}" for m in messages])
    hardware = ask([f"sha256 hardware {hx(m)}" for m in messages])
    assert portable == hardware


messages_and_chunks = st.lists(
    st.tuples(st.binary(max_size=600), st.lists(st.integers(min_value=0, max_value=150), min_size=1, max_size=6)
              .filter(lambda sizes: any(sizes))),
    min_size=1, max_size=8,
)


@settings(max_examples=60, deadline=None)
@given(cases=messages_and_chunks)
def test_sha256_property_against_hashlib(ask, backend, cases):
    lines = []
    for message, sizes in cases:
        lines.append(f"sha256 {backend} {hx(message)}")
        lines.append(f"sha256chunks {backend} {' '.join(map(str, sizes))} {hx(message)}")
    expected = []
    for message, _ in cases:
        expected += [hashlib.sha256(message).hexdigest()] * 2
    assert ask(lines) == expected


# ---------------------------------------------------------------- SipHash-1-3

# Values of hash(b) & (2**64-1) from CPython 3.11 with PYTHONHASHSEED=0.
SIPHASH_VECTORS = [
    (b"a", 0x407448D2B89B1813),
    (b"abc", 0xC03BC3A0042630F2),
    (b"abcdefg", 0x6DB12AAE9070F506),
    (b"abcdefgh", 0x3F7B849C0B8E35EA),
    (b"abcdefghi", 0xF89B34A3D11EB6E5),
    (bytes(range(15)), 0xF30EB725BB91C9EA),
    (bytes(range(16)), 0x8972188433A5C5B7),
    (bytes(range(17)), 0x4883C49A2C009C1D),
    (bytes(range(256)), 0x31AE646AFBA70308),
    (b"\x00", 0x68A914128E01E473),
    (b"\xff" * 8, 0x2F205BE2FEC8E38D),
]

ORACLE = r"""
import sys
print(sys.hash_info.algorithm)
for line in sys.stdin:
    print(hash(bytes.fromhex(line.strip())) & (2**64 - 1))
"""


def oracle(messages: list[bytes]) -> list[int]:
    """The interpreter's hash of each (non-empty) bytes object, as uint64, in one subprocess."""
    env = dict(os.environ, PYTHONHASHSEED="0")
    done = subprocess.run([sys.executable, "-c", ORACLE], input="\n".join(m.hex() for m in messages) + "\n",
                          capture_output=True, text=True, env=env, check=True)
    algorithm, *values = done.stdout.split()
    if algorithm != "siphash13":
        pytest.skip(f"this interpreter hashes bytes with {algorithm}, not siphash13, so it cannot serve as oracle")
    assert len(values) == len(messages)
    return [int(v) for v in values]


def same_hash(ours: int, theirs: int) -> bool:
    # The interpreter reserves -1 as its error value and reports -2 instead.
    return ours == theirs or (theirs == (-2 & MASK64) and ours == (-1 & MASK64))


def sip(ask, lines: list[str]) -> list[int]:
    return [int(v, 16) for v in ask(lines)]


@pytest.mark.parametrize("message,expected", SIPHASH_VECTORS)
def test_siphash_fixed_vectors(ask, message, expected):
    assert sip(ask, [f"siphash {hx(message)}"]) == [expected]


@pytest.mark.parametrize("sizes", [[1], [3], [7], [8], [9], [0, 2, 0, 13], [5, 3, 8, 1]])
def test_siphash_fixed_vectors_streamed(ask, sizes):
    chunks = " ".join(map(str, sizes))
    lines = [f"siphashchunks {chunks} {hx(m)}" for m, _ in SIPHASH_VECTORS]
    assert sip(ask, lines) == [v for _, v in SIPHASH_VECTORS]


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_siphash_against_the_interpreter(ask, seed):
    rng = random.Random(seed)
    messages = [rng.randbytes(rng.randrange(1, 200)) for _ in range(300)]
    theirs = oracle(messages)
    one_shot = sip(ask, [f"siphash {m.hex()}" for m in messages])
    chunked = sip(ask, [f"siphashchunks {rng.randrange(1, 20)} {rng.randrange(0, 9)} {m.hex()}" for m in messages])
    assert all(same_hash(o, t) for o, t in zip(one_shot, theirs))
    assert chunked == one_shot


@pytest.mark.parametrize("seed", [4, 5])
def test_siphash_u32_appends_against_the_interpreter(ask, seed):
    # Mixed byte runs and 32-bit little-endian values, as a uid is built:
    # every tail length 0..7 meets an appended value somewhere in the batch.
    rng = random.Random(seed)
    lines, messages = [], []
    for _ in range(300):
        parts, message = [], b""
        for _ in range(rng.randrange(1, 6)):
            if rng.random() < 0.5:
                value = rng.getrandbits(32)
                parts.append(f"u:{value}")
                message += value.to_bytes(4, "little")
            else:
                run = rng.randbytes(rng.randrange(0, 12))
                parts.append(f"b:{run.hex()}" if run else "b:-")
                message += run
        if not message:
            parts.append("b:00")
            message = b"\x00"
        lines.append("siphashparts " + " ".join(parts))
        messages.append(message)
    theirs = oracle(messages)
    ours = sip(ask, lines)
    assert all(same_hash(o, t) for o, t in zip(ours, theirs))


def test_siphash_empty_message_is_consistent(ask):
    # The interpreter special-cases b"" (hash 0), so the empty message is only
    # checked for agreement between the one-shot and streaming forms.
    one_shot, streamed, parts = sip(ask, ["siphash -", "siphashchunks 3 -", "siphashparts b:-"])
    assert one_shot == streamed == parts
    assert one_shot != 0


@settings(max_examples=80, deadline=None)
@given(pieces=st.lists(st.one_of(st.binary(max_size=20), st.integers(min_value=0, max_value=2**32 - 1)),
                       max_size=10))
def test_siphash_streaming_property(ask, pieces):
    # However the message is delivered, the value equals the one-shot hash of
    # the concatenation.
    message = b"".join(p if isinstance(p, bytes) else p.to_bytes(4, "little") for p in pieces)
    parts = [(f"b:{hx(p)}" if isinstance(p, bytes) else f"u:{p}") for p in pieces]
    one_shot, delivered = sip(ask, [f"siphash {hx(message)}", "siphashparts " + " ".join(parts)])
    assert delivered == one_shot
