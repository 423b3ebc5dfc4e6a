"""SessionBundleBuilder and verify_session_bundle: building, the written form, verification in
its order, and the revocation callable."""

import base64
import gc
import hashlib
import json
import sys
import time
import uuid

import numpy
import pytest
from cryptography.hazmat.primitives.asymmetric import ed25519

import zelk
from delegation_tokens import payload_of
from tct_tokens import Key, b64url, claims_for, mint, sign_token

NOW = 1_700_000_000
SESSION_ID = "6ba7b810-9dad-41d1-80b4-00c04fd430c8"
BUNDLE_MEMBERS = ["version", "session_id", "coordinator", "issued_at", "expires_at",
                  "participants", "signature"]
BUILD_FAILED = "bundle build failed: "
VERIFY_FAILED = "bundle verification failed: "


@pytest.fixture(scope="module")
def coordinator():
    key = Key()
    key.zelk = key.agent()
    return key


@pytest.fixture(scope="module")
def members():
    return [Key("p256" if i % 7 == 6 else "ed25519") for i in range(50)]


def builder_for(coordinator, entries, session_id=SESSION_ID, issued_at=NOW):
    b = zelk.SessionBundleBuilder(coordinator.zelk)
    if session_id is not None:
        b.session_id(session_id)
    if issued_at is not None:
        b.issued_at(issued_at)
    for aid, token in entries:
        b.participant(aid, token)
    return b


def bundle_for(coordinator, keys, ttl=3600, **kwargs):
    entries = [(k.aid, mint(coordinator, k.aid, now=NOW, ttl=ttl + i)) for i, k in enumerate(keys)]
    return builder_for(coordinator, entries, **kwargs).build()


def body(text):
    return json.loads(text)["session_bundle"]


def with_body(text, **changes):
    b = body(text)
    b.update(changes)
    return json.dumps({"session_bundle": b}, separators=(",", ":"))


def resigned(text, key, **changes):
    """The bundle changed and signed again with `key`, as a coordinator would."""
    b = body(text)
    b.update(changes)
    b.pop("signature")
    signing_input = json.dumps(b, sort_keys=True, separators=(",", ":")).encode()
    b["signature"] = b64url(key.sign(hashlib.sha256(signing_input).digest()))
    return json.dumps({"session_bundle": b}, separators=(",", ":"))


def jti_of(token):
    return json.loads(payload_of(token))["jti"]


def failure(call):
    with pytest.raises((ValueError, RuntimeError)) as info:
        call()
    return str(info.value)


# ---- building --------------------------------------------------------------------------------

def test_chained_build_and_written_form(coordinator, members):
    alice, bob = members[0], members[1]
    ta = mint(coordinator, alice.aid, now=NOW, ttl=100)
    tb = mint(coordinator, bob.aid, now=NOW, ttl=50)
    b = zelk.SessionBundleBuilder(coordinator.zelk)
    assert b.session_id(SESSION_ID.upper()) is b
    assert b.issued_at(-5) is b
    assert b.participant(alice.aid, ta) is b
    text = b.participant(bob.aid, tb).build()

    pairs = json.loads(text, object_pairs_hook=lambda p: p)
    assert [name for name, _ in pairs] == ["session_bundle"]
    members_written = pairs[0][1]
    assert [name for name, _ in members_written] == BUNDLE_MEMBERS
    assert text.startswith('{"session_bundle":{"version":"zelk/0.2","session_id":"%s",'
                           '"coordinator":"%s","issued_at":-5,"expires_at":%d,"participants":'
                           '[{"aid":"%s","tct":"%s"},{"aid":"%s","tct":"%s"}],"signature":"'
                           % (SESSION_ID, coordinator.aid, NOW + 50, alice.aid, ta, bob.aid, tb))
    assert " " not in text

    # The signature covers SHA-256 of the sorted body without `signature`.
    b = body(text)
    signature = b.pop("signature")
    assert len(signature) == 86
    signing_input = json.dumps(b, sort_keys=True, separators=(",", ":")).encode()
    assert signing_input.startswith(b'{"coordinator":')
    coordinator.public_key().verify(base64.urlsafe_b64decode(signature + "=="),
                                    hashlib.sha256(signing_input).digest())


