"""Writes the seed corpora of fuzz/corpus/ (run from the repository root with the module built:
PYTHONPATH=build/python:tests/python /usr/bin/python3 fuzz/make_seeds.py).

The keys are the fuzz targets' fixed keys: Ed25519 seeds 0x11.. (issuer) and 0x33.. (peer), and
the P-256 scalar 0x22.., so re-signed claims and whole tokens reach the checks after the signature.
"""

import hashlib
import json
import os
import struct

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

import zelk
from tct_tokens import b64url

NOW = 1_700_000_000
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def ed25519_key(fill):
    private = ed25519.Ed25519PrivateKey.from_private_bytes(bytes([fill]) * 32)
    pub = private.public_key().public_bytes(serialization.Encoding.Raw,
                                            serialization.PublicFormat.Raw)
    return private, "aid:pubkey:" + b64url(pub)


def p256_key(fill):
    private = ec.derive_private_key(int.from_bytes(bytes([fill]) * 32, "big"), ec.SECP256R1())
    pub = private.public_key().public_bytes(serialization.Encoding.X962,
                                            serialization.PublicFormat.CompressedPoint)
    return private, "aid:pubkey:p256:" + b64url(pub)


ISSUER, ISSUER_AID = ed25519_key(0x11)
P256, P256_AID = p256_key(0x22)
PEER, PEER_AID = ed25519_key(0x33)


def sign(private, data):
    if isinstance(private, ed25519.Ed25519PrivateKey):
        return private.sign(data)
    r, s = decode_dss_signature(private.sign(data, ec.ECDSA(hashes.SHA256())))
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def token(private, header, payload):
    signing_input = b64url(header) + "." + b64url(payload)
    return signing_input + "." + b64url(sign(private, signing_input.encode()))


def compact(value):
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def tct_claims(**override):
    claims = {
        "ver": "zelk/0.2", "jti": "5b1e7c4a-2f1d-4e8a-9c3b-7d6e5f4a3b2c", "iss": ISSUER_AID,
        "sub": PEER_AID, "aud": PEER_AID, "iat": NOW - 10, "exp": NOW + 3600,
        "grants": ["chat.read", "chat.write"], "cnf": {"jkt": zelk.compute_aid_jkt(PEER_AID)},
    }
    claims.update(override)
    return claims


def voucher_claims(**override):
    claims = {
        "ver": "zelk/0.2", "iss": ISSUER_AID, "sub": PEER_AID, "grants": ["chat.read"],
        "iat": NOW - 10, "exp": NOW + 600, "src_jti": "5b1e7c4a-2f1d-4e8a-9c3b-7d6e5f4a3b2c",
    }
    claims.update(override)
    return claims


