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
from cryptography import x509
from cryptography.x509.oid import NameOID
import datetime

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

    new_reader_seeds(manifest)


REVOKED = "00000000-0000-4000-8000-000000000000"


def jkt(aid):
    return zelk.compute_aid_jkt(aid)


def certificate(private, public):
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "fuzz.example")])
    start = datetime.datetime(2024, 1, 1, tzinfo=datetime.timezone.utc)
    builder = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(public)
               .serial_number(0x5eed).not_valid_before(start)
               .not_valid_after(start + datetime.timedelta(days=365)))
    algorithm = None if isinstance(private, ed25519.Ed25519PrivateKey) else hashes.SHA256()
    return builder.sign(private, algorithm).public_bytes(serialization.Encoding.DER)


def new_reader_seeds(manifest):
    entry = {"jti": "5b1e7c4a-2f1d-4e8a-9c3b-7d6e5f4a3b2c", "revoked_at": NOW - 5,
             "reason": "key compromise"}
    rlist = {"version": "zelk/0.2", "issuer": ISSUER_AID, "published_at": NOW - 10,
             "expires_at": NOW + 600, "entries": [entry, {"jti": REVOKED, "revoked_at": NOW}]}
    write("revocation", "list", compact({"revocation_list": rlist, "signature": "sig"}))
    write("revocation", "extensions", compact({"revocation_list": dict(rlist, extensions={"z": [1],
                                               "a": {"b": None}}), "signature": "sig"}))
    write("revocation", "array_form", compact([list(dict(rlist, entries=[list(entry.values())])
                                                    .values()), "sig"]))
    write("revocation", "expired", compact({"revocation_list": dict(rlist, expires_at=NOW - 1),
                                            "signature": "sig"}))

    voucher = compact({"ver": "zelk/0.2", "iss": PEER_AID, "sub": ISSUER_AID,
                       "grants": ["chat.read", "chat.write"], "iat": NOW - 10, "exp": NOW + 3600,
                       "src_jti": "5b1e7c4a-2f1d-4e8a-9c3b-7d6e5f4a3b2c"})
    first = {"ver": "zelk/0.2", "iss": ISSUER_AID, "sub": P256_AID, "aud": PEER_AID,
             "scope": ["chat.read"], "exp": NOW + 600, "cnf": {"jkt": jkt(P256_AID)},
             "voucher": voucher}
    write("delegation", "single_hop", b"\x00" + compact(first).encode())
    write("delegation", "single_hop_ext", b"\x00" + compact(dict(first, ext={"k": 1})).encode())
    first_hop = dict(first, jti="7a1e7c4a-2f1d-4e8a-9c3b-7d6e5f4a3b2c")
    second = {"ver": "zelk/0.2", "iss": P256_AID, "sub": ISSUER_AID, "aud": PEER_AID,
              "scope": ["chat.read"], "exp": NOW + 300, "cnf": {"jkt": jkt(ISSUER_AID)},
              "jti": "8a1e7c4a-2f1d-4e8a-9c3b-7d6e5f4a3b2c", "chain": [compact(first_hop)],
              "chain_hash": "*"}
    write("delegation", "chain", b"\x04" + compact(second).encode())
    write("delegation", "array_form", b"\x00" + compact(list(first.values())).encode())

    renewal = {"current_tct": compact(tct_claims()), "pop_nonce": b64url(b"renewal nonce"),
               "pop_signature": "sig"}
    write("renewal", "renew", bytes([4 + 6 * 3]) + compact(renewal).encode())
    write("renewal", "manifest_bound", bytes([2 + 6 * 4]) + compact(renewal).encode())
    write("renewal", "array_form", bytes([4 + 6 * 4]) + compact(list(renewal.values())).encode())

    pinned = {"type": "pinned_key", "subject": ISSUER_AID, "proof": "sig",
              "public_key": ISSUER_AID[len("aid:pubkey:"):]}
    oidc_identity = {"type": "oidc", "issuer": "https://idp.example/", "subject": "bob",
                     "proof": "a.b.c", "extensions": {"z": 1, "a": 2}}
    hello = {"identity": pinned, "manifest": manifest, "requested_grants": ["chat.read"],
             "pop_nonce": b64url(b"hello nonce")}
    commit = {"tct": "a.b.c", "grant_voucher": None, "pop_signature": "sig",
              "pop_nonce_echo": b64url(b"hello nonce")}
    write("handshake_payloads", "identity_pinned", b"\x00" + compact(pinned).encode())
    write("handshake_payloads", "identity_oidc", b"\x00" + compact(oidc_identity).encode())
    write("handshake_payloads", "hello", b"\x01" + compact(hello).encode())
    write("handshake_payloads", "hello_ack",
          b"\x02" + compact(dict(hello, pop_nonce_echo="bm9uY2U")).encode())
    write("handshake_payloads", "commit", b"\x03" + compact(commit).encode())
    write("handshake_payloads", "commit_ack",
          b"\x04" + compact(dict(commit, grant_voucher="d.e.f", extensions={"k": []})).encode())

    oidc_claims = {"iss": "https://idp.example/", "sub": "bob", "aud": ISSUER_AID, "iat": NOW,
                   "exp": NOW + 600, "nonce": "bm9uY2U", "cnf": {"jkt": jkt(PEER_AID)},
                   "email": "bob@idp.example", "amr": ["pwd", {"x": 1.5}]}
    for which, (alg, kid) in enumerate([("EdDSA", "ed"), ("ES256", "p256"), ("RS256", "rsa")]):
        header = compact({"alg": alg, "kid": kid, "typ": "JWT"})
        write("oidc", "token_" + kid, bytes([which]) + (header + "\n" + compact(oidc_claims)).encode())
    write("oidc", "aud_list", b"\x00" + (compact({"alg": "EdDSA", "kid": "ed"}) + "\n" +
                                         compact(dict(oidc_claims, aud=["x", ISSUER_AID]))).encode())
    write("oidc", "no_kid", b"\x01" + (compact({"alg": "ES256", "kid": None}) + "\n" +
                                       compact(oidc_claims)).encode())

    write("jwk_verify", "ed25519", b"\x00\x05EdDSA\neyJhbGciOiJFZERTQSJ9.e30")
    write("jwk_verify", "p256", b"\x01\x11ES256\nheader.payload")
    write("jwk_verify", "rsa", b"\x02\x07RS256\nheader.payload")
    write("jwk_verify", "rsa_mismatch", b"\x02\x07PS256\nheader.payload")
    write("jwk_verify", "rsa_material",
          b"\x03\x01\x00" + b"\xc3" * 256 + b"\x03\x01\x00\x01" + bytes(range(256)))

    participant = compact(tct_claims())
    revoked = compact(tct_claims(sub=P256_AID, aud=P256_AID, jti=REVOKED,
                                 cnf={"jkt": jkt(P256_AID)}))
    bundle = {"version": "zelk/0.2", "session_id": "67e55044-10b1-426f-9247-bb680e5fe0c8",
              "coordinator": ISSUER_AID, "issued_at": NOW, "expires_at": 0,
              "participants": [{"aid": PEER_AID, "tct": participant},
                               {"aid": P256_AID, "tct": revoked}],
              "signature": "sig"}
    write("session_bundle", "bundle", compact({"session_bundle": bundle}))
    write("session_bundle", "extensions",
          compact({"session_bundle": dict(bundle, extensions={"b": 1, "a": [None]})}))
    write("session_bundle", "array_form", compact({"session_bundle": list(bundle.values())[:6] + [{"k": 1}, "sig"]}))

    write("spki", "ed25519", certificate(ISSUER, ISSUER.public_key()))
    write("spki", "p256", certificate(P256, P256.public_key()))


if __name__ == "__main__":
    main()
