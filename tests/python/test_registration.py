"""Module shape: registered names, classes, exceptions, text signatures and reloading."""

import importlib
import inspect
import shutil
import subprocess
import sys

import pytest

import zelk

# Every name the finished module registers, in the order of its execution step.
FULL_ORDER = [
    "ZelkAgent", "InitiatorSession", "ResponderSession", "TctIdentity", "TctStore",
    "DelegationVerified", "JwksProvider", "verify_delegation", "verify_revocation_list",
    "revocation_signing_bytes", "ManifestVerificationError", "RevocationVerificationError",
    "verify_delegation_multihop", "verify_manifest_json", "compute_aid_jkt",
    "SessionBundleBuilder", "verify_session_bundle", "SpkiPinVerifier", "compute_spki_hash",
]

# Every name is registered now.
REGISTERED = set(FULL_ORDER)

CLASSES_WITHOUT_CONSTRUCTOR = ["ZelkAgent", "InitiatorSession", "ResponderSession", "TctIdentity",
                               "DelegationVerified"]
CLASSES = CLASSES_WITHOUT_CONSTRUCTOR + ["TctStore", "JwksProvider", "SessionBundleBuilder",
                                        "SpkiPinVerifier"]
EXCEPTIONS = ["ManifestVerificationError", "RevocationVerificationError"]

Py_TPFLAGS_BASETYPE = 1 << 10
Py_TPFLAGS_HAVE_GC = 1 << 14


def test_all_follows_the_registration_order():
    assert zelk.__all__ == [name for name in FULL_ORDER if name in REGISTERED]
    for name in zelk.__all__:
        assert hasattr(zelk, name)
    assert zelk.__doc__ == "The `zelk` Python module."


def test_panic_exception_is_not_a_module_attribute():
    assert not hasattr(zelk, "PanicException")


@pytest.mark.parametrize("name", CLASSES)
def test_class_names_and_flags(name):
    cls = getattr(zelk, name)
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == name
    assert cls.__name__ == name
    assert cls.__bases__ == (object,)
    assert cls.__flags__ & Py_TPFLAGS_BASETYPE == 0
    assert cls.__flags__ & Py_TPFLAGS_HAVE_GC == 0
    assert cls.__doc__


@pytest.mark.parametrize("name", CLASSES_WITHOUT_CONSTRUCTOR)
@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {"x": 3})])
def test_refusing_constructor(name, args, kwargs):
    cls = getattr(zelk, name)
    with pytest.raises(TypeError) as info:
        cls(*args, **kwargs)
    assert str(info.value) == f"cannot create 'builtins.{name}' instances"
    # object.__new__ cannot get round it either.
    with pytest.raises(TypeError):
        object.__new__(cls)


@pytest.mark.parametrize("name", CLASSES)
def test_classes_cannot_be_subclassed(name):
    with pytest.raises(TypeError):
        type("Derived", (getattr(zelk, name),), {})


@pytest.mark.parametrize("name, first_line, codes", [
    ("ManifestVerificationError", "A manifest envelope failed verification.",
     ["expired", "signature_invalid", "pop_failed", "aid_mismatch",
      "incompatible_identity_type", "version_unknown", "identity_hint_malformed", "malformed"]),
    ("RevocationVerificationError", "A revocation snapshot failed verification.",
     ["version_unknown", "expired", "issuer_mismatch", "signature_invalid", "malformed"]),
])
def test_exception_types(name, first_line, codes):
    exc = getattr(zelk, name)
    assert exc.__module__ == "zelk"
    assert exc.__qualname__ == name
    assert exc.__bases__ == (RuntimeError,)
    lines = exc.__doc__.splitlines()
    assert lines[0] == first_line and lines[1] == ""
    for code in codes:
        assert f'"{code}"' in exc.__doc__
    assert "`code`" in exc.__doc__
    # The code is an instance attribute set by whoever raises it.
    err = exc("message")
    err.code = "expired"
    assert err.args == ("message",) and str(err) == "message" and err.code == "expired"


def test_zelk_agent_shape():
    agent_cls = zelk.ZelkAgent
    assert agent_cls.__text_signature__ is None
    assert agent_cls.generate.__text_signature__ == '(suite="ed25519")'
    assert agent_cls.from_seed.__text_signature__ == '(seed, suite="ed25519")'
    assert str(inspect.signature(agent_cls.from_seed)) == "(seed, suite='ed25519')"
    assert isinstance(inspect.getattr_static(agent_cls, "generate"), staticmethod)
    assert isinstance(inspect.getattr_static(agent_cls, "from_seed"), staticmethod)
    assert agent_cls.aid.__doc__ == "The agent's AID string (`aid:pubkey:...`)."
    assert agent_cls.generate.__doc__ and agent_cls.from_seed.__doc__
    public = {n for n in vars(agent_cls) if not n.startswith("__")}
    # Methods keep the class's order.
    methods = [n for n in vars(agent_cls) if not n.startswith("__") and n != "aid"]
    assert methods == ["generate", "from_seed", "build_manifest", "new_session", "new_responder",
                       "verify_tct", "verify_tct_cached", "build_delegation",
                       "issue_tct_for_delegatee", "sign_revocation_list", "build_renewal_request",
                       "process_renewal_request"]
    assert agent_cls.sign_revocation_list.__text_signature__ == (
        "($self, entries, expires_in_secs=None)")
    assert agent_cls.new_session.__text_signature__ == "($self, jwks=None, trust_anchors=None)"
    assert agent_cls.new_responder.__text_signature__ == "($self, jwks=None, trust_anchors=None)"


