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

# The names whose behaviour exists so far.
REGISTERED = {
    "ZelkAgent", "TctIdentity", "DelegationVerified",
    "ManifestVerificationError", "RevocationVerificationError",
    "verify_manifest_json", "compute_aid_jkt",
    "TctStore",
    "verify_delegation", "verify_delegation_multihop",
}

CLASSES_WITHOUT_CONSTRUCTOR = ["ZelkAgent", "TctIdentity", "DelegationVerified"]
CLASSES = CLASSES_WITHOUT_CONSTRUCTOR + ["TctStore"]
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
    assert public == {"generate", "from_seed", "aid", "build_manifest", "verify_tct",
                      "verify_tct_cached", "build_delegation", "issue_tct_for_delegatee"}
    # Methods keep the class's order.
    methods = [n for n in vars(agent_cls) if not n.startswith("__") and n != "aid"]
    assert methods == ["generate", "from_seed", "build_manifest", "verify_tct",
                       "verify_tct_cached", "build_delegation", "issue_tct_for_delegatee"]


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
