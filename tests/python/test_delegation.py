"""Delegation: building with ZelkAgent.build_delegation, verification in one hop and along a
chain, and the TCT a grantor then issues to the delegatee."""

import base64
import json
import time
import uuid

import pytest
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature

import zelk
from delegation_tokens import (Parties, canonical, chain_hash, delegation_claims, payload_of,
                               sign_delegation, sign_voucher, voucher_claims)
from tct_tokens import Key, b64url, within_one_second

BUILD = "delegation build failed: "
VERIFY = "delegation verification failed: "
I64_MAX = 2**63 - 1


def outcome(call):
    try:
        return call()
    except (ValueError, RuntimeError, TypeError, OverflowError) as e:
        return e


def message(result):
    return "(verified)" if isinstance(result, zelk.DelegationVerified) else str(result)


@pytest.fixture
def parties():
    return Parties(int(time.time()))


@pytest.fixture
def alice_agent(parties):
    return parties.alice.agent()


# ---- building ---------------------------------------------------------------------------------

def test_built_token_verifies_at_the_grantor_and_yields_a_tct(parties, alice_agent):
    p = parties
    token = alice_agent.build_delegation(p.voucher, p.bob.aid, ["write", "read"], ttl_secs=120)
    verified = zelk.verify_delegation(token, p.grantor.aid)
    claims = json.loads(payload_of(token))
    assert verified.delegator == p.grantor.aid
    assert verified.issued_by == p.alice.aid
    assert verified.delegatee == p.bob.aid
    assert verified.grants == ["write", "read"]
    assert verified.cnf == zelk.compute_aid_jkt(p.bob.aid)
    assert verified.expires_at == claims["exp"]

    envelope = p.grantor.agent().issue_tct_for_delegatee(verified)
    assert list(json.loads(envelope)) == ["tct", "grant_voucher"]
    tct = json.loads(envelope)["tct"]
    identity = p.bob.agent().verify_tct(tct, "write")
    assert identity.peer_aid == p.grantor.aid and identity.grants == ["write", "read"]


@pytest.mark.parametrize("suite", ["ed25519", "p256"])
def test_built_payload_is_canonical_and_single_hop(suite):
    def build(now):
        grantor, holder, bob = Key(), Key(suite), Key()
        voucher = sign_voucher(grantor, voucher_claims(grantor, holder.aid, now, ttl=7200))
        token = holder.agent().build_delegation(voucher, bob.aid, ["read", "read"])
        return now, grantor, holder, bob, voucher, token

    now, grantor, holder, bob, voucher, token = within_one_second(build)
    header, payload, signature = token.split(".")
    assert base64.urlsafe_b64decode(header + "==").decode() == (
        '{"alg":"%s","typ":"zelk-delegation+jwt"}' % holder.alg)
    expected = canonical({
        "aud": grantor.aid, "cnf": {"jkt": zelk.compute_aid_jkt(bob.aid)}, "exp": now + 3600,
        "iss": holder.aid, "scope": ["read", "read"], "sub": bob.aid, "ver": "zelk/0.2",
        "voucher": voucher})
    assert payload_of(token) == expected
    assert len(signature) == 86
    assert zelk.verify_delegation(token, grantor.aid).issued_by == holder.aid
    # The signature holds under the independent library.
    raw = base64.urlsafe_b64decode(signature + "==")
    if suite == "ed25519":
        holder.public_key().verify(raw, f"{header}.{payload}".encode())
    else:
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        holder.public_key().verify(der, f"{header}.{payload}".encode(), ec.ECDSA(hashes.SHA256()))


@pytest.mark.parametrize("ttl, expected", [
    ("absent", lambda now, vexp: now + 3600),
    (None, lambda now, vexp: now + 3600),
    (0, lambda now, vexp: now),
    (-5, lambda now, vexp: now - 5),
    (I64_MAX, lambda now, vexp: vexp),
    (10**6, lambda now, vexp: vexp),
])
def test_lifetime_is_cut_to_the_voucher(parties, alice_agent, ttl, expected):
    p = parties
    vexp = p.now + 7200
    voucher = sign_voucher(p.grantor, voucher_claims(p.grantor, p.alice.aid, p.now, ttl=7200))

    def build(now):
        kwargs = {} if ttl == "absent" else {"ttl_secs": ttl}
        return now, alice_agent.build_delegation(voucher, p.bob.aid, ["read"], **kwargs)

    now, token = within_one_second(build)
    assert json.loads(payload_of(token))["exp"] == expected(now, vexp)


