"""Revocation snapshots: ZelkAgent.sign_revocation_list, verify_revocation_list and
revocation_signing_bytes.

The canonical bytes are rebuilt here independently of the module (sorted keys, no whitespace,
UTF-8), which is exact for the ASCII member names and safe integers these tests use.
"""

import base64
import hashlib
import json

import pytest
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey, Ed25519PublicKey
from cryptography.hazmat.primitives.asymmetric.utils import encode_dss_signature

import zelk
from tct_tokens import b64url_decode

Agent = zelk.ZelkAgent
Error = zelk.RevocationVerificationError

SEED = bytes(range(32))
ZERO = "00000000-0000-0000-0000-000000000000"
JTI = "6f1c2a7e-8d3b-4c5a-9e0f-1a2b3c4d5e6f"
I64_MAX = 2**63 - 1
I64_MIN = -2**63


def canonical(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


def verify_independently(agent, envelope_json):
    """Checks the envelope's signature with python-cryptography over our own canonical bytes."""
    env = json.loads(envelope_json)
    digest = hashlib.sha256(canonical(env["revocation_list"])).digest()
    aid, sig = agent.aid, env["signature"]
    if aid.startswith("aid:pubkey:p256:"):
        point = b64url_decode(aid[len("aid:pubkey:p256:"):])
        key = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), point)
        raw = b64url_decode(sig[len("p256."):])
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        key.verify(der, digest, ec.ECDSA(hashes.SHA256()))
    else:
        key = Ed25519PublicKey.from_public_bytes(b64url_decode(aid[len("aid:pubkey:"):]))
        key.verify(b64url_decode(sig), digest)
    return digest


def resign(agent_key_envelope, mutate):
    """An envelope whose list was changed after signing (signature kept)."""
    env = json.loads(agent_key_envelope)
    mutate(env["revocation_list"])
    return json.dumps(env)


@pytest.fixture(params=["ed25519", "p256"])
def agent(request):
    return Agent.from_seed(SEED, request.param)


def code_of(envelope_json, issuer, now=None):
    with pytest.raises(Error) as info:
        zelk.verify_revocation_list(envelope_json, issuer, now)
    err = info.value
    assert isinstance(err, RuntimeError) and type(err.code) is str
    assert err.args == (str(err),)
    return err.code, str(err)


# ---- signing ------------------------------------------------------------------------------------

def test_signed_envelope_shape_and_independent_verification(agent):
    out = agent.sign_revocation_list([
        {"jti": JTI, "revoked_at": 17, "reason": "key lost", "other": 1},
        {"jti": ZERO.replace("-", "").upper()},
        {"jti": JTI, "reason": None, "revoked_at": None},
    ], expires_in_secs=60)
    pairs = json.loads(out, object_pairs_hook=list)
    assert [n for n, _ in pairs] == ["revocation_list", "signature"]
    body = dict(pairs)["revocation_list"]
    assert [n for n, _ in body] == ["version", "issuer", "published_at", "expires_at", "entries"]
    env = json.loads(out)
    lst = env["revocation_list"]
    assert lst["version"] == "zelk/0.2" and lst["issuer"] == agent.aid
    assert lst["expires_at"] == lst["published_at"] + 60
    now = lst["published_at"]
    assert lst["entries"] == [
        {"jti": JTI, "revoked_at": 17, "reason": "key lost"},
        {"jti": ZERO, "revoked_at": now},
        {"jti": JTI, "revoked_at": now},
    ]
    assert [n for n, _ in dict(body)["entries"][0]] == ["jti", "revoked_at", "reason"]
    assert out == json.dumps(json.loads(out), separators=(",", ":"), ensure_ascii=False)
    sig = env["signature"]
    assert (len(sig), sig.startswith("p256.")) == ((91, True) if "p256" in agent.aid else (86, False))
    digest = verify_independently(agent, out)
    assert hashlib.sha256(zelk.revocation_signing_bytes(out)).digest() == digest
    assert zelk.verify_revocation_list(out, agent.aid) is None


def test_empty_list_and_lifetimes():
    agent = Agent.from_seed(SEED)
    out = agent.sign_revocation_list([])
    lst = json.loads(out)["revocation_list"]
    assert lst["entries"] == [] and lst["expires_at"] == lst["published_at"] + 3600
    assert zelk.verify_revocation_list(out, agent.aid) is None

    out = agent.sign_revocation_list([], 0)
    lst = json.loads(out)["revocation_list"]
    assert lst["expires_at"] == lst["published_at"]
    assert zelk.verify_revocation_list(out, agent.aid, lst["expires_at"]) is None
    assert code_of(out, agent.aid, lst["expires_at"] + 1) == (
        "expired", "revocation snapshot verification failed: TCT has expired or is not yet valid")

    out = agent.sign_revocation_list([], expires_in_secs=-10)
    assert code_of(out, agent.aid)[0] == "expired"

    # The sum saturates at the signed 64-bit bounds.
    lst = json.loads(agent.sign_revocation_list([], I64_MAX))["revocation_list"]
    assert lst["expires_at"] == I64_MAX
    lst = json.loads(agent.sign_revocation_list([], I64_MIN))["revocation_list"]
    assert lst["expires_at"] == lst["published_at"] + I64_MIN


