"""Per-call cost of multi-hop delegation verification from Python, against the raw signature
checks it cannot avoid.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/verify_delegation.py
(ZELK_PYTHONPATH, when set, names the directory holding zelk.abi3.so and goes first.)

Prints, per call: verify_delegation_multihop of an Ed25519 token whose chain holds one entry,
verify_delegation of an Ed25519 single hop, and libsodium's crypto_sign_verify_detached of the
three signatures the chain carries (the voucher, the chain entry and the outer token, each over
its own signing input); then the ratio against the three raw checks and whether the target holds.
"""

import ctypes
import json
import os
import pathlib
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
if os.environ.get("ZELK_PYTHONPATH"):
    sys.path.insert(0, os.environ["ZELK_PYTHONPATH"])
sys.path.append(str(ROOT / "build" / "python"))
sys.path.insert(0, str(ROOT / "tests" / "python"))

from cryptography.hazmat.primitives import serialization  # noqa: E402

import zelk  # noqa: E402
from delegation_tokens import Parties, payload_of  # noqa: E402
from verify_tct import b64url_decode  # noqa: E402

TARGET = 1.15
ROUNDS = 25


def interleaved(fns, min_time=0.05):
    """Seconds per call of each function: the best of ROUNDS rounds, each round timing every
    function in turn, so that a load change on a shared machine hits them alike."""
    counts = {}
    for name, fn in fns.items():
        n = 1
        while True:
            start = time.thread_time()
            for _ in range(n):
                fn()
            elapsed = time.thread_time() - start
            if elapsed >= min_time:
                break
            n *= 2
        counts[name] = n
    best = {name: float("inf") for name in fns}
    for _ in range(ROUNDS):
        for name, fn in fns.items():
            n = counts[name]
            start = time.thread_time()
            for _ in range(n):
                fn()
            best[name] = min(best[name], (time.thread_time() - start) / n)
    return best


def raw_check(sodium, token, key):
    """A call of crypto_sign_verify_detached over the token's signing input, as received."""
    verify_detached = sodium.crypto_sign_verify_detached
    head, body, sig = token.split(".")
    message = (head + "." + body).encode()
    signature = b64url_decode(sig)
    public = key.public_key().public_bytes(serialization.Encoding.Raw,
                                           serialization.PublicFormat.Raw)
    assert verify_detached(signature, message, len(message), public) == 0
    return lambda: verify_detached(signature, message, len(message), public)


def main():
    p = Parties(int(time.time()) + 3600)  # tokens stay valid for the whole run
    outer, tokens = p.chain(1)
    single = p.single()
    assert zelk.verify_delegation_multihop(outer, p.grantor.aid).delegatee == p.carol.aid
    assert zelk.verify_delegation(single, p.grantor.aid).delegatee == p.bob.aid

    sodium = ctypes.CDLL("libsodium.so.23")
    assert sodium.sodium_init() >= 0
    sodium.crypto_sign_verify_detached.argtypes = [ctypes.c_char_p, ctypes.c_char_p,
                                                   ctypes.c_ulonglong, ctypes.c_char_p]
    sodium.crypto_sign_verify_detached.restype = ctypes.c_int
    voucher = json.loads(payload_of(tokens[0]))["voucher"]
    checks = [raw_check(sodium, voucher, p.grantor), raw_check(sodium, tokens[0], p.alice),
              raw_check(sodium, outer, p.bob)]

    def three_raw():
        for check in checks:
            check()

    figures = interleaved({
        "verify_delegation_multihop 1-entry chain":
            lambda: zelk.verify_delegation_multihop(outer, p.grantor.aid),
        "verify_delegation single hop": lambda: zelk.verify_delegation(single, p.grantor.aid),
        "libsodium verify_detached x3": three_raw,
    })
    for name, secs in figures.items():
        print(f"{name:42s} {secs * 1e6:9.2f} us/call")
    ratio = figures["verify_delegation_multihop 1-entry chain"] / figures[
        "libsodium verify_detached x3"]
    print()
    print(f"multihop (1 entry) / 3 libsodium checks  {ratio:6.3f}  (target <= {TARGET})  "
          f"{'ok' if ratio <= TARGET else 'MISSED'}")


if __name__ == "__main__":
    main()