def test_p256_coordinator_signs_with_its_prefix(members):
    coordinator = Key("p256")
    coordinator.zelk = coordinator.agent()
    text = bundle_for(coordinator, members[:1])
    assert body(text)["signature"].startswith("p256.")
    assert zelk.verify_session_bundle(text, members[0].aid, NOW)["kind"] == "clear"


@pytest.mark.parametrize("count", [1, 2, 50])
def test_bundles_verify_for_their_members(coordinator, members, count):
    keys = members[:count]
    text = bundle_for(coordinator, keys)
    assert body(text)["expires_at"] == NOW + 3600
    for verifier in {keys[0].aid, keys[-1].aid}:
        result = zelk.verify_session_bundle(text, verifier, NOW)
        assert result == {"kind": "clear", "active_aids": [k.aid for k in keys],
                          "dropped_aids": []}
        assert list(result) == ["kind", "active_aids", "dropped_aids"]


def test_builder_needs_no_manifest_and_keeps_the_key(members):
    coordinator = Key()
    agent = coordinator.agent()
    b = zelk.SessionBundleBuilder(coordinator=agent)
    del agent
    gc.collect()
    token = mint(coordinator, members[0].aid, now=NOW)
    text = b.participant(aid=members[0].aid, tct_token=token).build()
    assert body(text)["coordinator"] == coordinator.aid


def test_defaults_draw_a_fresh_session_id_and_read_the_clock(coordinator, members):
    b = builder_for(coordinator, [(members[0].aid, mint(coordinator, members[0].aid))],
                    session_id=None, issued_at=None)
    before = int(time.time())
    first, second = body(b.build()), body(b.build())
    assert first["session_id"] != second["session_id"]
    assert uuid.UUID(first["session_id"]).version == 4
    assert before <= first["issued_at"] <= int(time.time())
    b.session_id(SESSION_ID)
    assert body(b.build())["session_id"] == body(b.build())["session_id"] == SESSION_ID


@pytest.mark.parametrize("form", [
    SESSION_ID.upper(), SESSION_ID.replace("-", ""), "{%s}" % SESSION_ID, "urn:uuid:" + SESSION_ID,
    "00000000-0000-1000-0000-000000000000"])
def test_session_id_forms(coordinator, members, form):
    text = bundle_for(coordinator, members[:1], session_id=form)
    assert body(text)["session_id"] == str(uuid.UUID(form))


def test_setter_refusals_change_nothing(coordinator, members):
    token = mint(coordinator, members[0].aid, now=NOW)
    b = builder_for(coordinator, [(members[0].aid, token)])
    reference = b.build()
    with pytest.raises(ValueError) as info:
        b.session_id("0123456789abcdef")
    assert str(info.value) == "invalid uuid: invalid length: found 16"
    with pytest.raises(ValueError) as info:
        b.participant("aid:pubkey:x", token)
    assert str(info.value) == ("invalid participant AID: AID identifier must be exactly 43 "
                               "characters; got 1")
    with pytest.raises(TypeError) as info:
        b.participant(members[0].aid, b"token")
    assert info.value.__notes__ == ["while processing 'tct_token'"]
    with pytest.raises(OverflowError):
        b.issued_at(2**63)
    with pytest.raises(TypeError):
        b.issued_at("1")
    with pytest.raises(TypeError):
        b.build(1)
    assert b.build() == reference
    with pytest.raises(TypeError) as info:
        zelk.SessionBundleBuilder("agent")
    assert str(info.value) == "'str' object is not an instance of 'ZelkAgent'"
    assert info.value.__notes__ == ["while processing 'coordinator'"]