def test_voucher_is_read_but_not_verified(parties, alice_agent):
    p = parties
    header, payload, _ = p.voucher.split(".")
    for voucher in (f"{header}.{payload}.x", f"!!.{payload}.sig"):
        token = alice_agent.build_delegation(voucher, p.bob.aid, ["read"])
        assert json.loads(payload_of(token))["voucher"] == voucher
    expired = sign_voucher(p.grantor, voucher_claims(p.grantor, p.alice.aid, p.now, ttl=-100),
                           signer=p.carol)
    token = alice_agent.build_delegation(expired, p.bob.aid, ["read"])
    assert json.loads(payload_of(token))["exp"] == p.now - 100


def voucher_text(p, **override):
    claims = voucher_claims(p.grantor, p.alice.aid, p.now, **override)
    return {k: v for k, v in claims.items() if v is not None}


def raw_voucher(p, text):
    """A voucher whose payload is `text` as it stands; its signature is never looked at."""
    return sign_voucher(p.grantor, {}).split(".")[0] + "." + b64url(text) + ".sig"


@pytest.mark.parametrize("make, scope, reason", [
    (lambda p: "a.b", ["read"],
     "compact JWS malformed: expected exactly three non-empty segments"),
    (lambda p: "a..c", ["read"],
     "compact JWS malformed: expected exactly three non-empty segments"),
    (lambda p: raw_voucher(p, canonical(voucher_text(p, x=1))), ["read"], "unknown field: x"),
    (lambda p: raw_voucher(p, canonical(voucher_text(p, src_jti=None))), ["read"],
     "delegation claims malformed: voucher: missing field `src_jti` at line 1 column "),
    (lambda p: raw_voucher(p, '{"ver":"a","ver":"b"}'), ["read"],
     "delegation claims malformed: duplicate field `ver` at line 1 column 16"),
    (lambda p: sign_voucher(p.grantor, voucher_text(p, sub=p.carol.aid)), ["read"],
     "delegation voucher is invalid"),
    (lambda p: sign_voucher(p.grantor, voucher_text(p, sub=p.alice.long_aid)), ["read"],
     "delegation voucher is invalid"),
    (lambda p: p.voucher, [], "delegation scope must be non-empty"),
    (lambda p: p.voucher, ["Read"], "delegation scope exceeds grant proof capabilities"),
    (lambda p: sign_voucher(p.grantor, voucher_text(p, grants=[])), ["read"],
     "delegation scope exceeds grant proof capabilities"),
])
def test_build_refusals(parties, alice_agent, make, scope, reason):
    with pytest.raises(RuntimeError) as info:
        alice_agent.build_delegation(make(parties), parties.bob.aid, scope)
    assert str(info.value).startswith(BUILD + reason)
    if not reason.endswith("column "):
        assert str(info.value) == BUILD + reason


def test_build_delegatee_checks(parties, alice_agent):
    p = parties
    with pytest.raises(RuntimeError) as info:
        alice_agent.build_delegation(p.voucher, p.alice.aid, ["read"])
    assert str(info.value) == BUILD + "self-delegation is forbidden"
    # The other Ed25519 form of the same key is another text, so another agent.
    token = alice_agent.build_delegation(p.voucher, p.alice.long_aid, ["read"])
    assert json.loads(payload_of(token))["sub"] == p.alice.long_aid
    with pytest.raises(ValueError) as info:
        alice_agent.build_delegation(p.voucher, "pubkey:abc", ["read"])
    assert str(info.value) == "invalid delegatee AID: AID does not start with 'aid:'"
    with pytest.raises(TypeError):
        alice_agent.build_delegation(p.voucher, p.bob.aid, "read")
    # An AID whose bytes are no Ed25519 point.
    no_point = "aid:pubkey:" + b64url(bytes([2]) + bytes(31))
    with pytest.raises(RuntimeError) as info:
        alice_agent.build_delegation(p.voucher, no_point, ["read"])
    assert str(info.value) == (
        BUILD + "AID does not yield a valid Ed25519 public key: signature error")


