"""Every module function and method under abusive arguments: wrong types, bytes for str, integers
at and beyond the 64-bit limits, lone surrogates, 10 MB strings, a million members and a million
levels of nesting. Each call returns or raises one of the module's documented exceptions, and none
takes more than a second of processor time (a guard against runaway work, not a speed target:
processor time, so that a busy machine does not fail it)."""

import datetime
import time
import uuid

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ed25519
from cryptography.x509.oid import NameOID

import zelk
from delegation_tokens import Parties, sign_voucher, voucher_claims
from handshake_agents import IdentityProvider, Party
from tct_tokens import Key, mint

SECOND = 1.0
MB10 = "a" * 10_000_000
WIDE_OBJECT = "{" + ",".join(f'"{i:x}":0' for i in range(1_000_000)) + "}"
DEEP_ARRAY = "[" * 1_000_000 + "]" * 1_000_000
DEEP_OBJECT = '{"a":' * 1_000_000 + "1" + "}" * 1_000_000


def deep_list(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


ABUSE = [
    ("none", None),
    ("float", 1.5),
    ("nan", float("nan")),
    ("object", object()),
    ("list", ["x"]),
    ("dict", {"x": 1}),
    ("set", {"x"}),
    ("bytes", b"bytes for str"),
    ("bytearray", bytearray(b"x")),
    ("true", True),
    ("i64_max", 2**63 - 1),
    ("i64_max_plus_1", 2**63),
    ("i64_max_plus_2", 2**63 + 1),
    ("i64_min", -(2**63)),
    ("i64_min_minus_1", -(2**63) - 1),
    ("i64_min_plus_1", -(2**63) + 1),
    ("u64_max_plus_1", 2**64),
    ("huge", 2**200),
    ("minus_huge", -(2**200)),
    ("surrogate", "\ud800"),
    ("surrogate_pair_halves", "a\udfff\ud800b"),
    ("empty", ""),
    ("nul", "\x00"),
    ("mb10", MB10),
    ("mb10_json", '"' + MB10 + '"'),
    ("wide_object_json", WIDE_OBJECT),
    ("wide_dict", {f"{i:x}": 0 for i in range(1_000_000)}),
    ("deep_array_json", DEEP_ARRAY),
    ("deep_object_json", DEEP_OBJECT),
    ("deep_list", deep_list(1_000_000)),
    ("long_list", ["x"] * 1_000_000),
    ("huge_range", range(10**9)),
]

DOCUMENTED = (TypeError, ValueError, OverflowError, UnicodeEncodeError, RuntimeError,
              zelk.ManifestVerificationError, zelk.RevocationVerificationError)

ME = Key()
AGENT = ME.agent()
ISSUER = Key()
TOKEN = mint(ISSUER, ME.aid)
STORE = zelk.TctStore(16)
MANIFEST = AGENT.build_manifest("A", "https://a.example/", ["read"])
NOW = int(time.time())

# Delegation: a grantor's voucher to alice, who delegates to bob (single hop and a chain).
PARTIES = Parties(NOW)
DELEGATION = PARTIES.single()
CHAIN, _ = PARTIES.chain(1)
GRANTOR = PARTIES.grantor.agent()
VERIFIED = zelk.verify_delegation(DELEGATION, PARTIES.grantor.aid)
VOUCHER_TO_ME = sign_voucher(ISSUER, voucher_claims(ISSUER, ME.aid, NOW))
DELEGATEE = Key()

# Renewal: a holder of a TCT this agent issued.
HOLDER = Key()
HOLDER_TCT = mint(ME, HOLDER.aid)
RENEWAL_REQUEST = HOLDER.agent().build_renewal_request(HOLDER_TCT)

REVOCATION = AGENT.sign_revocation_list([{"jti": str(uuid.uuid4()), "revoked_at": NOW}], 600)
BUNDLE = zelk.SessionBundleBuilder(AGENT).participant(HOLDER.aid, HOLDER_TCT).build()

IDP = IdentityProvider()
JWKS = IDP.provider()

_CERT_KEY = ed25519.Ed25519PrivateKey.from_private_bytes(bytes(range(32)))
_NAME = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "abuse.example")])
CERT = (x509.CertificateBuilder().subject_name(_NAME).issuer_name(_NAME)
        .public_key(_CERT_KEY.public_key()).serial_number(1)
        .not_valid_before(datetime.datetime(2024, 1, 1))
        .not_valid_after(datetime.datetime(2034, 1, 1))
        .sign(_CERT_KEY, None).public_bytes(serialization.Encoding.DER))