@pytest.mark.parametrize("form", [
    JTI.upper(), "{" + JTI + "}", JTI.replace("-", ""), "urn:uuid:" + JTI,
])
def test_jti_forms_come_back_hyphenated_lower_case(form):
    out = Agent.from_seed(SEED).sign_revocation_list([{"jti": form, "revoked_at": 1}])
    assert json.loads(out)["revocation_list"]["entries"][0]["jti"] == JTI


class Weird(dict):
    def __getitem__(self, key):
        raise AssertionError("the subclass's lookup is not used")

    get = __getitem__


class Boom:
    def __hash__(self):
        return hash("jti")

    def __eq__(self, other):
        raise KeyError("compare failed")


@pytest.mark.parametrize("entries, message", [
    ([[JTI]], "entries[0] must be a dict with at least a 'jti' key"),
    ([{"jti": JTI}, None], "entries[1] must be a dict with at least a 'jti' key"),
    ([{"jti": JTI}, __import__("types").MappingProxyType({"jti": JTI})],
     "entries[1] must be a dict with at least a 'jti' key"),
    ([{"jti": JTI}, {"revoked_at": 1}, 5], "entries[1].jti is required"),
    ([{"jti": None}], "entries[0].jti must be a string"),
    ([{"jti": b"x"}], "entries[0].jti must be a string"),
    ([{"jti": "not-a-uuid "}], "entries[0].jti is not a valid UUID: not-a-uuid "),
    ([{"jti": "URN:UUID:" + JTI}], "entries[0].jti is not a valid UUID: URN:UUID:" + JTI),
    ([{"jti": JTI, "revoked_at": 1.5}], "entries[0].revoked_at must be an int (unix seconds)"),
    ([{"jti": JTI, "revoked_at": "5"}], "entries[0].revoked_at must be an int (unix seconds)"),
    ([{"jti": JTI, "revoked_at": 2**63}], "entries[0].revoked_at must be an int (unix seconds)"),
    ([{"jti": JTI, "reason": 5}], "entries[0].reason must be a string"),
    ([{"jti": JTI}] * 10 + [{"jti": JTI, "reason": b"x"}], "entries[10].reason must be a string"),
])
def test_entry_errors(entries, message):
    with pytest.raises(ValueError) as info:
        Agent.from_seed(SEED).sign_revocation_list(entries)
    assert str(info.value) == message


def test_dict_subclass_uses_the_plain_lookup_and_lookup_errors_propagate():
    out = Agent.from_seed(SEED).sign_revocation_list([Weird(jti=JTI, revoked_at=3)])
    assert json.loads(out)["revocation_list"]["entries"] == [{"jti": JTI, "revoked_at": 3}]
    with pytest.raises(KeyError) as info:
        Agent.from_seed(SEED).sign_revocation_list([{Boom(): 1}])
    assert info.value.args == ("compare failed",)


def test_list_changed_while_reading():
    entries = [{"jti": JTI}]

    class Shrinks:
        def __index__(self):
            entries.clear()
            return 7

    entries[0]["revoked_at"] = Shrinks()
    entries.append({"jti": ZERO})
    out = Agent.from_seed(SEED).sign_revocation_list(entries)
    assert json.loads(out)["revocation_list"]["entries"] == [{"jti": JTI, "revoked_at": 7}]


@pytest.mark.parametrize("call, exc, note", [
    (lambda a: a.sign_revocation_list((), None), TypeError, "entries"),
    (lambda a: a.sign_revocation_list([], 2**63), OverflowError, "expires_in_secs"),
    (lambda a: a.sign_revocation_list([], "1"), TypeError, "expires_in_secs"),
    (lambda a: zelk.verify_revocation_list("{}", "x", 2**63), OverflowError, "now_unix_secs"),
    (lambda a: zelk.verify_revocation_list(b"{}", "x"), TypeError, "envelope_json"),
    (lambda a: zelk.revocation_signing_bytes(None), TypeError, "envelope_json"),
])
def test_argument_errors(call, exc, note):
    with pytest.raises(exc) as info:
        call(Agent.from_seed(SEED))
    assert f"while processing '{note}'" in getattr(info.value, "__notes__", [])


def test_list_subclass_accepted():
    class Entries(list):
        pass

    out = Agent.from_seed(SEED).sign_revocation_list(Entries([{"jti": JTI}]))
    assert len(json.loads(out)["revocation_list"]["entries"]) == 1