def test_build_failures(coordinator, members):
    alice, bob = members[0], members[1]
    other = Key()
    cases = [
        ([], "participants array is empty"),
        ([(alice.aid, "not a token")],
         "canonicalization failed: participant tct: compact JWS malformed: expected exactly "
         "three non-empty segments"),
        ([(alice.aid, mint(coordinator, alice.aid)), (bob.aid, mint(other, bob.aid))],
         "participant TCT issuer does not match coordinator"),
        ([(alice.aid, mint(coordinator, bob.aid))],
         "participant TCT audience does not match entry AID"),
        ([(alice.aid, sign_token(other, dict(claims_for(coordinator.aid, alice.aid), foo=1)))],
         "unknown field: foo"),
    ]
    for entries, message in cases:
        b = builder_for(coordinator, entries)
        assert failure(b.build) == BUILD_FAILED + message


def test_duplicates_and_negative_issue_time(coordinator, members):
    alice = members[0]
    token = mint(coordinator, alice.aid, now=NOW)
    text = builder_for(coordinator, [(alice.aid, token), (alice.aid, token)], issued_at=-1).build()
    assert body(text)["issued_at"] == -1
    seen = []
    result = zelk.verify_session_bundle(text, alice.aid, NOW, lambda jti: seen.append(jti))
    assert result["active_aids"] == [alice.aid, alice.aid]
    assert seen == [jti_of(token)] * 2


# ---- reading ---------------------------------------------------------------------------------

def test_reading_errors(coordinator, members):
    text = bundle_for(coordinator, members[:1])
    alice = members[0].aid
    extra = text[:-1] + ',"x":1}'
    assert failure(lambda: zelk.verify_session_bundle(extra, alice, NOW)) == (
        "invalid bundle envelope JSON: unknown field `x`, expected `session_bundle` at line 1 "
        "column %d" % (len(extra) - 3))
    assert failure(lambda: zelk.verify_session_bundle("nope", "bad", NOW)).startswith(
        "invalid bundle envelope JSON: expected ident at line 1 column ")
    unknown = with_body(text, foo=1)
    assert failure(lambda: zelk.verify_session_bundle(unknown, alice, NOW)).startswith(
        "invalid bundle envelope JSON: unknown field `foo`, expected one of `version`, "
        "`session_id`, `coordinator`, `issued_at`, `expires_at`, `participants`, `extensions`, "
        "`signature` at line 1 column ")
    seven = json.dumps({"session_bundle": list(body(text).values())[:6] + [None]})
    assert failure(lambda: zelk.verify_session_bundle(seven, alice, NOW)).startswith(
        "invalid bundle envelope JSON: invalid length 7, expected struct SessionTrustBundle with "
        "8 elements at line 1 column ")
    assert failure(lambda: zelk.verify_session_bundle(text, "aid:pubkey:x", NOW)) == (
        "invalid verifier AID: AID identifier must be exactly 43 characters; got 1")
    # The array forms read like the object forms.
    b = body(text)
    as_array = dict(b, participants=[[p["aid"], p["tct"]] for p in b["participants"]])
    array_text = json.dumps([list(as_array.values())[:6] + [None, b["signature"]]])
    assert zelk.verify_session_bundle(array_text, alice, NOW)["kind"] == "clear"


# ---- verification ----------------------------------------------------------------------------

def test_expiry_boundary(coordinator, members):
    text = bundle_for(coordinator, members[:2], ttl=100)
    expires_at = body(text)["expires_at"]
    assert zelk.verify_session_bundle(text, members[0].aid, expires_at)["kind"] == "clear"
    assert failure(lambda: zelk.verify_session_bundle(text, members[0].aid, expires_at + 1)) == (
        VERIFY_FAILED + "bundle has expired")


