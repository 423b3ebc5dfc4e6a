"""ZelkAgent.build_renewal_request and process_renewal_request.

Current tokens are minted independently of the module (tct_tokens); the requests are checked and
crafted here with python3-cryptography.
"""

import hashlib
import json
import time

import pytest

import zelk
from delegation_tokens import payload_of
from tct_tokens import Key, b64url, b64url_decode, claims_for, mint, sign_token


@pytest.fixture
def issuer():
    return Key()


@pytest.fixture(params=["ed25519", "p256"])
def holder(request):
    return Key(request.param)


def claims_of(token):
    return json.loads(payload_of(token))


def renew(issuer, request_json, manifest_exp=None, ttl=3600):
    manifest_exp = int(time.time()) + 7200 if manifest_exp is None else manifest_exp
    return issuer.agent().process_renewal_request(request_json, manifest_exp, ttl)


def rejected(issuer, request_json, manifest_exp=None, ttl=3600):
    with pytest.raises(RuntimeError) as info:
        renew(issuer, request_json, manifest_exp, ttl)
    assert type(info.value) is RuntimeError
    return str(info.value)


def test_request_shape_and_proof(holder):
    current = mint(Key(), holder.aid)
    text = holder.agent().build_renewal_request(current)
    pairs = json.loads(text, object_pairs_hook=list)
    assert [n for n, _ in pairs] == ["current_tct", "pop_nonce", "pop_signature"]
    assert text == json.dumps(dict(pairs), separators=(",", ":"))
    req = dict(pairs)
    assert req["current_tct"] == current
    assert len(req["pop_nonce"]) == 22 and "=" not in req["pop_nonce"]
    nonce = b64url_decode(req["pop_nonce"])
    assert len(nonce) == 16
    sig = req["pop_signature"]
    digest = hashlib.sha256(nonce).digest()
    if holder.suite == "p256":
        assert len(sig) == 91 and sig.startswith("p256.")
        from cryptography.hazmat.primitives import hashes
        from cryptography.hazmat.primitives.asymmetric import ec
        from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature
        raw = b64url_decode(sig[5:])
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        holder.public_key().verify(der, digest, ec.ECDSA(hashes.SHA256()))
    else:
        assert len(sig) == 86
        holder.public_key().verify(b64url_decode(sig), digest)
    # Fresh nonce every time.
    again = json.loads(holder.agent().build_renewal_request(current))
    assert again["pop_nonce"] != req["pop_nonce"] and again["pop_signature"] != sig


def test_renewed_pair(issuer, holder):
    current = mint(issuer, holder.aid, grants=("read", "write"))
    before = int(time.time())
    out = renew(issuer, holder.agent().build_renewal_request(current), ttl=600)
    after = int(time.time())
    pairs = json.loads(out, object_pairs_hook=list)
    assert [n for n, _ in pairs] == ["tct", "grant_voucher"]
    env = dict(pairs)
    new = claims_of(env["tct"])
    old = claims_of(current)
    assert (new["sub"], new["aud"], new["grants"], new["iss"]) == (
        old["sub"], old["aud"], old["grants"], issuer.aid)
    assert new["jti"] != old["jti"]
    assert before <= new["iat"] <= after and new["exp"] == new["iat"] + 600
    assert new["cnf"] == old["cnf"] and "ext" not in new
    voucher = claims_of(env["grant_voucher"])
    assert voucher["src_jti"] == new["jti"]
    # The new token works where the old one did, and the old one still does.
    for token in (env["tct"], current):
        identity = holder.agent().verify_tct(token, "write")
        assert identity.peer_aid == issuer.aid
    # Replaying the request renews again with another identifier.
    replay = json.loads(renew(issuer, holder.agent().build_renewal_request(current)))
    assert claims_of(replay["tct"])["jti"] != new["jti"]


def test_lifetime_is_capped_by_the_manifest(issuer):
    holder = Key()
    request = holder.agent().build_renewal_request(mint(issuer, holder.aid))
    now = int(time.time())
    capped = claims_of(json.loads(renew(issuer, request, now + 100, 3600))["tct"])
    assert capped["exp"] <= now + 100 + 1 and capped["exp"] == min(now + 100, capped["iat"] + 3600)
    expired = "renewal request rejected: TCT has expired or is not yet valid"
    assert rejected(issuer, request, int(time.time())) == expired
    assert rejected(issuer, request, now - 1) == expired
    assert rejected(issuer, request, now - 10**6) == expired
    assert rejected(issuer, request, ttl=0) == expired
    assert rejected(issuer, request, ttl=-1) == expired
    assert rejected(issuer, request, -2**63, 2**63 - 1) == expired


