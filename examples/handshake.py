"""Two pairs of agents run the four-message handshake and then check the tokens they received.

The first pair prove who they are with pinned Ed25519 keys. In the second, one agent (a P-256
key) proves its identity with an OIDC token from a small identity provider running in this
process (python3-jwt); its peer checks that token through a JwksProvider holding the
provider's public key.

Run after a build with: PYTHONPATH=build/python /usr/bin/python3 examples/handshake.py
"""

import base64
import json
import time
from collections.abc import Callable, Sequence
from typing import Any

import jwt
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ed25519

import zelk

ISSUER = "https://idp.example/"


class IdentityProvider:
    """Signs OIDC identity tokens with one Ed25519 key, published as a JWK."""

    def __init__(self) -> None:
        key = ed25519.Ed25519PrivateKey.generate()
        self.key_pem = key.private_bytes(serialization.Encoding.PEM,
                                         serialization.PrivateFormat.PKCS8,
                                         serialization.NoEncryption()).decode()
        public = key.public_key().public_bytes(serialization.Encoding.Raw,
                                               serialization.PublicFormat.Raw)
        x = base64.urlsafe_b64encode(public).rstrip(b"=").decode()
        self.jwk: dict[str, Any] = {"kty": "OKP", "crv": "Ed25519", "x": x, "kid": "demo-key"}

    def mint(self, subject: str, subject_aid: str, audience_aid: str, nonce: str) -> str:
        now = int(time.time())
        claims = {"iss": ISSUER, "sub": subject, "aud": audience_aid, "iat": now,
                  "exp": now + 300, "nonce": nonce,
                  "cnf": {"jkt": zelk.compute_aid_jkt(subject_aid)}}
        return jwt.encode(claims, self.key_pem, algorithm="EdDSA", headers={"kid": "demo-key"})


def short(text: str, width: int = 72) -> str:
    return text if len(text) <= width else text[:width - 3] + "..."


def show_message(label: str, text: str) -> None:
    envelope = json.loads(text)
    payload = envelope["payload"]
    print(f"  {label}: {envelope['message_type']} from {short(envelope['sender']['agent_id'], 40)}")
    if "identity" in payload:
        identity = payload["identity"]
        print(f"    identity: {identity['type']} subject={identity['subject']} "
              f"proof={short(identity['proof'], 40)}")
        print(f"    requested_grants: {payload['requested_grants']}")
    if "tct" in payload:
        print(f"    tct: {short(payload['tct'], 60)}")


def handshake(title: str, initiator: zelk.ZelkAgent, init_manifest: str,
              responder: zelk.ZelkAgent, resp_manifest: str,
              jwks: zelk.JwksProvider | None = None,
              init_minter: Callable[[str], str] | None = None,
              resp_minter: Callable[[str], str] | None = None,
              grants: Sequence[str] = (), note: str | None = None) -> None:
    print(f"== {title}")
    if note:
        print(f"  {note}")
    i_session = initiator.new_session(jwks=jwks)
    r_session = responder.new_responder(jwks=jwks)

    hello = i_session.build_hello(resp_manifest, list(grants), init_minter)
    show_message("1 initiator -> responder", hello)
    hello_ack, session_id = r_session.process_hello(hello, resp_minter)
    show_message("2 responder -> initiator", hello_ack)
    print(f"    responder session id: {session_id}")
    commit = i_session.process_hello_ack(hello_ack, session_id)
    show_message("3 initiator -> responder", commit)
    commit_ack, for_responder = r_session.process_commit(commit)
    show_message("4 responder -> initiator", commit_ack)
    for_initiator = i_session.complete(commit_ack)
    print("  complete: both sides hold a TCT and a grant voucher from the other")

    # Each side checks the TCT it received, as it would when presenting it later.
    init_offered: str = json.loads(init_manifest)["manifest"]["offered_capabilities"][0]
    for who, agent, received, grant in (("initiator", initiator, for_initiator, grants[0]),
                                        ("responder", responder, for_responder, init_offered)):
        tokens = json.loads(received)
        identity = agent.verify_tct(tokens["tct"], grant)
        print(f"  {who} verify_tct: issued by {short(identity.peer_aid, 40)}, "
              f"grants={identity.grants}, expires_at={identity.expires_at}")
    print()


def main() -> None:
    alice = zelk.ZelkAgent.generate()
    alice_manifest = alice.build_manifest(
        "Alice", "https://alice.example/zelk/handshake/hello", ["calendar.read"],
        accepted_trust_anchors=[ISSUER])
    bob = zelk.ZelkAgent.generate()
    bob_manifest = bob.build_manifest(
        "Bob", "https://bob.example/zelk/handshake/hello", ["mail.send", "mail.read"])
    handshake("pinned keys: Alice -> Bob", alice, alice_manifest, bob, bob_manifest,
              grants=["mail.send"])

    idp = IdentityProvider()
    provider = zelk.JwksProvider({ISSUER: [idp.jwk]})
    carol = zelk.ZelkAgent.generate("p256")
    carol_manifest = carol.build_manifest(
        "Carol", "https://carol.example/zelk/handshake/hello", ["files.read"],
        identity_type="oidc", oidc_issuer=ISSUER, oidc_subject="carol@example.com")

    def carol_minter(nonce: str) -> str:
        token = idp.mint("carol@example.com", carol.aid, alice.aid, nonce)
        print(f"    (identity provider minted a token for nonce {nonce})")
        return token

    handshake("OIDC: Carol -> Alice (pinned key)", carol, carol_manifest, alice, alice_manifest,
              jwks=provider, init_minter=carol_minter, grants=["calendar.read"],
              note=f"JwksProvider holds the keys of {provider.issuers()}")

    # Without the provider the same token cannot be checked.
    print("== OIDC without a JwksProvider: Carol -> Alice")
    session = carol.new_session()
    responder = alice.new_responder()
    hello = session.build_hello(alice_manifest, ["calendar.read"], carol_minter)
    try:
        responder.process_hello(hello)
    except RuntimeError as error:
        print(f"  expected to fail: process_hello: {error}")
    else:
        raise AssertionError("the OIDC identity was accepted without the issuer's keys")


if __name__ == "__main__":
    main()
