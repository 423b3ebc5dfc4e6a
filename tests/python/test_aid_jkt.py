"""compute_aid_jkt against RFC 7638 thumbprints computed here from the key bytes."""

import base64
import hashlib
import json

import pytest
from cryptography.hazmat.primitives.asymmetric import ec

import zelk
from vectors import P256_N, RFC8032


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def b64url_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def thumbprint(members):
    # RFC 7638: the required members only, sorted, no whitespace.
    text = json.dumps(members, sort_keys=True, separators=(",", ":"))
    return b64url(hashlib.sha256(text.encode()).digest())


def ed25519_jkt(public):
    return thumbprint({"crv": "Ed25519", "kty": "OKP", "x": b64url(public)})


def p256_jkt(aid):
    point = ec.EllipticCurvePublicKey.from_encoded_point(
        ec.SECP256R1(), b64url_decode(aid[len("aid:pubkey:p256:"):])).public_numbers()
    return thumbprint({"crv": "P-256", "kty": "EC", "x": b64url(point.x.to_bytes(32, "big")),
                       "y": b64url(point.y.to_bytes(32, "big"))})


def test_rfc7638_example_shape():
    # The thumbprint text is 43 unpadded base64url characters.
    jkt = zelk.compute_aid_jkt(zelk.ZelkAgent.generate().aid)
    assert type(jkt) is str and len(jkt) == 43 and "=" not in jkt
    assert len(b64url_decode(jkt)) == 32


@pytest.mark.parametrize("private, public", RFC8032)
def test_ed25519_short_and_long_forms(private, public):
    key = bytes.fromhex(public)
    expected = ed25519_jkt(key)
    short = "aid:pubkey:" + b64url(key)
    assert zelk.ZelkAgent.from_seed(bytes.fromhex(private)).aid == short
    assert zelk.compute_aid_jkt(short) == expected
    assert zelk.compute_aid_jkt("aid:pubkey:ed25519:" + b64url(key)) == expected
    assert zelk.compute_aid_jkt(aid=short) == expected


def test_generated_agents():
    for _ in range(5):
        ed = zelk.ZelkAgent.generate().aid
        assert zelk.compute_aid_jkt(ed) == ed25519_jkt(b64url_decode(ed[len("aid:pubkey:"):]))
        p256 = zelk.ZelkAgent.generate("p256").aid
        assert zelk.compute_aid_jkt(p256) == p256_jkt(p256)