# ---- verification: one hop ----------------------------------------------------------------------

def test_single_hop_steps(parties):
    p = parties
    vexp = p.voucher_claims["exp"]
    other_voucher = sign_voucher(p.grantor, p.voucher_claims, signer=p.carol)
    cases = [
        ("valid", p.single(), "(verified)"),
        ("TCT presented", sign_delegation(p.alice, delegation_claims(
            p.alice.aid, p.bob.aid, p.grantor.aid, p.now), typ="zelk-tct+jwt"),
         "JWS typ header mismatch: expected zelk-delegation+jwt, got zelk-tct+jwt"),
        ("undeclared member", p.single(nbf=1), "unknown field: nbf"),
        ("member inside cnf", p.single(cnf={"jkt": zelk.compute_aid_jkt(p.bob.aid), "alg": 1}),
         "unknown field: alg"),
        ("signed by another key", p.single(signer=p.carol), "delegation signature is invalid"),
        ("version", p.single(ver="zelk/0.1"), "delegation token version is not supported"),
        ("audience", p.single(aud=p.bob.aid), "delegation audience mismatch"),
        ("expired", p.single(exp=p.now - 1), "delegation token or grant proof has expired"),
        ("no voucher", p.single(voucher=None), "delegation voucher is invalid"),
        ("voucher of another signer", p.single(voucher=other_voucher),
         "signature verification failed"),
        ("voucher for another agent", p.single(voucher=sign_voucher(
            p.grantor, voucher_claims(p.grantor, p.carol.aid, p.now))),
         "delegation voucher is invalid"),
        ("voucher version", p.single(voucher=sign_voucher(
            p.grantor, voucher_claims(p.grantor, p.alice.aid, p.now, ver="zelk/9"))),
         "delegation token version is not supported"),
        ("voucher empty grants", p.single(voucher=sign_voucher(
            p.grantor, voucher_claims(p.grantor, p.alice.aid, p.now, grants=[]))),
         "delegation voucher is invalid"),
        ("voucher expired", p.single(exp=p.now, voucher=sign_voucher(
            p.grantor, voucher_claims(p.grantor, p.alice.aid, p.now, ttl=-1))),
         "delegation token or grant proof has expired"),
        ("outlives voucher", p.single(exp=vexp + 1), "delegation token or grant proof has expired"),
        ("expires with voucher", p.single(exp=vexp), "(verified)"),
        ("scope beyond grants", p.single(scope=["read "]),
         "delegation scope exceeds grant proof capabilities"),
        ("scope repeats a grant", p.single(scope=["read", "read"]), "(verified)"),
        ("empty scope", p.single(scope=[]), "delegation scope must be non-empty"),
        ("cnf of another key", p.single(cnf={"jkt": zelk.compute_aid_jkt(p.carol.aid)}),
         "delegation cnf is malformed"),
    ]
    for what, token, expected in cases:
        got = message(outcome(lambda: zelk.verify_delegation(token, p.grantor.aid)))
        assert got == expected if expected == "(verified)" else got == VERIFY + expected, what


def test_self_delegation_is_refused():
    now = int(time.time())
    grantor, alice = Key(), Key()
    voucher = sign_voucher(grantor, voucher_claims(grantor, alice.aid, now))
    token = sign_delegation(alice, delegation_claims(alice.aid, alice.aid, grantor.aid, now,
                                                     voucher=voucher))
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation(token, grantor.aid)
    assert str(info.value) == VERIFY + "self-delegation is forbidden"


