"""TctIdentity and DelegationVerified: frozen values read through fresh objects.

The test probe builds both with the module's own wrapping code, so fields can be set freely;
the producer of DelegationVerified (delegation verification) comes later.
"""

import threading

import pytest

probe = pytest.importorskip("_zelk_probe")

AID = "aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo"
JTI = "0b7c6a8e-4f0e-4d6a-9b1f-3c2d1e0f9a8b"


def make_identity(grants=("read", "write")):
    return probe.tct_identity(AID, list(grants), 2**63 - 1, JTI)


def make_delegation():
    return probe.delegation_verified("aid:pubkey:A", "aid:pubkey:B", "aid:pubkey:C",
                                     ("read",), -5, "thumb")


def test_tct_identity_fields():
    identity = make_identity()
    assert type(identity).__name__ == "TctIdentity"
    assert (identity.peer_aid, identity.grants, identity.expires_at, identity.jti) == (
        AID, ["read", "write"], 2**63 - 1, JTI)


def test_delegation_verified_fields():
    verified = make_delegation()
    assert (verified.delegator, verified.delegatee, verified.issued_by, verified.grants,
            verified.expires_at, verified.cnf) == (
        "aid:pubkey:A", "aid:pubkey:B", "aid:pubkey:C", ["read"], -5, "thumb")


def test_grants_are_a_fresh_list_each_read():
    identity = make_identity()
    first, second = identity.grants, identity.grants
    assert first == second and first is not second
    first.append("admin")
    assert identity.grants == ["read", "write"] and second == ["read", "write"]


@pytest.mark.parametrize("make, names", [
    (make_identity, ["peer_aid", "grants", "expires_at", "jti"]),
    (make_delegation, ["delegator", "delegatee", "issued_by", "grants", "expires_at", "cnf"]),
])
def test_results_are_read_only(make, names):
    obj = make()
    for name in names:
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)
        with pytest.raises(AttributeError):
            delattr(obj, name)
    with pytest.raises(AttributeError):
        obj.extra = 1
    # Identity comparison and the default representation.
    assert obj != make() and obj == obj
    assert repr(obj).startswith(f"<builtins.{type(obj).__name__} object at ")
    with pytest.raises(TypeError) as info:
        type(obj)()
    assert str(info.value) == f"cannot create 'builtins.{type(obj).__name__}' instances"


def test_results_read_from_many_threads():
    identity = make_identity(grants=[f"g{i}" for i in range(20)])
    errors = []

    def work():
        for _ in range(3000):
            try:
                assert len(identity.grants) == 20 and identity.peer_aid == AID
            except BaseException as err:  # noqa: BLE001
                errors.append(err)

    threads = [threading.Thread(target=work) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def test_delegation_verified_argument_converter():
    assert probe.read_delegation(make_delegation()) == ("aid:pubkey:B", ["read"])
    with pytest.raises(TypeError) as info:
        probe.read_delegation(make_identity())
    assert str(info.value) == "'TctIdentity' object is not an instance of 'DelegationVerified'"
    assert info.value.__notes__ == ["while processing 'verified'"]
    with pytest.raises(TypeError) as info:
        probe.read_delegation(None)
    assert str(info.value) == "'None' is not an instance of 'DelegationVerified'"


def test_non_ascii_fields_round_trip():
    identity = probe.tct_identity("aid:é", ["grant:\u20ac", "\U0001f600"], 0, JTI)
    assert identity.peer_aid == "aid:é" and identity.grants == ["grant:\u20ac", "\U0001f600"]
