"""Grant vouchers and delegation tokens built independently of the module, for tests and the
benchmark: canonical JSON by sorted keys (the claims hold only ASCII texts and small integers),
signed with python3-cryptography keys."""

import hashlib
import json
import uuid

from tct_tokens import Key, b64url, b64url_decode, sign_token

import zelk

GRANT_TYP = "zelk-grant+jwt"
DELEGATION_TYP = "zelk-delegation+jwt"


def canonical(obj):
    return json.dumps(obj, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def payload_of(token):
    return b64url_decode(token.split(".")[1]).decode()


def voucher_claims(grantor, holder_aid, now, grants=("read", "write"), ttl=600, **override):
    claims = {
        "ver": "zelk/0.2",
        "iss": grantor.aid,
        "sub": holder_aid,
        "grants": list(grants),
        "iat": now - 60,
        "exp": now + ttl,
        "src_jti": str(uuid.uuid4()),
    }
    claims.update(override)
    return claims


def sign_voucher(grantor, claims, signer=None):
    signer = signer or grantor
    return sign_token(signer, canonical(claims), {"alg": signer.alg, "typ": GRANT_TYP})


def delegation_claims(issuer_aid, subject_aid, audience_aid, now, scope=("read",), ttl=300,
                      **override):
    claims = {
        "ver": "zelk/0.2",
        "iss": issuer_aid,
        "sub": subject_aid,
        "aud": audience_aid,
        "scope": list(scope),
        "exp": now + ttl,
        "cnf": {"jkt": zelk.compute_aid_jkt(subject_aid)},
    }
    claims.update(override)
    return {k: v for k, v in claims.items() if v is not None}


def sign_delegation(signer, claims, typ=DELEGATION_TYP):
    body = claims if isinstance(claims, str) else canonical(claims)
    return sign_token(signer, body, {"alg": signer.alg, "typ": typ})


def chain_hash(tokens):
    digests = [b64url(hashlib.sha256(t.encode()).digest()) for t in tokens]
    return b64url(hashlib.sha256(canonical(digests).encode()).digest())


class Parties:
    """A grantor that issued `alice` a voucher, and the agents delegated to along a chain."""

    def __init__(self, now):
        self.now = now
        self.grantor = Key()
        self.alice, self.bob, self.carol, self.dave = Key(), Key(), Key(), Key()
        self.voucher_claims = voucher_claims(self.grantor, self.alice.aid, now)
        self.voucher = sign_voucher(self.grantor, self.voucher_claims)

    def single(self, signer=None, **override):
        claims = delegation_claims(self.alice.aid, self.bob.aid, self.grantor.aid, self.now,
                                   voucher=self.voucher)
        claims.update(override)
        claims = {k: v for k, v in claims.items() if v is not None}
        return sign_delegation(signer or self.alice, claims)

    def chain(self, length, edit=None):
        """A token whose chain holds `length` entries: alice -> bob (voucher), bob -> carol, ...
        `edit(i, claims)` may change hop i's claims before it is signed (i == length: outer) and
        may return another Key to sign it with."""
        keys = [self.alice, self.bob, self.carol, self.dave, Key()]
        tokens = []
        for i in range(length + 1):
            claims = delegation_claims(keys[i].aid, keys[i + 1].aid, self.grantor.aid, self.now,
                                       ttl=300 - 10 * i, jti=str(uuid.uuid4()))
            if i == 0:
                claims["voucher"] = self.voucher
            else:
                claims["chain"] = list(tokens)
                claims["chain_hash"] = chain_hash(tokens)
            signer = keys[i]
            if edit is not None:
                replaced = edit(i, claims)
                signer = replaced if isinstance(replaced, Key) else signer
            tokens.append(sign_delegation(signer, claims))
        return tokens[-1], tokens
