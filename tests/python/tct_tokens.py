"""Capability tokens built independently of the module, for tests and the benchmark.

Keys come from python3-cryptography; a ZelkAgent made from the same seed holds the same key, so
tokens can be addressed to (and signed by) agents the module knows.
"""

import base64
import json
import time
import uuid

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

import zelk

TCT_TYP = "zelk-tct+jwt"


def within_one_second(fn):
    """Runs fn(now) until the clock did not move past `now` meanwhile, so that boundaries at now
    are tested exactly."""
    for _ in range(20):
        now = int(time.time())
        result = fn(now)
        if int(time.time()) == now:
            return result
    raise AssertionError("clock kept moving")


def b64url(data):
    if isinstance(data, str):
        data = data.encode()
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def b64url_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


class Key:
    """One signing key with its AID in both Ed25519 forms where that applies."""

    def __init__(self, suite="ed25519", seed=None):
        self.suite = suite
        if suite == "ed25519":
            seed = seed or uuid.uuid4().bytes * 2
            self.seed = seed
            self.private = ed25519.Ed25519PrivateKey.from_private_bytes(seed)
            pub = self.private.public_key().public_bytes(
                serialization.Encoding.Raw, serialization.PublicFormat.Raw)
            self.aid = "aid:pubkey:" + b64url(pub)
            self.long_aid = "aid:pubkey:ed25519:" + b64url(pub)
            self.alg = "EdDSA"
        else:
            self.private = ec.generate_private_key(ec.SECP256R1())
            self.seed = self.private.private_numbers().private_value.to_bytes(32, "big")
            pub = self.private.public_key().public_bytes(
                serialization.Encoding.X962, serialization.PublicFormat.CompressedPoint)
            self.aid = "aid:pubkey:p256:" + b64url(pub)
            self.long_aid = None
            self.alg = "ES256"

    def agent(self):
        return zelk.ZelkAgent.from_seed(self.seed, self.suite)

    def sign(self, data):
        if self.suite == "ed25519":
            return self.private.sign(data)
        r, s = decode_dss_signature(self.private.sign(data, ec.ECDSA(hashes.SHA256())))
        return r.to_bytes(32, "big") + s.to_bytes(32, "big")

    def public_key(self):
        return self.private.public_key()


def claims_for(issuer_aid, subject_aid, grants=("read",), now=None, ttl=3600, **override):
    now = int(time.time()) if now is None else now
    claims = {
        "ver": "zelk/0.2",
        "jti": str(uuid.uuid4()),
        "iss": issuer_aid,
        "sub": subject_aid,
        "aud": subject_aid,
        "iat": now,
        "exp": now + ttl,
        "grants": list(grants),
        "cnf": {"jkt": zelk.compute_aid_jkt(subject_aid)},
    }
    claims.update(override)
    return claims


def sign_token(key, payload, header=None):
    """A compact JWS over `payload` (a dict, or text used as it stands)."""
    header = header if header is not None else {"alg": key.alg, "typ": TCT_TYP}
    head = header if isinstance(header, str) else json.dumps(header, separators=(",", ":"))
    body = payload if isinstance(payload, str) else json.dumps(payload, separators=(",", ":"))
    signing_input = b64url(head) + "." + b64url(body)
    return signing_input + "." + b64url(key.sign(signing_input.encode()))


def mint(issuer, subject_aid, **claims):
    return sign_token(issuer, claims_for(issuer.aid, subject_aid, **claims))