def test_current_token_must_be_this_agents_and_valid(issuer):
    holder = Key()
    agent = holder.agent()
    now = int(time.time())
    prefix = "renewal request rejected: "
    other = Key()
    # Another issuer's token fails on its signature; one signed here but naming another issuer
    # fails on the issuer.
    assert rejected(issuer, agent.build_renewal_request(mint(other, holder.aid))) == (
        prefix + "signature verification failed")
    assert rejected(issuer, agent.build_renewal_request(
        sign_token(issuer, claims_for(other.aid, holder.aid)))) == (
        prefix + "TCT issuer does not match the verifying key")
    assert rejected(issuer, agent.build_renewal_request(
        mint(issuer, holder.aid, now=now - 7200, ttl=3600))) == (
        prefix + "TCT has expired or is not yet valid")
    # A whole envelope, or any other text, is not a compact JWS.
    envelope = json.dumps({"tct": mint(issuer, holder.aid), "grant_voucher": None})
    assert rejected(issuer, agent.build_renewal_request(envelope)).startswith(
        prefix + "compact JWS malformed: ")
    assert rejected(issuer, agent.build_renewal_request("\"quoted\"\n")).startswith(prefix)


def test_revoked_looking_token_is_still_renewed(issuer):
    # Renewal does not consult revocation: a token the issuer itself listed as revoked is renewed.
    holder = Key()
    current = mint(issuer, holder.aid)
    jti = claims_of(current)["jti"]
    listed = issuer.agent().sign_revocation_list([{"jti": jti, "reason": "compromised"}])
    assert zelk.verify_revocation_list(listed, issuer.aid) is None
    out = renew(issuer, holder.agent().build_renewal_request(current))
    assert claims_of(json.loads(out)["tct"])["sub"] == holder.aid


def test_proof_of_possession(issuer, holder):
    current = mint(issuer, holder.aid)
    good = json.loads(holder.agent().build_renewal_request(current))
    by_other = json.loads(Key(holder.suite).agent().build_renewal_request(current))
    bad_sig = "renewal request rejected: TCT signature is invalid"

    def req(**override):
        return json.dumps({**good, **override})

    other_key = req(pop_signature=by_other["pop_signature"], pop_nonce=by_other["pop_nonce"])
    swapped = req(pop_nonce=by_other["pop_nonce"])
    over_text = holder.sign(hashlib.sha256(good["pop_nonce"].encode()).digest())
    prefix = "p256." if holder.suite == "p256" else ""
    for text in (other_key, swapped, req(pop_signature=prefix + b64url(over_text)),
                 req(pop_signature="x"), req(pop_signature="p256." + good["pop_signature"])):
        assert rejected(issuer, text) == bad_sig
    assert rejected(issuer, req(pop_nonce=good["pop_nonce"] + "=")) == (
        "renewal request rejected: claims malformed: pop_nonce: "
        "base64url padding is forbidden in ZELK")
    # A nonce of another length, signed over its bytes, is accepted.
    nonce = b"any length at all"
    sig = prefix + b64url(holder.sign(hashlib.sha256(nonce).digest()))
    assert renew(issuer, req(pop_nonce=b64url(nonce), pop_signature=sig))


@pytest.mark.parametrize("text, detail", [
    ('{"current_tct":"a","pop_nonce":"b","pop_signature":"c","x":"d"}',
     "unknown field `x`, expected one of `current_tct`, `pop_nonce`, `pop_signature` "
     "at line 1 column 58"),
    ('{"current_tct":"a","current_tct":"a"}', "duplicate field `current_tct` at line 1 column 32"),
    ('{"current_tct":"a","pop_signature":"c"}', "missing field `pop_nonce` at line 1 column 39"),
    ('{"current_tct":"a","pop_nonce":null,"pop_signature":"c"}',
     "invalid type: null, expected a string at line 1 column 35"),
    ('["a","b"]', "invalid length 2, expected struct TctRenewalPayload with 3 elements "
                  "at line 1 column 9"),
    ('["a","b","c","d"]', "trailing characters at line 1 column 14"),
    ("", "EOF while parsing a value at line 1 column 0"),
])
def test_unreadable_requests(issuer, text, detail):
    with pytest.raises(ValueError) as info:
        renew(issuer, text)
    assert str(info.value) == "invalid renewal payload JSON: " + detail


def test_array_request_is_accepted(issuer):
    holder = Key()
    req = json.loads(holder.agent().build_renewal_request(mint(issuer, holder.aid)))
    text = json.dumps([req["current_tct"], req["pop_nonce"], req["pop_signature"]], indent=2)
    assert json.loads(renew(issuer, text))["grant_voucher"]


@pytest.mark.parametrize("call, exc, note", [
    (lambda a: a.build_renewal_request(None), TypeError, "current_tct_envelope_json"),
    (lambda a: a.process_renewal_request(b"{}", 1, 1), TypeError, "request_payload_json"),
    (lambda a: a.process_renewal_request("{}", 2**63, 1), OverflowError, "manifest_exp_unix_secs"),
    (lambda a: a.process_renewal_request("{}", 1, 1.5), TypeError, "new_ttl_secs"),
])
def test_argument_errors(call, exc, note):
    with pytest.raises(exc) as info:
        call(Key().agent())
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_text_signatures():
    agent_cls = zelk.ZelkAgent
    assert agent_cls.build_renewal_request.__text_signature__ == (
        "($self, current_tct_envelope_json)")
    assert agent_cls.process_renewal_request.__text_signature__ == (
        "($self, request_payload_json, manifest_exp_unix_secs, new_ttl_secs)")
    assert "revocation" in agent_cls.process_renewal_request.__doc__.lower()
