"""Every module function and method under abusive arguments: wrong types, bytes for str, integers
at and beyond the 64-bit limits, lone surrogates, 10 MB strings, a million members and a million
levels of nesting. Each call returns or raises one of the module's documented exceptions, and none
takes more than a second of processor time (a guard against runaway work, not a speed target:
processor time, so that a busy machine does not fail it)."""

import time

import pytest

import zelk
from tct_tokens import Key, mint

SECOND = 1.0
MB10 = "a" * 10_000_000
WIDE_OBJECT = "{" + ",".join(f'"{i:x}":0' for i in range(1_000_000)) + "}"
DEEP_ARRAY = "[" * 1_000_000 + "]" * 1_000_000
DEEP_OBJECT = '{"a":' * 1_000_000 + "1" + "}" * 1_000_000


def deep_list(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


ABUSE = [
    ("none", None),
    ("float", 1.5),
    ("nan", float("nan")),
    ("object", object()),
    ("list", ["x"]),
    ("dict", {"x": 1}),
    ("set", {"x"}),
    ("bytes", b"bytes for str"),
    ("bytearray", bytearray(b"x")),
    ("true", True),
    ("i64_max", 2**63 - 1),
    ("i64_max_plus_1", 2**63),
    ("i64_max_plus_2", 2**63 + 1),
    ("i64_min", -(2**63)),
    ("i64_min_minus_1", -(2**63) - 1),
    ("i64_min_plus_1", -(2**63) + 1),
    ("u64_max_plus_1", 2**64),
    ("huge", 2**200),
    ("minus_huge", -(2**200)),
    ("surrogate", "\ud800"),
    ("surrogate_pair_halves", "a\udfff\ud800b"),
    ("empty", ""),
    ("nul", "\x00"),
    ("mb10", MB10),
    ("mb10_json", '"' + MB10 + '"'),
    ("wide_object_json", WIDE_OBJECT),
    ("wide_dict", {f"{i:x}": 0 for i in range(1_000_000)}),
    ("deep_array_json", DEEP_ARRAY),
    ("deep_object_json", DEEP_OBJECT),
    ("deep_list", deep_list(1_000_000)),
    ("long_list", ["x"] * 1_000_000),
    ("huge_range", range(10**9)),
]

DOCUMENTED = (TypeError, ValueError, OverflowError, UnicodeEncodeError, RuntimeError,
              zelk.ManifestVerificationError)

ME = Key()
AGENT = ME.agent()
ISSUER = Key()
TOKEN = mint(ISSUER, ME.aid)
STORE = zelk.TctStore(16)
MANIFEST = AGENT.build_manifest("A", "https://a.example/", ["read"])

# (name, callable, valid positional arguments); each argument is replaced in turn.
FUNCTIONS = [
    ("compute_aid_jkt", zelk.compute_aid_jkt, [ME.aid]),
    ("verify_manifest_json", zelk.verify_manifest_json, [MANIFEST, None]),
    ("ZelkAgent.from_seed", zelk.ZelkAgent.from_seed, [bytes(32), "ed25519"]),
    ("ZelkAgent.generate", zelk.ZelkAgent.generate, ["ed25519"]),
    ("ZelkAgent.build_manifest", AGENT.build_manifest,
     ["A", "https://a.example/", ["read"], None, None, "pinned_key", None, None, None]),
    ("ZelkAgent.verify_tct", AGENT.verify_tct, [TOKEN, "read", None, None]),
    ("ZelkAgent.verify_tct_cached", AGENT.verify_tct_cached, [TOKEN, "read", STORE, None, None]),
    ("TctStore", zelk.TctStore, [4]),
    ("TctStore.len", STORE.len, []),
    ("TctStore.clear", STORE.clear, []),
    ("ZelkAgent", zelk.ZelkAgent, []),
    ("TctIdentity", zelk.TctIdentity, []),
    ("DelegationVerified", zelk.DelegationVerified, []),
]

CASES = []
for name, fn, valid in FUNCTIONS:
    for position in range(len(valid)):
        for label, value in ABUSE:
            args = list(valid)
            args[position] = value
            CASES.append(pytest.param(fn, args, {}, id=f"{name}-arg{position}-{label}"))
    # Too many arguments, and unknown or surrogate keywords.
    CASES.append(pytest.param(fn, list(valid) + [None] * 12, {}, id=f"{name}-too-many"))
    CASES.append(pytest.param(fn, list(valid), {"bogus": 1}, id=f"{name}-unknown-keyword"))
    CASES.append(pytest.param(fn, list(valid), {"\ud800": 1}, id=f"{name}-surrogate-keyword"))


@pytest.mark.parametrize("fn, args, kwargs", CASES)
def test_abusive_arguments(fn, args, kwargs):
    start = time.process_time()
    try:
        fn(*args, **kwargs)
    except DOCUMENTED as error:
        assert type(error).__name__ != "PanicException", error
    elapsed = time.process_time() - start
    assert elapsed < SECOND, f"took {elapsed:.2f} s"