def items_of(cls):
    return [n for n in vars(cls) if not n.startswith("__")]


def test_session_and_provider_shapes():
    initiator, responder, provider = (zelk.InitiatorSession, zelk.ResponderSession,
                                      zelk.JwksProvider)
    assert initiator.__doc__ == "Outbound handshake session — drives the initiator side."
    assert responder.__doc__ == "Inbound handshake session — drives the responder side."
    assert items_of(initiator) == ["build_hello", "process_hello_ack", "complete"]
    assert items_of(responder) == ["process_hello", "process_commit"]
    assert items_of(provider) == ["upsert", "remove", "issuers"]
    signatures = {
        initiator.build_hello: "($self, peer_manifest_json, requested_grants, oidc_mint_jwt=None)",
        initiator.process_hello_ack: "($self, hello_ack_json, _session_id)",
        initiator.complete: "($self, commit_ack_json)",
        responder.process_hello: "($self, hello_json, oidc_mint_jwt=None)",
        responder.process_commit: "($self, commit_json)",
        provider.upsert: "($self, issuer, keys)",
        provider.remove: "($self, issuer)",
        provider.issuers: "($self)",
    }
    for method, signature in signatures.items():
        assert method.__text_signature__ == signature
    assert provider.__text_signature__ == "(keys=None)"
    assert provider.__doc__.startswith(
        "In-memory OIDC JWKS provider — issuer URL → list of JWK dicts.\n")
    assert provider.upsert.__doc__ == "Add or replace the JWKs for an issuer."
    assert provider.remove.__doc__ == "Drop all keys for an issuer (no-op if not present)."
    assert provider.issuers.__doc__ == "Return the issuer URLs currently registered."
    assert initiator.build_hello.__doc__.splitlines() == [
        "Step 1 — build the `MUTUAL_HELLO` envelope.", "",
        "`peer_manifest_json` is the `ManifestEnvelope` JSON from the peer's",
        "`GET /.well-known/zelk-manifest`. Returns the envelope JSON to",
        "`POST` to `/zelk/handshake/hello`.", "",
        "`oidc_mint_jwt` is required when this agent's manifest is OIDC;",
        "the callable receives the handshake-generated `pop_nonce` and",
        "must return a freshly-minted JWT whose `nonce` claim equals",
        "that nonce. Ignored for pinned-key agents."]
    assert initiator.process_hello_ack.__doc__ == (
        "Step 2 — process `MUTUAL_HELLO_ACK`, produce `MUTUAL_COMMIT`.")
    assert initiator.complete.__doc__.splitlines() == [
        "Step 3 — process `MUTUAL_COMMIT_ACK`. Returns a JSON object",
        '`{"tct": "<compact JWS>", "grant_voucher": "<compact JWS>" | null}`:',
        "the TCT the peer issued to us, plus the companion grant voucher",
        "(when issued — the voucher is what lets us later mint delegations)."]
    assert responder.process_hello.__doc__.splitlines() == [
        "Process an incoming `MUTUAL_HELLO` envelope.", "",
        "`oidc_mint_jwt` is required when this agent's manifest is OIDC;",
        "see `InitiatorSession.build_hello` for semantics."]
    assert responder.process_commit.__doc__ == "Process an incoming `MUTUAL_COMMIT` envelope."


def test_session_bundle_shapes():
    cls = zelk.SessionBundleBuilder
    assert cls.__text_signature__ == "(coordinator)"
    assert cls.__doc__.startswith("Fluent builder for issuing a `SessionBundleEnvelope`")
    assert [n for n in vars(cls) if not n.startswith("__")] == [
        "session_id", "issued_at", "participant", "build"]
    assert cls.session_id.__text_signature__ == "($self, uuid_str)"
    assert cls.issued_at.__text_signature__ == "($self, unix_secs)"
    assert cls.participant.__text_signature__ == "($self, aid, tct_token)"
    assert cls.build.__text_signature__ == "($self)"
    assert cls.issued_at.__doc__.endswith(
        'Override `issued_at` (unix seconds). Defaults to "now" at build.')
    assert cls.build.__doc__.endswith(
        "Construct, sign, and return the `SessionBundleEnvelope` JSON.")
    fn = zelk.verify_session_bundle
    assert fn.__text_signature__ == (
        "(bundle_envelope_json, verifier_aid, now_unix_secs=None, revocation_check=None)")
    assert fn.__module__ == "zelk" and fn.__self__ is None
    assert "fails open" in fn.__doc__