PINS = zelk.SpkiPinVerifier([zelk.compute_spki_hash(CERT)])

# Handshake sessions are used once, so each call gets a fresh session in the state it needs.
INITIATOR, RESPONDER = Party("Ini"), Party("Res")
GRANTS = ["files:read"]


def hello_pair():
    initiator = INITIATOR.agent.new_session()
    return initiator, initiator.build_hello(RESPONDER.manifest, GRANTS)


HELLO = hello_pair()[1]


def acked():
    initiator, hello = hello_pair()
    responder = RESPONDER.agent.new_responder()
    ack, session_id = responder.process_hello(hello)
    return initiator, responder, ack, session_id


def committed():
    initiator, responder, ack, session_id = acked()
    return initiator, responder, initiator.process_hello_ack(ack, session_id)


def fresh(make, method):
    return lambda *args, **kwargs: getattr(make(), method)(*args, **kwargs)


# Stands for the message of this very session, made afresh for each call.
OWN = object()


def stepped(make, method):
    """`make` returns a session and the arguments that are valid for it; OWN takes them."""
    def call(*args, **kwargs):
        session, own = make()
        args = [own[i] if a is OWN else a for i, a in enumerate(args)]
        return getattr(session, method)(*args, **kwargs)
    return call


def at_hello_ack():
    initiator, _, ack, session_id = acked()
    return initiator, [ack, session_id]


def at_commit():
    _, responder, commit = committed()
    return responder, [commit]


def at_commit_ack():
    initiator, responder, commit = committed()
    return initiator, [responder.process_commit(commit)[0]]


# (name, callable, valid positional arguments); each argument is replaced in turn.
FUNCTIONS = [
    ("compute_aid_jkt", zelk.compute_aid_jkt, [ME.aid]),
    ("verify_manifest_json", zelk.verify_manifest_json, [MANIFEST, None]),
    ("ZelkAgent.from_seed", zelk.ZelkAgent.from_seed, [bytes(32), "ed25519"]),
    ("ZelkAgent.generate", zelk.ZelkAgent.generate, ["ed25519"]),
    ("ZelkAgent.build_manifest", AGENT.build_manifest,
     ["A", "https://a.example/", ["read"], None, None, "pinned_key", None, None, None]),
    ("ZelkAgent.verify_tct", AGENT.verify_tct, [TOKEN, "read", None, None]),
    ("ZelkAgent.verify_tct_cached", AGENT.verify_tct_cached, [TOKEN, "read", STORE, None, None]),
    ("TctStore", zelk.TctStore, [4]),
    ("TctStore.len", STORE.len, []),
    ("TctStore.clear", STORE.clear, []),
    ("ZelkAgent", zelk.ZelkAgent, []),
    ("TctIdentity", zelk.TctIdentity, []),
    ("DelegationVerified", zelk.DelegationVerified, []),
    ("verify_delegation", zelk.verify_delegation, [DELEGATION, PARTIES.grantor.aid, None]),
    ("verify_delegation_multihop", zelk.verify_delegation_multihop,
     [CHAIN, PARTIES.grantor.aid, 3, None]),
    ("verify_revocation_list", zelk.verify_revocation_list, [REVOCATION, ME.aid, None]),
    ("revocation_signing_bytes", zelk.revocation_signing_bytes, [REVOCATION]),
    ("verify_session_bundle", zelk.verify_session_bundle, [BUNDLE, HOLDER.aid, None, None]),
    ("compute_spki_hash", zelk.compute_spki_hash, [CERT]),
    ("ZelkAgent.sign_revocation_list", AGENT.sign_revocation_list,
     [[{"jti": str(uuid.uuid4())}], 60]),
    ("ZelkAgent.build_delegation", AGENT.build_delegation,
     [VOUCHER_TO_ME, DELEGATEE.aid, ["read"], None]),
    ("ZelkAgent.issue_tct_for_delegatee", GRANTOR.issue_tct_for_delegatee, [VERIFIED, None]),
    ("ZelkAgent.build_renewal_request", HOLDER.agent().build_renewal_request, [HOLDER_TCT]),
    ("ZelkAgent.process_renewal_request", AGENT.process_renewal_request,
     [RENEWAL_REQUEST, NOW + 7200, 3600]),
    ("ZelkAgent.new_session", INITIATOR.agent.new_session, [JWKS, ["https://idp.example/"]]),
    ("ZelkAgent.new_responder", RESPONDER.agent.new_responder, [JWKS, ["https://idp.example/"]]),
    ("InitiatorSession.build_hello", fresh(INITIATOR.agent.new_session, "build_hello"),
     [RESPONDER.manifest, GRANTS, None]),
    ("ResponderSession.process_hello", fresh(RESPONDER.agent.new_responder, "process_hello"),
     [HELLO, None]),
    ("InitiatorSession.process_hello_ack", stepped(at_hello_ack, "process_hello_ack"),
     [OWN, OWN]),
    ("ResponderSession.process_commit", stepped(at_commit, "process_commit"), [OWN]),
    ("InitiatorSession.complete", stepped(at_commit_ack, "complete"), [OWN]),
    ("JwksProvider", zelk.JwksProvider, [{IDP.issuer: [IDP.jwk]}]),
    ("JwksProvider.upsert", JWKS.upsert, [IDP.issuer, [IDP.jwk]]),
    ("JwksProvider.remove", zelk.JwksProvider().remove, [IDP.issuer]),
    ("JwksProvider.issuers", JWKS.issuers, []),
    ("SessionBundleBuilder", zelk.SessionBundleBuilder, [AGENT]),
    ("SessionBundleBuilder.participant", fresh(lambda: zelk.SessionBundleBuilder(AGENT),
                                                "participant"), [HOLDER.aid, HOLDER_TCT]),
    ("SessionBundleBuilder.session_id", fresh(lambda: zelk.SessionBundleBuilder(AGENT),
                                               "session_id"), [str(uuid.uuid4())]),
    ("SessionBundleBuilder.issued_at", fresh(lambda: zelk.SessionBundleBuilder(AGENT),
                                              "issued_at"), [NOW]),
    ("SessionBundleBuilder.build",
     fresh(lambda: zelk.SessionBundleBuilder(AGENT).participant(HOLDER.aid, HOLDER_TCT), "build"),
     []),
    ("SpkiPinVerifier", zelk.SpkiPinVerifier, [[bytes(32)]]),
    ("SpkiPinVerifier.is_pinned", PINS.is_pinned, [CERT]),
    ("InitiatorSession", zelk.InitiatorSession, []),
    ("ResponderSession", zelk.ResponderSession, []),
]

