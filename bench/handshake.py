"""Cost of a full handshake driven from Python against the raw cost of its signature operations.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/handshake.py
(ZELK_PYTHONPATH, when set, names the directory holding zelk.abi3.so and goes first.)

Two Ed25519 pinned-key agents run the four messages through build_hello, process_hello,
process_hello_ack, process_commit and complete. Over the wire that is 12 signatures (4 identity
proofs and proofs of possession over 32-byte digests, 4 envelopes over digests, 4 TCT and voucher
JWS inputs) and 12 verifications (8 over digests, 4 over JWS inputs); the raw figure is
libsodium's crypto_sign_detached and crypto_sign_verify_detached doing exactly that. The C++
figure of the same handshake is BM_HandshakeEd25519PinnedOverTheWire in bench/handshake_bench.cpp.
"""

import ctypes
import json
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
if os.environ.get("ZELK_PYTHONPATH"):
    sys.path.insert(0, os.environ["ZELK_PYTHONPATH"])
sys.path.append(str(ROOT / "build" / "python"))

import timing  # noqa: E402
import zelk  # noqa: E402

REPEATS = 9
TARGET = 1.25
ENDPOINT = "https://agent.example/zelk/handshake/hello"


def per_call(fn, min_time=0.3):
    return timing.per_call(fn, min_time, REPEATS)


def python_handshake():
    alice, bob = zelk.ZelkAgent.generate(), zelk.ZelkAgent.generate()
    alice.build_manifest("alice", ENDPOINT, ["files:read", "files:write"], ["files:read"])
    bob_manifest = bob.build_manifest("bob", ENDPOINT, ["files:read", "files:write"],
                                      ["files:read"])
    initiator, responder = alice.new_session(), bob.new_responder()
    grants = ["files:read", "files:write"]

    def run():
        hello = initiator.build_hello(bob_manifest, grants)
        ack, session_id = responder.process_hello(hello)
        commit = initiator.process_hello_ack(ack, session_id)
        commit_ack, _ = responder.process_commit(commit)
        return initiator.complete(commit_ack)

    tct = json.loads(run())["tct"]
    return run, tct


def raw_signature_ops(tct):
    sodium = ctypes.CDLL("libsodium.so.23")
    assert sodium.sodium_init() >= 0
    sign = sodium.crypto_sign_detached
    sign.argtypes = [ctypes.c_char_p, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_ulonglong,
                     ctypes.c_char_p]
    verify = sodium.crypto_sign_verify_detached
    verify.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_ulonglong, ctypes.c_char_p]
    pk, sk = ctypes.create_string_buffer(32), ctypes.create_string_buffer(64)
    sodium.crypto_sign_seed_keypair(pk, sk, b"\1" * 32)
    digest = b"\7" * 32
    jws = tct[:tct.rindex(".")].encode()
    sig_digest, sig_jws = ctypes.create_string_buffer(64), ctypes.create_string_buffer(64)
    sign(sig_digest, None, digest, 32, sk)
    sign(sig_jws, None, jws, len(jws), sk)
    sig_d, sig_j = sig_digest.raw, sig_jws.raw
    assert verify(sig_d, digest, 32, pk) == 0 and verify(sig_j, jws, len(jws), pk) == 0

    def run():
        for _ in range(8):
            sign(sig_digest, None, digest, 32, sk)
        for _ in range(4):
            sign(sig_jws, None, jws, len(jws), sk)
        for _ in range(8):
            verify(sig_d, digest, 32, pk)
        for _ in range(4):
            verify(sig_j, jws, len(jws), pk)

    # ctypes itself costs per call; measured and taken off, so the figure is libsodium's own.
    def empty():
        for _ in range(24):
            sodium.sodium_init()

    return run, empty


def main():
    handshake, tct = python_handshake()
    raw, ctypes_overhead = raw_signature_ops(tct)
    # Interleaved, so a change in the machine's load touches both figures.
    hs, rw, ov = [], [], []
    for _ in range(3):
        hs.append(per_call(handshake))
        rw.append(per_call(raw))
        ov.append(per_call(ctypes_overhead))
    handshake_secs, raw_secs = min(hs), max(min(rw) - min(ov), 1e-9)
    ratio = handshake_secs / raw_secs
    print(f"{'Python handshake (5 calls)':36s} {handshake_secs * 1e6:9.1f} us")
    print(f"{'raw libsodium: 12 sign + 12 verify':36s} {raw_secs * 1e6:9.1f} us"
          f"  (ctypes overhead {min(ov) * 1e6:.1f} us taken off)")
    print(f"ratio {ratio:.3f} (target <= {TARGET})  {'ok' if ratio <= TARGET else 'MISSED'}")


if __name__ == "__main__":
    main()