@pytest.mark.parametrize("name, signature", [
    ("verify_revocation_list", "(envelope_json, expected_issuer_aid, now_unix_secs=None)"),
    ("revocation_signing_bytes", "(envelope_json)"),
    ("compute_spki_hash", "(cert_der)"),
])
def test_module_function_shape(name, signature):
    fn = getattr(zelk, name)
    assert fn.__text_signature__ == signature
    assert fn.__module__ == "zelk" and fn.__self__ is None and fn.__doc__


@pytest.mark.parametrize("owner, name, signature", [
    ("ZelkAgent", "build_delegation",
     "($self, voucher_token, delegatee_aid, scope, ttl_secs=None)"),
    ("ZelkAgent", "issue_tct_for_delegatee", "($self, verified, ttl_secs=None)"),
    (None, "verify_delegation", "(delegation_token, verifier_aid, revoked_jtis=None)"),
    (None, "verify_delegation_multihop",
     "(delegation_token, verifier_aid, max_delegation_hops=..., revoked_jtis=None)"),
])
def test_delegation_text_signatures(owner, name, signature):
    obj = getattr(getattr(zelk, owner) if owner else zelk, name)
    assert obj.__text_signature__ == signature
    assert obj.__doc__.strip()
    if owner is None:
        assert obj.__module__ == "zelk" and obj.__self__ is None


def test_result_class_properties():
    tct = {
        "peer_aid": "AID of the agent that issued (and is bound by) the TCT.",
        "grants": "Capability grants the TCT authorizes.",
        "expires_at": "Expiry, Unix seconds.",
        "jti": "TCT unique identifier (`jti`).",
    }
    for name, doc in tct.items():
        assert getattr(zelk.TctIdentity, name).__doc__ == doc
    assert zelk.TctIdentity.__doc__ == "The verified peer identity carried by a TCT."
    assert {n for n in vars(zelk.TctIdentity) if not n.startswith("__")} == set(tct)

    delegation = ["delegator", "delegatee", "issued_by", "grants", "expires_at", "cnf"]
    assert {n for n in vars(zelk.DelegationVerified) if not n.startswith("__")} == set(delegation)
    for name in delegation:
        assert getattr(zelk.DelegationVerified, name).__doc__
    doc_lines = zelk.DelegationVerified.__doc__.splitlines()
    assert len(doc_lines) == 2 and "verify_delegation" in zelk.DelegationVerified.__doc__


def test_instances_have_no_dict_and_read_only_properties():
    agent = zelk.ZelkAgent.generate()
    assert not hasattr(agent, "__dict__")
    with pytest.raises(AttributeError):
        agent.aid = "aid:pubkey:x"
    with pytest.raises(AttributeError):
        del agent.aid
    with pytest.raises(AttributeError):
        agent.anything = 1
    with pytest.raises(TypeError):
        __import__("weakref").ref(agent)


def test_reimport_shares_the_type_objects():
    old = sys.modules.pop("zelk")
    try:
        new = importlib.import_module("zelk")
        assert new is not old
        for name in old.__all__:
            # Classes and exceptions are made once per process; functions belong to each module.
            if isinstance(getattr(old, name), type):
                assert getattr(new, name) is getattr(old, name)
        assert new.__all__ == old.__all__
    finally:
        sys.modules["zelk"] = old


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm not installed")
def test_only_pyinit_is_exported():
    out = subprocess.run(["nm", "-D", "--defined-only", zelk.__file__],
                         check=True, capture_output=True, text=True).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    assert symbols == ["PyInit_zelk"]


def test_module_file_is_abi3():
    assert zelk.__file__.endswith("zelk.abi3.so")


def fresh_module():
    import importlib.util

    found = importlib.util.find_spec("zelk")
    return found, importlib.util.module_from_spec(found)


def test_execution_step_refuses_an_all_that_is_not_a_list():
    found, module = fresh_module()
    module.__all__ = ("x",)
    with pytest.raises(TypeError) as info:
        found.loader.exec_module(module)
    assert str(info.value) == "'tuple' object is not an instance of 'list'"


def test_execution_step_appends_to_an_existing_all():
    found, module = fresh_module()
    module.__all__ = ["earlier"]
    found.loader.exec_module(module)
    assert module.__all__ == ["earlier"] + zelk.__all__
    assert module.ZelkAgent is zelk.ZelkAgent