def test_expiry_boundary_at_now(parties):
    p = parties

    def run(now):
        token = p.single(exp=now)
        early = p.single(exp=now - 1)
        return (message(outcome(lambda: zelk.verify_delegation(token, p.grantor.aid))),
                message(outcome(lambda: zelk.verify_delegation(early, p.grantor.aid))))

    assert within_one_second(run) == (
        "(verified)", VERIFY + "delegation token or grant proof has expired")


def test_verifier_is_compared_as_text(parties):
    p = parties
    token = p.single()
    for verifier in (p.carol.aid, p.grantor.long_aid):
        with pytest.raises(RuntimeError) as info:
            zelk.verify_delegation(token, verifier)
        assert str(info.value) == VERIFY + "delegation audience mismatch"
    with pytest.raises(ValueError) as info:
        zelk.verify_delegation(token, "pubkey:abc")
    assert str(info.value) == "invalid verifier AID: AID does not start with 'aid:'"


def test_jti_and_empty_chain_need_multi_hop(parties):
    p = parties
    with_jti = p.single(jti=str(uuid.uuid4()))
    empty_chain = p.single(chain=[], chain_hash="ignored")
    for token, reason in [
            (with_jti, "delegation claims malformed: jti claim requires multi-hop opt-in"),
            (empty_chain, "multi-hop delegation is not supported")]:
        with pytest.raises(RuntimeError) as info:
            zelk.verify_delegation(token, p.grantor.aid)
        assert str(info.value) == VERIFY + reason
        assert zelk.verify_delegation_multihop(token, p.grantor.aid).issued_by == p.alice.aid
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation_multihop(empty_chain, p.grantor.aid, 0)
    assert str(info.value) == VERIFY + "multi-hop delegation is not supported"


# ---- verification: chains -------------------------------------------------------------------

def test_one_entry_chain_result(parties):
    p = parties
    token, tokens = p.chain(1)
    verified = zelk.verify_delegation_multihop(token, p.grantor.aid)
    assert verified.delegator == p.grantor.aid
    assert verified.issued_by == p.bob.aid and verified.delegatee == p.carol.aid
    assert verified.expires_at == json.loads(payload_of(token))["exp"]
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation(token, p.grantor.aid)
    assert str(info.value) == VERIFY + "multi-hop delegation is not supported"


@pytest.mark.parametrize("max_hops, one, two", [
    (0, "multi-hop delegation is not supported", "multi-hop delegation is not supported"),
    (1, "delegation hop limit exceeded", "delegation hop limit exceeded"),
    (2, "delegation hop limit exceeded", "delegation hop limit exceeded"),
    (3, "(verified)", "delegation hop limit exceeded"),
    (4, "(verified)", "(verified)"),
    (2**64 - 1, "(verified)", "(verified)"),
])
def test_hop_limit_boundary(parties, max_hops, one, two):
    p = parties
    for length, expected in ((1, one), (2, two)):
        token, _ = p.chain(length)
        got = message(outcome(lambda: zelk.verify_delegation_multihop(
            token, p.grantor.aid, max_delegation_hops=max_hops)))
        assert got == (expected if expected == "(verified)" else VERIFY + expected), length


def test_default_limit_admits_one_entry(parties):
    p = parties
    assert zelk.verify_delegation_multihop(p.chain(1)[0], p.grantor.aid)
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation_multihop(p.chain(2)[0], p.grantor.aid)
    assert str(info.value) == VERIFY + "delegation hop limit exceeded"


def edit_hop(index, **override):
    """Sets (or, for None, removes) members of hop `index` of a chain."""
    def edit(i, claims):
        if i == index:
            claims.update(override)
            for k in [k for k, v in claims.items() if v is None]:
                del claims[k]
    return edit


def edit_outer(**override):
    return edit_hop(1, **override)


def wrong_issuer(p):
    def edit(i, claims):
        if i == 1:
            claims["iss"] = p.dave.aid
            return p.dave
    return edit


