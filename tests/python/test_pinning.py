"""compute_spki_hash and SpkiPinVerifier, against certificates made here with cryptography."""

import datetime
import hashlib

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519, rsa
from cryptography.x509.oid import NameOID

import zelk

NAME = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "server.example")])
START = datetime.datetime(2026, 1, 1)
INVALID = "invalid X.509 certificate (DER): "


def make_key(kind):
    if kind == "p256":
        return ec.generate_private_key(ec.SECP256R1())
    if kind == "rsa":
        return rsa.generate_private_key(public_exponent=65537, key_size=2048)
    return ed25519.Ed25519PrivateKey.generate()


def certificate(key, serial=1, signer=None):
    signer = signer or key
    algorithm = None if isinstance(signer, ed25519.Ed25519PrivateKey) else hashes.SHA256()
    cert = (x509.CertificateBuilder().subject_name(NAME).issuer_name(NAME)
            .public_key(key.public_key()).serial_number(serial)
            .not_valid_before(START).not_valid_after(START + datetime.timedelta(days=1))
            .sign(signer, algorithm))
    return cert


def spki_sha256(key):
    spki = key.public_key().public_bytes(serialization.Encoding.DER,
                                         serialization.PublicFormat.SubjectPublicKeyInfo)
    return hashlib.sha256(spki).digest()


@pytest.fixture(scope="module", params=["p256", "rsa", "ed25519"])
def key(request):
    return make_key(request.param)


def test_hash_is_sha256_of_the_whole_spki(key):
    der = certificate(key).public_bytes(serialization.Encoding.DER)
    digest = zelk.compute_spki_hash(der)
    assert type(digest) is bytes and len(digest) == 32
    assert digest == spki_sha256(key)
    # Another certificate for the same key, signed by another key, pins the same.
    other = certificate(key, serial=2, signer=make_key("p256"))
    assert zelk.compute_spki_hash(other.public_bytes(serialization.Encoding.DER)) == digest
    # Bytes after the certificate are ignored; a bytes subclass is accepted.
    assert zelk.compute_spki_hash(der + b"\x00trailing") == digest

    class Der(bytes):
        pass

    assert zelk.compute_spki_hash(Der(der)) == digest


def test_pin_verifier_matches_by_spki(key):
    der = certificate(key).public_bytes(serialization.Encoding.DER)
    other = certificate(make_key("ed25519")).public_bytes(serialization.Encoding.DER)
    pin = zelk.compute_spki_hash(der)
    verifier = zelk.SpkiPinVerifier([b"\x00" * 32, bytearray(pin), list(pin)])
    assert verifier.len == 3
    assert verifier.is_pinned(der) is True
    assert verifier.is_pinned(cert_der=other) is False
    assert zelk.SpkiPinVerifier((pin,)).is_pinned(der + b"x") is True


@pytest.mark.parametrize("data", [
    b"",
    b"\x30",
    b"\x30\x84\xff\xff\xff\xff",
    b"not a certificate at all",
])
def test_unparsable_input(data):
    for call in (zelk.compute_spki_hash, zelk.SpkiPinVerifier([]).is_pinned):
        with pytest.raises(ValueError) as info:
            call(data)
        assert str(info.value).startswith(INVALID) and len(str(info.value)) > len(INVALID)


def test_pem_given_as_der_and_cut_short():
    cert = certificate(make_key("p256"))
    pem = cert.public_bytes(serialization.Encoding.PEM)
    der = cert.public_bytes(serialization.Encoding.DER)
    for data in (pem, der[:-1], der[:40]):
        with pytest.raises(ValueError) as info:
            zelk.compute_spki_hash(data)
        assert str(info.value).startswith(INVALID)
    # A failure leaves nothing behind for the next call.
    assert zelk.compute_spki_hash(der) == spki_sha256_of_cert(cert)


def spki_sha256_of_cert(cert):
    return hashlib.sha256(cert.public_key().public_bytes(
        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)).digest()


@pytest.mark.parametrize("value, exc, message", [
    (bytearray(b"x"), TypeError, "'bytearray' object is not an instance of 'bytes'"),
    (memoryview(b"x"), TypeError, "'memoryview' object is not an instance of 'bytes'"),
    ("x", TypeError, "'str' object is not an instance of 'bytes'"),
    (None, TypeError, "'None' is not an instance of 'bytes'"),
])
def test_cert_der_must_be_bytes(value, exc, message):
    for call in (zelk.compute_spki_hash, zelk.SpkiPinVerifier([]).is_pinned):
        with pytest.raises(exc) as info:
            call(value)
        assert str(info.value) == message
        assert info.value.__notes__ == ["while processing 'cert_der'"]


@pytest.mark.parametrize("pins, exc, message", [
    ("ab", TypeError, "Can't extract `str` to `Vec`"),
    ({b"x" * 32}, TypeError, "'set' object is not an instance of 'Sequence'"),
    (5, TypeError, "'int' object is not an instance of 'Sequence'"),
    ([b"\x00" * 32, b"\x00" * 31], ValueError, "pin at index 1 must be exactly 32 bytes (got 31)"),
    ([b"\x00" * 33], ValueError, "pin at index 0 must be exactly 32 bytes (got 33)"),
    ([[]], ValueError, "pin at index 0 must be exactly 32 bytes (got 0)"),
    ([b"\x00" * 31, "s" * 32], TypeError, "Can't extract `str` to `Vec`"),
    ([[0] * 31 + [256]], OverflowError, "out of range integral type conversion attempted"),
    ([[0] * 31 + [-1]], OverflowError, "out of range integral type conversion attempted"),
    ([[0] * 31 + [2**64]], OverflowError, "out of range integral type conversion attempted"),
    ([[0] * 31 + [-2**70]], OverflowError, "out of range integral type conversion attempted"),
    ([[0] * 31 + [1.0]], TypeError, "'float' object cannot be interpreted as an integer"),
    ([5], TypeError, "'int' object is not an instance of 'Sequence'"),
])
def test_pin_conversion(pins, exc, message):
    with pytest.raises(exc) as info:
        zelk.SpkiPinVerifier(pins)
    assert type(info.value) is exc and str(info.value) == message
    if exc is not ValueError:
        assert info.value.__notes__ == ["while processing 'pins'"]


def test_pins_as_given():
    pin = bytes(range(32))
    verifier = zelk.SpkiPinVerifier(pins=[pin, pin, tuple(range(32)), [True] + [0] * 31])
    assert verifier.len == 4
    empty = zelk.SpkiPinVerifier([])
    assert empty.len == 0
    assert empty.is_pinned(certificate(make_key("ed25519")).public_bytes(
        serialization.Encoding.DER)) is False


def test_shape():
    cls = zelk.SpkiPinVerifier
    assert cls.__text_signature__ == "(pins)"
    assert cls.is_pinned.__text_signature__ == "($self, cert_der)"
    assert cls.len.__doc__ == "Number of pins currently held."
    assert zelk.compute_spki_hash.__text_signature__ == "(cert_der)"
    verifier = cls([])
    with pytest.raises(AttributeError):
        verifier.len = 1
    with pytest.raises(TypeError):
        len(verifier)
    with pytest.raises(TypeError):
        cls()