# ---- verification -------------------------------------------------------------------------------

def test_first_failing_check_decides(agent):
    other = Agent.from_seed(bytes(32)).aid
    signed = agent.sign_revocation_list([{"jti": JTI, "reason": "r"}])
    expires = json.loads(signed)["revocation_list"]["expires_at"]
    forged = resign(signed, lambda l: l["entries"].append({"jti": ZERO, "revoked_at": 1}))
    old = resign(forged, lambda l: l.update(version="zelk/0.1"))
    prefix = "revocation snapshot verification failed: "
    assert code_of(old, other, expires + 1) == (
        "version_unknown", prefix + "TCT version is not supported")
    assert code_of(forged, other, expires + 1)[0] == "expired"
    assert code_of(forged, other) == (
        "issuer_mismatch", prefix + "TCT issuer does not match the verifying key")
    assert code_of(forged, agent.aid) == ("signature_invalid", prefix + "TCT signature is invalid")
    bad_syntax = resign(signed, lambda l: None).replace('"signature": "', '"signature": "=')
    assert code_of(bad_syntax, agent.aid)[0] == "signature_invalid"


def test_long_form_issuer_is_another_aid():
    agent = Agent.from_seed(SEED)
    signed = agent.sign_revocation_list([])
    long_form = "aid:pubkey:ed25519:" + agent.aid[len("aid:pubkey:"):]
    assert code_of(signed, long_form)[0] == "issuer_mismatch"


def test_off_curve_issuer_is_malformed():
    aid = "aid:pubkey:p256:Av" + "_" * 42
    env = json.dumps({"revocation_list": {"version": "zelk/0.2", "issuer": aid, "published_at": 0,
                                          "expires_at": I64_MAX, "entries": []},
                      "signature": "x"})
    # The key error comes before the signature, which is not even well formed here.
    assert code_of(env, aid) == (
        "malformed", "revocation snapshot verification failed: public key parsing failed: "
                     "signature error")


@pytest.mark.parametrize("mutate", [
    lambda l: l["entries"][0].update(jti=ZERO),
    lambda l: l["entries"][0].update(revoked_at=l["entries"][0]["revoked_at"] + 1),
    lambda l: l["entries"][0].update(reason="other"),
    lambda l: l["entries"][0].pop("reason"),
    lambda l: l["entries"].pop(),
    lambda l: l["entries"].append({"jti": ZERO, "revoked_at": 0}),
    lambda l: l.update(published_at=l["published_at"] - 1),
    lambda l: l.update(extensions={}),
])
def test_covered_changes_break_the_signature(mutate):
    agent = Agent.from_seed(SEED, "p256")
    signed = agent.sign_revocation_list([{"jti": JTI, "reason": "r"}])
    assert code_of(resign(signed, mutate), agent.aid)[0] == "signature_invalid"


def test_layout_and_carrier_forms_do_not_matter():
    agent = Agent.from_seed(SEED)
    signed = agent.sign_revocation_list([{"jti": JTI, "revoked_at": 5, "reason": "r"}])
    env = json.loads(signed)
    lst = env["revocation_list"]
    reordered = json.dumps({"signature": env["signature"],
                            "revocation_list": dict(reversed(list(lst.items())))}, indent=3)
    as_arrays = json.dumps([[lst["version"], lst["issuer"], lst["published_at"], lst["expires_at"],
                             [[JTI.upper(), 5, "r"]], None], env["signature"]])
    braces = signed.replace(JTI, "{" + JTI + "}")
    for text in (reordered, as_arrays, braces):
        assert zelk.verify_revocation_list(text, agent.aid) is None
        assert zelk.revocation_signing_bytes(text) == zelk.revocation_signing_bytes(signed)
    # published_at in the future or after expires_at is not judged.
    assert zelk.verify_revocation_list(signed, agent.aid, I64_MIN) is None


@pytest.mark.parametrize("text, detail", [
    ('{"signature":"x","extra":1}',
     "unknown field `extra`, expected `revocation_list` or `signature` at line 1 column 24"),
    ('{"signature":"x","signature":"x"}', "duplicate field `signature` at line 1 column 28"),
    ('{"revocation_list":[]}', "invalid length 0, expected struct RevocationList with 6 elements"
                               " at line 1 column 21"),
    ("", "EOF while parsing a value at line 1 column 0"),
])
def test_unreadable_envelopes(text, detail):
    # Reported before the expected issuer is parsed.
    assert code_of(text, "not an aid") == (
        "malformed", "invalid revocation envelope JSON: " + detail)
    with pytest.raises(ValueError) as info:
        zelk.revocation_signing_bytes(text)
    assert type(info.value) is ValueError
    assert str(info.value) == "invalid revocation envelope JSON: " + detail