@pytest.mark.parametrize("length, make_edit, reason", [
    (1, lambda p: wrong_issuer(p), "delegation voucher is invalid"),
    (1, lambda p: edit_outer(scope=["read", "write"]),
     "delegation scope exceeds grant proof capabilities"),
    (1, lambda p: edit_outer(exp=p.now + 301), "delegation token or grant proof has expired"),
    (1, lambda p: edit_outer(jti=None), "delegation voucher is invalid"),
    (1, lambda p: edit_hop(0, jti=None), "delegation voucher is invalid"),
    (1, lambda p: edit_hop(0, voucher=None), "delegation voucher is invalid"),
    (1, lambda p: edit_hop(0, scope=["delete"]),
     "delegation scope exceeds grant proof capabilities"),
    (1, lambda p: edit_hop(0, aud=p.alice.aid), "delegation audience mismatch"),
    (1, lambda p: edit_outer(voucher=p.voucher), "delegation voucher is invalid"),
    (1, lambda p: edit_outer(chain_hash=None), "delegation chain_hash mismatch"),
    (1, lambda p: edit_outer(chain_hash=chain_hash([])), "delegation chain_hash mismatch"),
    (2, lambda p: edit_hop(1, chain=["x.y.z"], chain_hash=chain_hash(["x.y.z"])),
     "delegation voucher is invalid"),
    (2, lambda p: edit_hop(1, chain_hash=None), "delegation voucher is invalid"),
    (2, lambda p: edit_hop(1, chain_hash="wrong"), "delegation voucher is invalid"),
    (2, lambda p: edit_hop(1, chain=None, chain_hash=None), None),
])
def test_chain_faults(parties, length, make_edit, reason):
    p = parties
    token, _ = p.chain(length, make_edit(p))
    if reason is None:  # a chain entry without a chain of its own is not examined further
        assert zelk.verify_delegation_multihop(token, p.grantor.aid, 4)
        return
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation_multihop(token, p.grantor.aid, 4)
    assert str(info.value) == VERIFY + reason


def test_repeated_jti_across_hops(parties):
    p = parties
    shared = str(uuid.uuid4())

    def edit(i, claims):
        claims["jti"] = shared

    token, _ = p.chain(1, edit)
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation_multihop(token, p.grantor.aid)
    assert str(info.value) == VERIFY + "delegation voucher is invalid"


# ---- revocation ----------------------------------------------------------------------------------

def test_root_revocation_only_in_lower_case_form(parties):
    p = parties
    src = p.voucher_claims["src_jti"]
    token = p.single()
    for fn in (zelk.verify_delegation, zelk.verify_delegation_multihop):
        with pytest.raises(RuntimeError) as info:
            fn(token, p.grantor.aid, revoked_jtis={src})
        assert str(info.value) == VERIFY + "source TCT has been revoked"
        assert fn(token, p.grantor.aid, revoked_jtis={src.upper()})
        assert fn(token, p.grantor.aid, revoked_jtis=frozenset())


def test_revocation_is_the_last_check(parties):
    p = parties
    src = {p.voucher_claims["src_jti"]}
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation(p.single(signer=p.carol), p.grantor.aid, revoked_jtis=src)
    assert str(info.value) == VERIFY + "delegation signature is invalid"
    token, _ = p.chain(1, edit_outer(exp=p.now + 301))
    with pytest.raises(RuntimeError) as info:
        zelk.verify_delegation_multihop(token, p.grantor.aid, revoked_jtis=src)
    assert str(info.value) == VERIFY + "delegation token or grant proof has expired"


def test_hop_revocation(parties):
    p = parties
    token, tokens = p.chain(1)
    for hop in tokens:
        jti = json.loads(payload_of(hop))["jti"]
        with pytest.raises(RuntimeError) as info:
            zelk.verify_delegation_multihop(token, p.grantor.aid, revoked_jtis={jti})
        assert str(info.value) == VERIFY + "source TCT has been revoked"
    # A token verified as a single hop has only its voucher looked up.
    jti = str(uuid.uuid4())
    single = p.single(jti=jti)
    assert zelk.verify_delegation_multihop(single, p.grantor.aid, revoked_jtis={jti})


# ---- issuing a TCT for the delegatee ----------------------------------------------------------

@pytest.fixture
def verified(parties, alice_agent):
    p = parties
    token = alice_agent.build_delegation(p.voucher, p.bob.long_aid, ["write", "read", "write"])
    return zelk.verify_delegation(token, p.grantor.aid)