def test_verification_failures_in_order(coordinator, members):
    alice, bob, outsider = members[0], members[1], Key()
    text = bundle_for(coordinator, [alice, bob])
    expires_at = body(text)["expires_at"]

    def outcome(bundle_text, verifier=alice.aid, now=NOW):
        return failure(lambda: zelk.verify_session_bundle(bundle_text, verifier, now))

    cases = [
        (with_body(text, version="zelk/0.1", participants=[]), outsider.aid, expires_at + 1,
         "bundle version mismatch"),
        (with_body(text, participants=[]), outsider.aid, expires_at + 1, "bundle has expired"),
        (with_body(text, participants=[]), outsider.aid, NOW, "participants array is empty"),
        (with_body(text, expires_at=expires_at + 1), alice.aid, NOW,
         "bundle expires_at does not equal min(participant TCT expiries)"),
        (with_body(text, signature="A" * 86), outsider.aid, NOW,
         "verifier is not a member of this bundle"),
        (text, alice.long_aid, NOW, "verifier is not a member of this bundle"),
        (with_body(text, signature="A" * 86), alice.aid, NOW, "bundle signature is invalid"),
        (with_body(text, issued_at=NOW + 1), alice.aid, NOW, "bundle signature is invalid"),
        (resigned(text, outsider), alice.aid, NOW, "bundle signature is invalid"),
    ]
    for bundle_text, verifier, now, message in cases:
        assert outcome(bundle_text, verifier, now) == VERIFY_FAILED + message
    # Signed again by the coordinator, the changed bundle verifies.
    later = resigned(text, coordinator, issued_at=NOW + 10**6)
    assert zelk.verify_session_bundle(later, alice.aid, NOW)["kind"] == "clear"


def test_participant_token_signed_by_a_third_agent(coordinator, members):
    alice, bob, third = members[0], members[1], Key()
    forged = sign_token(third, claims_for(coordinator.aid, bob.aid, now=NOW))
    text = builder_for(coordinator, [(alice.aid, mint(coordinator, alice.aid, now=NOW)),
                                     (bob.aid, forged)]).build()
    assert failure(lambda: zelk.verify_session_bundle(text, alice.aid, NOW)) == (
        VERIFY_FAILED + "participant TCT verification failed: signature verification failed")
    split = mint(coordinator, alice.aid, now=NOW, aud=bob.aid)
    text = builder_for(coordinator, [(bob.aid, split)]).build()
    assert failure(lambda: zelk.verify_session_bundle(text, bob.aid, NOW)) == (
        VERIFY_FAILED + "participant TCT audience does not match entry AID")


# ---- the revocation callable -------------------------------------------------------------------

class FakeNumpyBool:
    """A type that calls itself numpy's boolean: recognised by name, asked through __bool__."""

    def __init__(self, answer):
        self.answer = answer

    def __bool__(self):
        if isinstance(self.answer, BaseException):
            raise self.answer
        return self.answer


FakeNumpyBool.__module__ = "numpy"
FakeNumpyBool.__name__ = "bool_"


class FakeNumpyBoolNamedBool(FakeNumpyBool):
    pass


FakeNumpyBoolNamedBool.__module__ = "numpy"
FakeNumpyBoolNamedBool.__name__ = "bool"


def raise_error(jti):
    raise KeyError(jti)


@pytest.mark.parametrize("check, revoked", [
    (lambda jti: True, True),
    (lambda jti: numpy.bool_(True), True),
    (lambda jti: numpy.True_, True),
    (lambda jti: FakeNumpyBool(True), True),
    (lambda jti: FakeNumpyBoolNamedBool(True), True),
    (lambda jti: False, False),
    (lambda jti: numpy.bool_(False), False),
    (lambda jti: 1, False),
    (lambda jti: numpy.int64(1), False),
    (lambda jti: None, False),
    (lambda jti: "yes", False),
    (lambda jti: numpy.array([True]), False),
    (lambda jti: FakeNumpyBool(1), False),
    (lambda jti: FakeNumpyBool(ValueError("no")), False),
    (raise_error, False),
    ({"x"}, False),
    (42, False),
])
def test_only_true_revokes(coordinator, members, check, revoked):
    alice = members[0]
    text = bundle_for(coordinator, [alice])
    result = zelk.verify_session_bundle(text, alice.aid, NOW, revocation_check=check)
    # The verifier itself may be dropped; the call still succeeds.
    if revoked:
        assert result == {"kind": "degraded", "active_aids": [], "dropped_aids": [alice.aid]}
    else:
        assert result == {"kind": "clear", "active_aids": [alice.aid], "dropped_aids": []}
    assert sys.exc_info() == (None, None, None)