def test_trailing_text_and_missing_signature():
    signed = Agent.from_seed(SEED).sign_revocation_list([])
    no_sig = json.dumps({"revocation_list": json.loads(signed)["revocation_list"]})
    for text in (signed + " x", no_sig):
        assert code_of(text, "x")[0] == "malformed"
        with pytest.raises(ValueError):
            zelk.revocation_signing_bytes(text)


def test_invalid_expected_issuer_is_a_value_error():
    signed = Agent.from_seed(SEED).sign_revocation_list([])
    with pytest.raises(ValueError) as info:
        zelk.verify_revocation_list(signed, "aid:nope:x")
    assert not isinstance(info.value, Error)
    assert str(info.value).startswith("invalid expected_issuer_aid: AID method ")


# ---- signing bytes -------------------------------------------------------------------------------

def test_signing_bytes_of_the_documented_example():
    aid = Agent.from_seed(SEED).aid
    env = {"revocation_list": {"version": "zelk/0.2", "issuer": aid, "published_at": 1,
                               "expires_at": 3, "entries": [{"jti": ZERO, "revoked_at": 5,
                                                             "reason": None}]},
           "signature": "anything"}
    assert zelk.revocation_signing_bytes(json.dumps(env)) == (
        b'{"entries":[{"jti":"00000000-0000-0000-0000-000000000000","revoked_at":5}],'
        b'"expires_at":3,"issuer":"' + aid.encode() + b'","published_at":1,"version":"zelk/0.2"}')


@pytest.mark.parametrize("written, canonical_text", [
    ("0", "0"), ("-0", "0"), ("-0.0", "0"), ("1E2", "100"), ("1.5e-7", "1.5e-7"),
    ("0.000001", "0.000001"), ("1e21", "1e+21"), ("1e20", "100000000000000000000"),
    ("9007199254740993", "9007199254740992"), ("18446744073709551616", "18446744073709552000"),
    ("333333333.3333333", "333333333.3333333"), ("1.0000000000000001e+23", "1.0000000000000001e+23"), ("1e23", "1e+23"),
    ("4.35", "4.35"), ("0.1", "0.1"), ("5e-324", "5e-324"), ("1.7976931348623157e308",
                                                          "1.7976931348623157e+308"),
    ("1e-400", "0"), ("2.2250738585072011e-308", "2.225073858507201e-308"),
])
def test_rfc8785_numbers_in_extensions(written, canonical_text):
    aid = Agent.from_seed(SEED).aid
    text = ('{"revocation_list":{"version":"v","issuer":"%s","published_at":1,"expires_at":2,'
            '"entries":[],"extensions":{"n":%s}},"signature":"s"}' % (aid, written))
    got = zelk.revocation_signing_bytes(text)
    assert b'"extensions":{"n":' + canonical_text.encode() + b'},' in got


def test_signature_over_nested_extensions_made_elsewhere_verifies():
    # The agent's Ed25519 seed is its RFC 8032 private key, so another signer can be built here.
    agent = Agent.from_seed(SEED)
    lst = json.loads(agent.sign_revocation_list([{"jti": JTI, "revoked_at": 4}]))["revocation_list"]
    lst["extensions"] = {"b": {"y": [1, 2.5, None, 333333333.3333333, 1e23], "x": True},
                         "a": "é\u2028", "c": {}}
    data = canonical(lst)
    signature = base64.urlsafe_b64encode(
        Ed25519PrivateKey.from_private_bytes(SEED).sign(hashlib.sha256(data).digest()))
    text = json.dumps({"revocation_list": lst, "signature": signature.rstrip(b"=").decode()})
    assert zelk.revocation_signing_bytes(text) == data
    assert b'"extensions":{"a":"\xc3\xa9\xe2\x80\xa8","b":{"x":true,' in data
    assert zelk.verify_revocation_list(text, agent.aid) is None
    tampered = text.replace("2.5", "2.50000001")
    assert code_of(tampered, agent.aid)[0] == "signature_invalid"


def test_unicode_reason_and_escapes_round_trip():
    agent = Agent.from_seed(SEED)
    reason = 'quote " backslash \\ tab \t nul \x00 é 😀 \u2028'
    out = agent.sign_revocation_list([{"jti": JTI, "reason": reason, "revoked_at": 1}])
    assert json.loads(out)["revocation_list"]["entries"][0]["reason"] == reason
    verify_independently(agent, out)
    assert zelk.verify_revocation_list(out, agent.aid) is None


def test_lone_surrogate_reason_keeps_the_interpreter_error():
    with pytest.raises(UnicodeEncodeError):
        Agent.from_seed(SEED).sign_revocation_list([{"jti": JTI, "reason": "\ud800"}])