def tct_claims(envelope):
    data = json.loads(envelope)
    return json.loads(payload_of(data["tct"])), json.loads(payload_of(data["grant_voucher"]))


@pytest.mark.parametrize("ttl, lifetime", [(None, 3600), (0, 0), (-10, -10), (I64_MAX, None)])
def test_issued_tct_lifetime(parties, verified, ttl, lifetime):
    kwargs = {} if ttl is None else {"ttl_secs": ttl}
    tct, voucher = tct_claims(parties.carol.agent().issue_tct_for_delegatee(verified, **kwargs))
    if lifetime is None:
        assert tct["exp"] == 9223372036854776000  # the saturated value, as written
    else:
        assert tct["exp"] - tct["iat"] == lifetime
    assert (voucher["iat"], voucher["exp"]) == (tct["iat"], tct["exp"])


def test_issued_tct_claims(parties, verified):
    issuer = parties.carol.agent()  # any agent may issue
    first = issuer.issue_tct_for_delegatee(verified)
    tct, voucher = tct_claims(first)
    assert tct["iss"] == parties.carol.aid
    assert tct["sub"] == tct["aud"] == parties.bob.long_aid
    assert tct["grants"] == voucher["grants"] == ["write", "read", "write"]
    assert voucher["src_jti"] == tct["jti"] and voucher["sub"] == tct["sub"]
    assert first.startswith('{"tct":"') and '","grant_voucher":"' in first
    second_tct, _ = tct_claims(issuer.issue_tct_for_delegatee(verified, None))
    assert second_tct["jti"] != tct["jti"]


def test_issue_refuses_other_objects(parties):
    agent = parties.carol.agent()
    with pytest.raises(TypeError) as info:
        agent.issue_tct_for_delegatee("verified")
    assert str(info.value) == "'str' object is not an instance of 'DelegationVerified'"


def test_issue_passes_on_mint_refusals(parties, alice_agent):
    p = parties
    voucher = sign_voucher(p.grantor, voucher_claims(p.grantor, p.alice.aid, p.now,
                                                     grants=["read all"]))
    token = alice_agent.build_delegation(voucher, p.bob.aid, ["read all"])
    verified = zelk.verify_delegation(token, p.grantor.aid)
    with pytest.raises(RuntimeError) as info:
        p.grantor.agent().issue_tct_for_delegatee(verified)
    assert str(info.value) == "TCT mint failed: TCT grant must not contain whitespace: `read all`"


# ---- arguments ------------------------------------------------------------------------------------

def note_of(info):
    return getattr(info.value, "__notes__", [None])[-1]


@pytest.mark.parametrize("kwargs, exc, text, note", [
    ({"max_delegation_hops": None}, TypeError, None, "max_delegation_hops"),
    ({"max_delegation_hops": -1}, OverflowError, None, "max_delegation_hops"),
    ({"max_delegation_hops": 2**64}, OverflowError, None, "max_delegation_hops"),
    ({"revoked_jtis": ["x"]}, TypeError, "'list' object is not an instance of 'set'",
     "revoked_jtis"),
    ({"revoked_jtis": {1}}, TypeError, "'int' object is not an instance of 'str'",
     "revoked_jtis"),
])
def test_multihop_argument_errors(parties, kwargs, exc, text, note):
    with pytest.raises(exc) as info:
        # A malformed verifier AID is reported only after the arguments are converted.
        zelk.verify_delegation_multihop(parties.single(), "not an aid", **kwargs)
    if text is not None:
        assert str(info.value) == text
    assert note_of(info) == f"while processing '{note}'"


def test_positional_and_keyword_arguments(parties):
    p = parties
    token = p.single()
    assert zelk.verify_delegation(token, p.grantor.aid, None)
    assert zelk.verify_delegation(delegation_token=token, verifier_aid=p.grantor.aid)
    assert zelk.verify_delegation_multihop(token, p.grantor.aid, 3, None)
    with pytest.raises(TypeError):
        zelk.verify_delegation(token)
