"""Per-call cost of TCT verification from Python, against the raw signature check and PyJWT.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/verify_tct.py
(ZELK_PYTHONPATH, when set, names the directory holding zelk.abi3.so and goes first.)

Prints, per call: verify_tct on an Ed25519 and on a P-256 TCT, a TctStore hit, libsodium's
crypto_sign_verify_detached of the same Ed25519 signature, and PyJWT's decode of the same tokens
with the same keys; then the ratios and whether each target holds.
"""

import base64
import ctypes
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
if os.environ.get("ZELK_PYTHONPATH"):
    sys.path.insert(0, os.environ["ZELK_PYTHONPATH"])
sys.path.append(str(ROOT / "build" / "python"))
sys.path.insert(0, str(ROOT / "tests" / "python"))

import jwt  # noqa: E402  (PyJWT)
from cryptography.hazmat.primitives import serialization  # noqa: E402

import timing  # noqa: E402
import zelk  # noqa: E402
from tct_tokens import Key, mint  # noqa: E402

REPEATS = 7


def per_call(fn, min_time=0.2):
    return timing.per_call(fn, min_time, REPEATS)


def b64url_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def main():
    verifier = Key()
    agent = verifier.agent()
    ed_issuer, p256_issuer = Key("ed25519"), Key("p256")
    grants = ["tools:search", "tools:fetch", "memory:read"]
    ed_token = mint(ed_issuer, agent.aid, grants=grants)
    p256_token = mint(p256_issuer, agent.aid, grants=grants)
    for token in (ed_token, p256_token):
        assert agent.verify_tct(token, "memory:read").grants == grants

    store = zelk.TctStore(1024)
    agent.verify_tct_cached(ed_token, "memory:read", store)

    sodium = ctypes.CDLL("libsodium.so.23")
    assert sodium.sodium_init() >= 0
    verify_detached = sodium.crypto_sign_verify_detached
    verify_detached.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_ulonglong,
                                ctypes.c_char_p]
    verify_detached.restype = ctypes.c_int
    head, body, sig = ed_token.split(".")
    message = (head + "." + body).encode()
    signature = b64url_decode(sig)
    public = ed_issuer.public_key().public_bytes(serialization.Encoding.Raw,
                                                 serialization.PublicFormat.Raw)
    assert verify_detached(signature, message, len(message), public) == 0

    # PyJWT checks exp and iat itself; aud is this agent's AID. It ignores the custom typ and
    # the other claims.
    def pyjwt(token, key, alg):
        return lambda: jwt.decode(token, key=key, algorithms=[alg], audience=agent.aid)

    pyjwt_ed = pyjwt(ed_token, ed_issuer.public_key(), "EdDSA")
    pyjwt_p256 = pyjwt(p256_token, p256_issuer.public_key(), "ES256")
    assert pyjwt_ed()["grants"] == grants and pyjwt_p256()["grants"] == grants

    figures = {
        "verify_tct Ed25519": per_call(lambda: agent.verify_tct(ed_token, "memory:read")),
        "verify_tct P-256": per_call(lambda: agent.verify_tct(p256_token, "memory:read")),
        "TctStore hit": per_call(lambda: agent.verify_tct_cached(ed_token, "memory:read", store)),
        "libsodium verify_detached": per_call(
            lambda: verify_detached(signature, message, len(message), public)),
        "PyJWT decode EdDSA": per_call(pyjwt_ed),
        "PyJWT decode ES256": per_call(pyjwt_p256),
    }
    for name, secs in figures.items():
        print(f"{name:28s} {secs * 1e6:9.2f} us/call")

    ed_ratio = figures["verify_tct Ed25519"] / figures["libsodium verify_detached"]
    p256_ratio = figures["verify_tct P-256"] / figures["PyJWT decode ES256"]
    ed_jwt_ratio = figures["verify_tct Ed25519"] / figures["PyJWT decode EdDSA"]
    hit = figures["TctStore hit"]
    print()
    print(f"verify_tct Ed25519 / libsodium   {ed_ratio:6.3f}  (target <= 1.2)  "
          f"{'ok' if ed_ratio <= 1.2 else 'MISSED'}")
    print(f"verify_tct P-256 / PyJWT ES256   {p256_ratio:6.3f}  (target < 1.0)   "
          f"{'ok' if p256_ratio < 1.0 else 'MISSED'}")
    print(f"verify_tct Ed25519 / PyJWT EdDSA {ed_jwt_ratio:6.3f}")
    print(f"TctStore hit                     {hit * 1e6:6.3f} us (target <= 2 us) "
          f"{'ok' if hit <= 2e-6 else 'MISSED'}")


if __name__ == "__main__":
    main()