CASES = []
for name, fn, valid in FUNCTIONS:
    for position in range(len(valid)):
        for label, value in ABUSE:
            args = list(valid)
            args[position] = value
            CASES.append(pytest.param(fn, args, {}, id=f"{name}-arg{position}-{label}"))
    # Too many arguments, and unknown or surrogate keywords.
    CASES.append(pytest.param(fn, list(valid) + [None] * 12, {}, id=f"{name}-too-many"))
    CASES.append(pytest.param(fn, list(valid), {"bogus": 1}, id=f"{name}-unknown-keyword"))
    CASES.append(pytest.param(fn, list(valid), {"\ud800": 1}, id=f"{name}-surrogate-keyword"))


@pytest.mark.parametrize("fn, args, kwargs", CASES)
def test_abusive_arguments(fn, args, kwargs):
    start = time.process_time()
    try:
        fn(*args, **kwargs)
    except DOCUMENTED as error:
        assert type(error).__name__ != "PanicException", error
    elapsed = time.process_time() - start
    assert elapsed < SECOND, f"took {elapsed:.2f} s"


@pytest.mark.parametrize("name, fn, valid", FUNCTIONS, ids=[f[0] for f in FUNCTIONS])
def test_valid_arguments_are_accepted(name, fn, valid):
    # The table's baseline must work, or the abuse above tests only early refusals.
    if name in ("ZelkAgent", "TctIdentity", "DelegationVerified", "InitiatorSession",
                "ResponderSession"):
        with pytest.raises(TypeError):
            fn(*valid)
    else:
        fn(*valid)


def test_every_registered_name_is_called():
    called = {name.split(".")[0] for name, _, _ in FUNCTIONS}
    errors = {"ManifestVerificationError", "RevocationVerificationError"}
    assert set(zelk.__all__) - errors <= called, set(zelk.__all__) - errors - called
