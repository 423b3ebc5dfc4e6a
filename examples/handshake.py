"""Two pairs of agents run the four-message handshake and then check the tokens they received.

The first pair prove who they are with pinned Ed25519 keys. In the second, one agent (a P-256
key) proves its identity with an OIDC token from a small identity provider running in this
process (python3-jwt); its peer checks that token through a JwksProvider holding the
provider's public key.

Run after a build with: PYTHONPATH=build/python /usr/bin/python3 examples/handshake.py
"""

import json
import time

import jwt
from cryptography.hazmat.primitives.asymmetric import ed25519
from jwt.algorithms import OKPAlgorithm

import zelk

ISSUER = "https://idp.example/"


class IdentityProvider:
    """Signs OIDC identity tokens with one Ed25519 key, published as a JWK."""

    def __init__(self):
        self.key = ed25519.Ed25519PrivateKey.generate()
        self.jwk = json.loads(OKPAlgorithm().to_jwk(self.key.public_key()))
        self.jwk["kid"] = "demo-key"

    def mint(self, subject, subject_aid, audience_aid, nonce):
        now = int(time.time())
        claims = {"iss": ISSUER, "sub": subject, "aud": audience_aid, "iat": now,
                  "exp": now + 300, "nonce": nonce,
                  "cnf": {"jkt": zelk.compute_aid_jkt(subject_aid)}}
        return jwt.encode(claims, self.key, algorithm="EdDSA", headers={"kid": "demo-key"})


def short(text, width=72):
    return text if len(text) <= width else text[:width - 3] + "..."


def show_message(label, text):
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


def handshake(title, initiator, init_manifest, responder, resp_manifest, jwks=None,
              init_minter=None, resp_minter=None, grants=()):
    print(f"== {title}")
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
    for who, agent, received, grant in (("initiator", initiator, for_initiator, grants[0]),
                                        ("responder", responder, for_responder, None)):
        tokens = json.loads(received)
        grant = grant or json.loads(init_manifest)["manifest"]["offered_capabilities"][0]
        identity = agent.verify_tct(tokens["tct"], grant)
        print(f"  {who} verify_tct: issued by {short(identity.peer_aid, 40)}, "
              f"grants={identity.grants}, expires_at={identity.expires_at}")
    print()


def main():
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
    print(f"identity provider {ISSUER} keys registered: {provider.issuers()}")
    carol = zelk.ZelkAgent.generate("p256")
    carol_manifest = carol.build_manifest(
        "Carol", "https://carol.example/zelk/handshake/hello", ["files.read"],
        identity_type="oidc", oidc_issuer=ISSUER, oidc_subject="carol@example.com")

    def carol_minter(nonce):
        token = idp.mint("carol@example.com", carol.aid, alice.aid, nonce)
        print(f"    (identity provider minted a token for nonce {nonce})")
        return token

    handshake("OIDC: Carol -> Alice (pinned key)", carol, carol_manifest, alice, alice_manifest,
              jwks=provider, init_minter=carol_minter, grants=["calendar.read"])

    # Without the provider the same token cannot be checked.
    session = carol.new_session()
    responder = alice.new_responder()
    try:
        responder.process_hello(session.build_hello(alice_manifest, ["calendar.read"],
                                                    carol_minter))
    except RuntimeError as error:
        print(f"without a JwksProvider: {error}")


if __name__ == "__main__":
    main()
