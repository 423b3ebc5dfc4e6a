"""Agents, an in-process OIDC identity provider and the four-message handshake, for the tests,
the benchmark and the demo.

The identity provider signs its tokens with PyJWT (python3-jwt), so every token the module
checks comes from an outside library with that library's own header layout.
"""

import base64
import json
import time

import jwt
from cryptography.hazmat.primitives.asymmetric import ec, ed25519, rsa
from jwt.algorithms import ECAlgorithm, OKPAlgorithm, RSAAlgorithm

import zelk

ISSUER = "https://idp.example/"
ENDPOINT = "https://agent.example/zelk/handshake/hello"


class IdentityProvider:
    """An OIDC issuer with one signing key: EdDSA, ES256 or RS256 (of `bits` bits)."""

    def __init__(self, alg="EdDSA", bits=2048, kid="idp-key-1", issuer=ISSUER):
        self.alg, self.kid, self.issuer = alg, kid, issuer
        if alg == "EdDSA":
            self.private = ed25519.Ed25519PrivateKey.generate()
            algorithm = OKPAlgorithm()
        elif alg == "ES256":
            self.private = ec.generate_private_key(ec.SECP256R1())
            algorithm = ECAlgorithm(ECAlgorithm.SHA256)
        else:
            self.private = rsa.generate_private_key(public_exponent=65537, key_size=bits)
            algorithm = RSAAlgorithm(RSAAlgorithm.SHA256)
        self.jwk = json.loads(algorithm.to_jwk(self.private.public_key()))
        if alg == "ES256":
            # PyJWT before 2.8 drops leading zero bytes of a coordinate (one key in 128), where
            # a JWK must carry all 32 bytes.
            numbers = self.private.public_key().public_numbers()
            self.jwk["x"], self.jwk["y"] = (
                base64.urlsafe_b64encode(n.to_bytes(32, "big")).rstrip(b"=").decode()
                for n in (numbers.x, numbers.y))
        if kid is not None:
            self.jwk["kid"] = kid

    def provider(self):
        return zelk.JwksProvider({self.issuer: [self.jwk]})

    def token(self, subject, audience, subject_aid, nonce, **claims):
        now = int(time.time())
        payload = {"iss": self.issuer, "sub": subject, "aud": audience, "iat": now,
                   "exp": now + 300, "nonce": nonce,
                   "cnf": {"jkt": zelk.compute_aid_jkt(subject_aid)}}
        payload.update(claims)
        headers = {"kid": self.kid} if self.kid is not None else None
        return jwt.encode(payload, self.private, algorithm=self.alg, headers=headers)


class Party:
    """An agent with its Manifest: a pinned Ed25519 key, or an OIDC identity at `idp`."""

    def __init__(self, name, suite="ed25519", identity="pinned_key", idp=None,
                 offered=("files:read", "files:write"), required=None):
        self.name, self.identity, self.idp = name, identity, idp
        self.subject = name.lower() + "@example.com"
        self.agent = zelk.ZelkAgent.generate(suite)
        self.aid = self.agent.aid
        issuer = idp.issuer if idp is not None else ISSUER
        if identity == "oidc":
            self.manifest = self.agent.build_manifest(
                name, ENDPOINT, list(offered), required, identity_type="oidc",
                oidc_issuer=issuer, oidc_subject=self.subject)
        else:
            self.manifest = self.agent.build_manifest(
                name, ENDPOINT, list(offered), required, accepted_trust_anchors=[issuer])

    def minter(self, peer):
        """The oidc_mint_jwt callable for a handshake with `peer`, or None for a pinned key."""
        if self.identity != "oidc":
            return None
        return lambda nonce: self.idp.token(self.subject, peer.aid, self.aid, nonce)


class Handshake:
    """One handshake between two parties, step by step, keeping every message."""

    def __init__(self, initiator, responder, jwks=None, grants=None):
        self.i, self.r = initiator, responder
        self.initiator = initiator.agent.new_session(jwks=jwks)
        self.responder = responder.agent.new_responder(jwks=jwks)
        self.grants = list(grants) if grants is not None else ["files:read"]

    def hello(self):
        self.hello_json = self.initiator.build_hello(self.r.manifest, self.grants,
                                                     self.i.minter(self.r))
        return self.hello_json

    def hello_ack(self):
        self.hello_ack_json, self.session_id = self.responder.process_hello(
            self.hello_json, self.r.minter(self.i))
        return self.hello_ack_json

    def commit(self):
        self.commit_json = self.initiator.process_hello_ack(self.hello_ack_json, self.session_id)
        return self.commit_json

    def commit_ack(self):
        self.commit_ack_json, self.received_by_responder = self.responder.process_commit(
            self.commit_json)
        return self.commit_ack_json

    def complete(self):
        self.received_by_initiator = self.initiator.complete(self.commit_ack_json)
        return self.received_by_initiator

    def run(self):
        for step in (self.hello, self.hello_ack, self.commit, self.commit_ack, self.complete):
            step()
        return json.loads(self.received_by_initiator), json.loads(self.received_by_responder)