@pytest.mark.parametrize("scalar", [1, 2, 3, P256_N - 1, P256_N // 2, 0x1234 << 200])
def test_p256_both_parities(scalar):
    aid = zelk.ZelkAgent.from_seed(scalar.to_bytes(32, "big"), "p256").aid
    assert zelk.compute_aid_jkt(aid) == p256_jkt(aid)


def test_p256_uses_both_coordinates():
    # k and n - k give the same x with opposite y: the thumbprints must differ.
    a = zelk.ZelkAgent.from_seed((5).to_bytes(32, "big"), "p256").aid
    b = zelk.ZelkAgent.from_seed((P256_N - 5).to_bytes(32, "big"), "p256").aid
    key_a, key_b = (b64url_decode(aid[len("aid:pubkey:p256:"):]) for aid in (a, b))
    assert key_a[1:] == key_b[1:] and key_a[0] != key_b[0]
    assert zelk.compute_aid_jkt(a) != zelk.compute_aid_jkt(b)


def test_edge_ed25519_keys_are_points():
    # The identity point and other small-order encodings decode as points; the thumbprint only
    # encodes the bytes.
    for key in (bytes([1]) + bytes(31), bytes(32)):
        assert zelk.compute_aid_jkt("aid:pubkey:" + b64url(key)) == ed25519_jkt(key)


def invalid_ed25519_point():
    p = 2**255 - 19
    d = -121665 * pow(121666, p - 2, p) % p
    for y in range(2, 100):
        x2 = (y * y - 1) * pow(d * y * y + 1, p - 2, p) % p
        if pow(x2, (p - 1) // 2, p) == p - 1:
            return y.to_bytes(32, "little")
    raise AssertionError("unreachable")


def invalid_p256_x(prefix):
    p = 2**256 - 2**224 + 2**192 + 2**96 - 1
    b = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B
    for x in range(1, 100):
        if pow((x**3 - 3 * x + b) % p, (p - 1) // 2, p) == p - 1:
            return bytes([prefix]) + x.to_bytes(32, "big")
    raise AssertionError("unreachable")


P256_FIELD = 2**256 - 2**224 + 2**192 + 2**96 - 1

BAD_AIDS = [
    ("", "invalid AID '': AID does not start with 'aid:'"),
    ("did:key:x", "invalid AID 'did:key:x': AID does not start with 'aid:'"),
    ("AID:pubkey:" + "A" * 43, "invalid AID 'AID:pubkey:" + "A" * 43
     + "': AID does not start with 'aid:'"),
    ("aid:web:x", "invalid AID 'aid:web:x': AID method 'web' is not supported in v0.1; "
     "expected 'pubkey'"),
    ("aid:pubkey:abc", "invalid AID 'aid:pubkey:abc': AID identifier must be exactly 43 "
     "characters; got 3"),
    ("aid:pubkey:p256:abc", "invalid AID 'aid:pubkey:p256:abc': AID identifier must be exactly "
     "44 characters; got 3"),
    ("aid:pubkey:" + "=" * 43, "invalid AID 'aid:pubkey:" + "=" * 43
     + "': AID identifier contains non-base64url characters"),
    ("aid:pubkey:é" + "A" * 41, "invalid AID 'aid:pubkey:é" + "A" * 41
     + "': AID identifier contains non-base64url characters"),
    ("aid:pubkey:p256:" + b64url(b"\x04" + bytes(32)), "invalid AID 'aid:pubkey:p256:"
     + b64url(b"\x04" + bytes(32)) + "': AID identifier contains non-base64url characters"),
]


@pytest.mark.parametrize("aid, message", BAD_AIDS)
def test_not_an_aid(aid, message):
    with pytest.raises(ValueError) as info:
        zelk.compute_aid_jkt(aid)
    assert type(info.value) is ValueError and str(info.value) == message


@pytest.mark.parametrize("aid, reason", [
    ("aid:pubkey:" + b64url(invalid_ed25519_point()),
     "AID does not yield a valid Ed25519 public key: signature error"),
    ("aid:pubkey:ed25519:" + b64url(invalid_ed25519_point()),
     "AID does not yield a valid Ed25519 public key: signature error"),
    ("aid:pubkey:p256:" + b64url(invalid_p256_x(2)), "public key parsing failed: signature error"),
    ("aid:pubkey:p256:" + b64url(invalid_p256_x(3)), "public key parsing failed: signature error"),
    # x at or above the field prime.
    ("aid:pubkey:p256:" + b64url(b"\x02" + P256_FIELD.to_bytes(32, "big")),
     "public key parsing failed: signature error"),
    ("aid:pubkey:p256:" + b64url(b"\x03" + b"\xff" * 32),
     "public key parsing failed: signature error"),
])
def test_invalid_key_bytes(aid, reason):
    with pytest.raises(ValueError) as info:
        zelk.compute_aid_jkt(aid)
    assert str(info.value) == "AID has invalid key bytes: " + reason


class Text(str):
    pass


def test_str_subclass_is_accepted():
    aid = zelk.ZelkAgent.generate().aid
    assert zelk.compute_aid_jkt(Text(aid)) == zelk.compute_aid_jkt(aid)


@pytest.mark.parametrize("value, exc, message", [
    (None, TypeError, "'None' is not an instance of 'str'"),
    (5, TypeError, "'int' object is not an instance of 'str'"),
    (2**70, TypeError, "'int' object is not an instance of 'str'"),
    (b"aid:pubkey:", TypeError, "'bytes' object is not an instance of 'str'"),
    (["aid"], TypeError, "'list' object is not an instance of 'str'"),
    ("aid:pubkey:\ud800", UnicodeEncodeError, None),
])
def test_wrong_types(value, exc, message):
    with pytest.raises(exc) as info:
        zelk.compute_aid_jkt(value)
    assert type(info.value) is exc
    if message:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'aid'"]


def test_binding():
    with pytest.raises(TypeError) as info:
        zelk.compute_aid_jkt()
    assert str(info.value) == "compute_aid_jkt() missing 1 required positional argument: 'aid'"
    with pytest.raises(TypeError) as info:
        zelk.compute_aid_jkt("a", "b")
    assert str(info.value) == "compute_aid_jkt() takes 1 positional arguments but 2 were given"
    with pytest.raises(TypeError) as info:
        zelk.compute_aid_jkt(id="a")
    assert str(info.value) == "compute_aid_jkt() got an unexpected keyword argument 'id'"
    assert zelk.compute_aid_jkt.__text_signature__ == "(aid)"