def main():
    json_docs = {
        "object": '{"a":1,"b":[true,false,null],"c":{"d":"e\\u00e9\\ud83d\\ude00"}}',
        "numbers": "[0,-0,1.5,-2.25e-3,1e300,5e-324,18446744073709551615,-9223372036854775808,"
                   "9007199254740993.0,123456789012345678901234567890]",
        "strings": '["\\"\\\\\\/\\b\\f\\n\\r\\t","\\u0000","\xc3\xa9","\xf0\x9f\x98\x80"]',
        "nested": "[[[[{\"x\":[{}]}]]]]",
        "duplicate": '{"a":1,"a":2}',
        "whitespace": ' \t\n{ "k" : [ 1 , 2 ] }\r\n',
    }
    for name, text in json_docs.items():
        write("json_value", name, text)

    agent = zelk.ZelkAgent.from_seed(bytes([0x11]) * 32)
    envelope = agent.build_manifest("Alice", "https://agent.example/zelk/handshake/hello",
                                    ["chat.read", "chat.write"], required_caps=["chat.read"])
    manifest = json.loads(envelope)["manifest"]
    write("manifest", "envelope", envelope)
    write("manifest", "bare", compact(manifest))
    write("manifest", "extensions", compact(dict(manifest, extensions={"z": 1, "a": [2.5]})))
    oidc = zelk.ZelkAgent.from_seed(bytes([0x22]) * 32, "p256").build_manifest(
        "Bob", "https://b.example/hello", [], identity_type="oidc",
        oidc_issuer="https://idp.example/", oidc_subject="bob")
    write("manifest", "oidc", oidc)

    write("tct_claims", "claims", compact(tct_claims()))
    write("tct_claims", "ext", compact(tct_claims(ext={"b": [1], "a": {"n": None}})))
    write("tct_claims", "array_form", compact(list(tct_claims().values())))
    write("voucher_claims", "claims", compact(voucher_claims()))
    write("voucher_claims", "ext", compact(voucher_claims(ext={"k": "v"})))

    write("tct_verify", "tct", compact(tct_claims()))
    write("tct_verify", "tct_ext", compact(tct_claims(ext={"k": 1})))
    write("tct_verify", "voucher", compact(voucher_claims()))
    write("tct_verify", "expired", compact(tct_claims(exp=NOW - 61)))

    envelope_record = {
        "version": "zelk/0.2", "message_type": "mutual_hello",
        "message_id": "5b1e7c4a-2f1d-4e8a-9c3b-7d6e5f4a3b2c", "timestamp": NOW,
        "sender": {"agent_id": ISSUER_AID}, "payload": {"nonce": "abc", "n": [1, 2.5]},
        "signature": "sig",
    }
    write("envelope", "hello", compact(envelope_record))
    write("envelope", "extensions", compact(dict(envelope_record, extensions={"b": 1, "a": 2})))

    write("lenient", "header", '{"alg":"RS256","kid":"k1","typ":"JWT","x5c":["a"],"n":1.5}')
    write("lenient", "crit", '{"alg":"ES256","crit":["b64"],"b64":false}')

    for name, text in {"empty": "", "one": "AA", "bytes": "AQID", "long": b64url(bytes(range(48)))}.items():
        write("base64url", name, text)
    for name, text in {"hyphenated": "67e55044-10b1-426f-9247-bb680e5fe0c8",
                       "simple": "67e5504410b1426f9247bb680e5fe0c8",
                       "braced": "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
                       "urn": "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8"}.items():
        write("uuid", name, text)
    for name, text in {"https": "https://user:pw@Example.COM:443/a/./b/../c?q=1#f",
                       "ipv6": "http://[::ffff:192.168.0.1]:8080/",
                       "ipv4": "http://0x7f.1/",
                       "idna": "https://xn--nxasmq6b.example/\u00e9",
                       "opaque": "mailto:a@b.example",
                       "file": "file:///C:/x/../y",
                       "percent": "https://a.example/%7e%zz?\u00e9#\u00e9"}.items():
        write("url", name, text)
    for name, text in {"ed25519": ISSUER_AID, "ed25519_long": "aid:pubkey:ed25519:" + ISSUER_AID[11:],
                       "p256": P256_AID, "other": "aid:web:example"}.items():
        write("aid", name, text)

    digest = hashlib.sha256(b"fuzz").digest()
    write("signature_text", "ed25519", b64url(sign(ISSUER, digest)))
    write("signature_text", "ed25519_prefixed", "ed25519." + b64url(sign(ISSUER, digest)))
    write("signature_text", "p256", "p256." + b64url(sign(P256, digest)))

    tct_header = compact({"alg": "EdDSA", "typ": "zelk-tct+jwt"})
    es_header = compact({"alg": "ES256", "typ": "zelk-tct+jwt"})
    claims = compact(tct_claims())
    write("jws", "token_ed25519", b"\x00" + token(ISSUER, tct_header, claims).encode())
    write("jws", "token_p256", b"\x00" + token(P256, es_header, claims).encode())
    write("jws", "resign_ed25519", b"\x01" + (tct_header + "\n" + claims).encode())
    write("jws", "resign_p256", b"\x03" + (es_header + "\n" + claims).encode())
    write("jws", "resign_array", b"\x01" + ('["EdDSA","zelk-tct+jwt"]\n{}').encode())


if __name__ == "__main__":
    main()