def test_callable_sees_each_jti_once_in_order(coordinator, members):
    keys = members[:4]
    entries = [(k.aid, mint(coordinator, k.aid, now=NOW)) for k in keys]
    text = builder_for(coordinator, entries).build()
    jtis = [jti_of(token) for _, token in entries]
    seen = []

    def drop_second(jti):
        seen.append(jti)
        return jti == jtis[1]

    result = zelk.verify_session_bundle(text, keys[3].aid, NOW, drop_second)
    assert seen == jtis and all(j == str(uuid.UUID(j)) for j in seen)
    assert result == {"kind": "degraded", "active_aids": [keys[0].aid, keys[2].aid, keys[3].aid],
                      "dropped_aids": [keys[1].aid]}
    result = zelk.verify_session_bundle(text, keys[0].aid, NOW, revocation_check=lambda j: True)
    assert result == {"kind": "degraded", "active_aids": [], "dropped_aids": [k.aid for k in keys]}


def test_failure_at_the_second_participant_after_one_call(coordinator, members):
    alice, bob = members[0], members[1]
    early = mint(coordinator, bob.aid, now=NOW + 10)
    text = builder_for(coordinator, [(alice.aid, mint(coordinator, alice.aid, now=NOW)),
                                     (bob.aid, early)]).build()
    seen = []
    assert failure(lambda: zelk.verify_session_bundle(
        text, alice.aid, NOW, revocation_check=seen.append)) == (
        VERIFY_FAILED + "participant TCT verification failed: TCT has expired or is not yet valid")
    assert len(seen) == 1


def test_callable_reference_is_released_and_may_reenter(coordinator, members):
    alice = members[0]
    text = bundle_for(coordinator, [alice])
    inner = []

    def reenter(jti):
        inner.append(zelk.verify_session_bundle(text, alice.aid, NOW)["kind"])
        return True

    baseline = sys.getrefcount(reenter)
    assert zelk.verify_session_bundle(text, alice.aid, NOW, revocation_check=reenter)["kind"] == (
        "degraded")
    with pytest.raises(RuntimeError):
        zelk.verify_session_bundle(text, alice.aid, body(text)["expires_at"] + 1, reenter)
    assert inner == ["clear"]
    assert sys.getrefcount(reenter) == baseline


def panic_exception_type():
    class Broken(set):
        def __iter__(self):
            raise KeyError("boom")

    with pytest.raises(BaseException) as info:
        zelk.verify_delegation("x.y.z", "aid:x", revoked_jtis=Broken())
    assert type(info.value).__name__ == "PanicException"
    return type(info.value)


def test_a_panic_in_the_callable_propagates(coordinator, members, capfd):
    panic = panic_exception_type()
    keys = members[:3]
    text = bundle_for(coordinator, keys)
    seen = []

    def panicking(jti):
        seen.append(jti)
        if len(seen) == 2:
            raise panic("deep trouble")
        return False

    with pytest.raises(panic) as info:
        zelk.verify_session_bundle(text, keys[0].aid, NOW, panicking)
    assert info.value.args == ("deep trouble",)
    # The panic ends the walk: the callable is asked about no later participant.
    assert len(seen) == 2
    err = capfd.readouterr().err
    assert "revocation_check raised PanicException" in err and "deep trouble" in err


def test_a_panic_out_of_a_numpy_boolean_propagates(coordinator, members, capfd):
    panic = panic_exception_type()
    alice = members[0]
    text = bundle_for(coordinator, [alice])
    with pytest.raises(panic) as info:
        zelk.verify_session_bundle(text, alice.aid, NOW, lambda jti: FakeNumpyBool(panic("odd")))
    assert info.value.args == ("odd",)
    assert "revocation_check raised PanicException" in capfd.readouterr().err


def test_argument_refusals(coordinator, members):
    text = bundle_for(coordinator, members[:1])
    with pytest.raises(TypeError) as info:
        zelk.verify_session_bundle(text.encode(), members[0].aid)
    assert info.value.__notes__ == ["while processing 'bundle_envelope_json'"]
    with pytest.raises(TypeError) as info:
        zelk.verify_session_bundle(text, members[0].aid, "now")
    assert info.value.__notes__ == ["while processing 'now_unix_secs'"]
    with pytest.raises(TypeError):
        zelk.verify_session_bundle(text)
