"""ZelkAgent.build_manifest and verify_manifest_json.

Manifests are crafted by editing the returned JSON and signing it again here, independently of
the module: the signature covers the SHA-256 of the canonical JSON of every member but
"signature" (sorted keys, no whitespace, UTF-8; enough for ASCII member names and integers).
"""

import base64
import hashlib
import json
import re

import pytest
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey, Ed25519PublicKey
from cryptography.hazmat.primitives.asymmetric.utils import (
    decode_dss_signature, encode_dss_signature)

import zelk
from reentry import ReentrantCaps

Agent = zelk.ZelkAgent
Error = zelk.ManifestVerificationError

# RFC 8032 section 7.1, test 1.
SEED = bytes.fromhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60")
PUBLIC = bytes.fromhex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a")
P256_SCALAR = bytes(range(1, 33))
I64_MAX = 2**63 - 1
I64_MIN = -2**63

ENDPOINT = "https://agent.example/zelk/handshake/hello"
ISSUER = "https://idp.example/"

MANIFEST_ORDER = [
    "version", "aid", "display_name", "identity_hint", "handshake_endpoint",
    "accepted_trust_anchors", "accepted_identity_types", "accepted_signature_algorithms",
    "offered_capabilities", "required_peer_capabilities", "proof_of_possession",
    "published_at", "expires_at", "extensions", "signature",
]


# ---- helpers ---------------------------------------------------------------------------------

def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def b64url_decode(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def canonical(value):
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


def ordered(text):
    """The JSON with every object as a list of (name, value) pairs, in document order."""
    return json.loads(text, object_pairs_hook=list)


def sign_detached(private_key, data):
    digest = hashlib.sha256(data).digest()
    if isinstance(private_key, Ed25519PrivateKey):
        return b64url(private_key.sign(digest))
    r, s = decode_dss_signature(private_key.sign(digest, ec.ECDSA(hashes.SHA256())))
    return "p256." + b64url(r.to_bytes(32, "big") + s.to_bytes(32, "big"))


def verify_detached(aid, signature, data):
    digest = hashlib.sha256(data).digest()
    if aid.startswith("aid:pubkey:p256:"):
        key = ec.EllipticCurvePublicKey.from_encoded_point(
            ec.SECP256R1(), b64url_decode(aid[len("aid:pubkey:p256:"):]))
        assert signature.startswith("p256.")
        raw = b64url_decode(signature[len("p256."):])
        key.verify(encode_dss_signature(int.from_bytes(raw[:32], "big"),
                                        int.from_bytes(raw[32:], "big")),
                   digest, ec.ECDSA(hashes.SHA256()))
    else:
        key = Ed25519PublicKey.from_public_bytes(b64url_decode(aid[len("aid:pubkey:"):]))
        key.verify(b64url_decode(signature), digest)


def signing_input(manifest):
    return canonical({k: v for k, v in manifest.items() if k != "signature"})


def resign(envelope, private_key):
    manifest = envelope["manifest"]
    manifest["signature"] = sign_detached(private_key, signing_input(manifest))
    return json.dumps(envelope)


def ed_agent():
    return Agent.from_seed(SEED)


def ed_private():
    return Ed25519PrivateKey.from_private_bytes(SEED)


def p256_agent():
    return Agent.from_seed(P256_SCALAR, "p256")


def p256_private():
    return ec.derive_private_key(int.from_bytes(P256_SCALAR, "big"), ec.SECP256R1())


def build(agent=None, *args, **kwargs):
    agent = agent or ed_agent()
    if not args:
        args = ("Alice", ENDPOINT, ["chat.read", "chat.write"])
    return agent.build_manifest(*args, **kwargs)


def manifest_of(text):
    return json.loads(text)["manifest"]


def verify_code(text, now=None):
    with pytest.raises(Error) as info:
        zelk.verify_manifest_json(text, now)
    return info.value


# ---- shape -----------------------------------------------------------------------------------

def test_text_signatures_and_docs():
    assert Agent.build_manifest.__text_signature__ == (
        '($self, display_name, handshake_endpoint, offered_caps, required_caps=None, '
        'ttl_secs=None, identity_type="pinned_key", oidc_issuer=None, oidc_subject=None, '
        'accepted_trust_anchors=None)')
    assert zelk.verify_manifest_json.__text_signature__ == (
        "(manifest_envelope_json, now_unix_secs=None)")
    for fn in (zelk.verify_manifest_json, zelk.compute_aid_jkt):
        assert fn.__module__ == "zelk" and fn.__self__ is None and fn.__doc__
    assert Agent.build_manifest.__doc__
    all_names = zelk.__all__
    assert all_names.index("RevocationVerificationError") < all_names.index(
        "verify_manifest_json") == all_names.index("compute_aid_jkt") - 1


# ---- building: the written form ----------------------------------------------------------------

def test_member_order_and_pinned_key_content():
    agent = ed_agent()
    text = build(agent, required_caps=["peer.auth"])
    outer = ordered(text)
    assert [name for name, _ in outer] == ["manifest"]
    members = outer[0][1]
    names = [name for name, _ in members]
    assert names == [n for n in MANIFEST_ORDER
                     if n not in ("accepted_signature_algorithms", "extensions")]
    values = dict(members)
    assert values["version"] == "zelk/0.2"
    assert values["aid"] == agent.aid == "aid:pubkey:" + b64url(PUBLIC)
    assert values["display_name"] == "Alice"
    assert values["identity_hint"] == [
        ("type", "pinned_key"), ("subject", "Alice"), ("public_key", b64url(PUBLIC))]
    assert values["handshake_endpoint"] == ENDPOINT
    assert values["accepted_trust_anchors"] == []
    assert values["accepted_identity_types"] == ["pinned_key"]
    assert values["offered_capabilities"] == ["chat.read", "chat.write"]
    assert values["required_peer_capabilities"] == ["peer.auth"]
    assert [name for name, _ in values["proof_of_possession"]] == ["challenge", "signature"]
    assert values["expires_at"] == values["published_at"] + 3600
    # Compact: no whitespace anywhere outside strings.
    assert text == json.dumps(json.loads(text), separators=(",", ":"), ensure_ascii=False)


@pytest.mark.parametrize("make_agent", [ed_agent, p256_agent])
def test_signatures_verify_independently(make_agent):
    agent = make_agent()
    kwargs = {} if make_agent is ed_agent else {
        "identity_type": "oidc", "oidc_issuer": ISSUER, "oidc_subject": "alice"}
    manifest = manifest_of(build(agent, **kwargs))
    pop = manifest["proof_of_possession"]
    challenge = b64url_decode(pop["challenge"])
    assert len(pop["challenge"]) == 22 and len(challenge) == 16
    verify_detached(agent.aid, pop["signature"], challenge)
    verify_detached(agent.aid, manifest["signature"], signing_input(manifest))
    with pytest.raises(InvalidSignature):
        verify_detached(agent.aid, manifest["signature"], signing_input(manifest) + b" ")


def test_escaping_of_strings():
    name = 'q"b\\s\b\t\n\f\r\x00\x01\x1f\x7f é \u2028 \U0001F600'
    text = build(None, name, ENDPOINT, ["cap\"1", "ü"])
    escaped = ('"q\\"b\\\\s\\b\\t\\n\\f\\r\\u0000\\u0001\\u001f\x7f é \u2028 \U0001F600"')
    assert '"display_name":' + escaped in text
    assert '"subject":' + escaped in text
    assert '"offered_capabilities":["cap\\"1","ü"]' in text
    manifest = manifest_of(text)
    assert manifest["display_name"] == name == manifest["identity_hint"]["subject"]
    zelk.verify_manifest_json(text)


def test_each_call_builds_a_new_manifest():
    agent = ed_agent()
    first, second = manifest_of(build(agent)), manifest_of(build(agent))
    assert first["proof_of_possession"] != second["proof_of_possession"]
    assert first["signature"] != second["signature"]


@pytest.mark.parametrize("required", [None, [], ()])
def test_no_required_caps_leaves_the_member_out(required):
    manifest = manifest_of(build(None, "A", ENDPOINT, [], required_caps=required))
    assert "required_peer_capabilities" not in manifest
    assert manifest["offered_capabilities"] == []


def test_caps_keep_order_duplicates_and_content():
    caps = ("b", "a", "b", "", " spaced ")
    manifest = manifest_of(build(None, "A", ENDPOINT, caps, list(reversed(caps))))
    assert manifest["offered_capabilities"] == list(caps)
    assert manifest["required_peer_capabilities"] == list(reversed(caps))


@pytest.mark.parametrize("ttl, delta", [(None, 3600), (0, 0), (1, 1), (-5, -5), (86400, 86400)])
def test_ttl(ttl, delta):
    manifest = manifest_of(build(ttl_secs=ttl))
    assert manifest["expires_at"] - manifest["published_at"] == delta


def test_ttl_saturates():
    assert manifest_of(build(ttl_secs=I64_MAX))["expires_at"] == I64_MAX
    low = manifest_of(build(ttl_secs=I64_MIN))
    assert low["expires_at"] == low["published_at"] + I64_MIN
    one = manifest_of(build(ttl_secs=True))
    assert one["expires_at"] == one["published_at"] + 1


def test_negative_ttl_is_already_expired():
    text = build(ttl_secs=-1)
    manifest = manifest_of(text)
    assert verify_code(text, manifest["published_at"]).code == "expired"


# ---- building: identities and URLs -------------------------------------------------------------

def test_oidc_identity_on_a_p256_agent():
    agent = p256_agent()
    manifest = manifest_of(build(agent, identity_type="oidc", oidc_issuer="HTTPS://IDP.Example",
                                 oidc_subject="sub-1"))
    assert manifest["aid"] == agent.aid and agent.aid.startswith("aid:pubkey:p256:")
    assert manifest["identity_hint"] == {
        "type": "oidc", "subject": "sub-1", "issuer": "https://idp.example/"}
    assert manifest["accepted_trust_anchors"] == ["https://idp.example/"]
    assert manifest["accepted_identity_types"] == ["oidc"]
    assert manifest["proof_of_possession"]["signature"].startswith("p256.")
    assert manifest["signature"].startswith("p256.")
    hint = dict(ordered(build(agent, identity_type="oidc", oidc_issuer=ISSUER,
                              oidc_subject="s"))[0][1])["identity_hint"]
    assert [name for name, _ in hint] == ["type", "subject", "issuer"]


@pytest.mark.parametrize("anchors, expected", [
    ([], []),
    (("HTTPS://A.example:443", "http://b.example:8080/x/../y"),
     ["https://a.example/", "http://b.example:8080/y"]),
])
@pytest.mark.parametrize("identity", ["oidc", "pinned_key"])
def test_given_trust_anchors_replace_the_default(anchors, expected, identity):
    manifest = manifest_of(build(None, identity_type=identity, oidc_issuer=ISSUER,
                                 oidc_subject="s", accepted_trust_anchors=anchors))
    assert manifest["accepted_trust_anchors"] == expected


def test_pinned_key_ignores_oidc_arguments():
    manifest = manifest_of(build(None, oidc_issuer="not a url", oidc_subject="someone"))
    assert manifest["identity_hint"] == {
        "type": "pinned_key", "subject": "Alice", "public_key": b64url(PUBLIC)}
    assert manifest["accepted_trust_anchors"] == []


URLS = [
    ("HTTPS://Example.COM:443", "https://example.com/"),
    ("  https://example.com/a  ", "https://example.com/a"),
    ("https://exa\tmple.com/", "https://example.com/"),
    ("http://EXAMPLE.com:80/a/./b/../c?q=1#f", "http://example.com/a/c?q=1#f"),
    ("https://example.com:8443", "https://example.com:8443/"),
    ("http://bücher.de/", "http://xn--bcher-kva.de/"),
    ("http://ex%41mple.com/", "http://example.com/"),
    ("http://0x7f.1/", "http://127.0.0.1/"),
    ("http://[0:0::1]:80/", "http://[::1]/"),
    ("wss://h.example:443/ws", "wss://h.example/ws"),
    ("foo://EXAMPLE/x", "foo://EXAMPLE/x"),
    ("localhost:8080", "localhost:8080"),
    ("https://h.example/a b", "https://h.example/a%20b"),
]


@pytest.mark.parametrize("given, serialised", URLS)
def test_urls_are_kept_in_serialised_form(given, serialised):
    manifest = manifest_of(build(None, "A", given, [], identity_type="oidc", oidc_issuer=given,
                                 oidc_subject="s", accepted_trust_anchors=[ISSUER, given]))
    assert manifest["handshake_endpoint"] == serialised
    assert manifest["identity_hint"]["issuer"] == serialised
    assert manifest["accepted_trust_anchors"] == [ISSUER, serialised]
    manifest = manifest_of(build(None, "A", ENDPOINT, [], identity_type="oidc", oidc_issuer=given,
                                 oidc_subject="s"))
    assert manifest["accepted_trust_anchors"] == [serialised]


BAD_URLS = [
    ("example.com/x", "relative URL without a base"),
    ("", "relative URL without a base"),
    ("/path", "relative URL without a base"),
    ("http://", "empty host"),
    ("https://user@/", "empty host"),
    ("https://example.com:65536/", "invalid port number"),
    ("https://example.com:8o/", "invalid port number"),
    ("http://exa mple.com/", "invalid international domain name"),
    ("http://xn--/", "invalid international domain name"),
    ("http://256.0.0.1/", "invalid IPv4 address"),
    ("http://[1:2:3]/", "invalid IPv6 address"),
    ("foo://a^b/", "invalid domain character"),
]


@pytest.mark.parametrize("url, reason", BAD_URLS)
def test_url_failures(url, reason):
    agent = ed_agent()
    with pytest.raises(ValueError) as info:
        build(agent, "A", url, [])
    assert str(info.value) == "invalid handshake_endpoint URL: " + reason
    with pytest.raises(ValueError) as info:
        build(agent, identity_type="oidc", oidc_issuer=url, oidc_subject="s")
    assert str(info.value) == "invalid oidc_issuer URL: " + reason
    with pytest.raises(ValueError) as info:
        build(agent, accepted_trust_anchors=[ISSUER, url, "also bad"])
    assert str(info.value) == "invalid accepted_trust_anchors URL: " + reason


# ---- building: failures, in check order ------------------------------------------------------------

P256_PINNED = ("pinned_key identity_hint with a P-256 agent key is not supported; the "
               "manifest's identity_hint.public_key is Ed25519-only in v0.1")


@pytest.mark.parametrize("kwargs, exc, message", [
    ({"identity_type": "oidc", "oidc_subject": "s"}, ValueError,
     "oidc_issuer is required when identity_type='oidc'"),
    ({"identity_type": "oidc", "oidc_issuer": None, "oidc_subject": None}, ValueError,
     "oidc_issuer is required when identity_type='oidc'"),
    # The subject is required before the issuer is parsed.
    ({"identity_type": "oidc", "oidc_issuer": "not a url"}, ValueError,
     "oidc_subject is required when identity_type='oidc'"),
    ({"identity_type": "OIDC"}, ValueError,
     "unknown identity_type 'OIDC': expected 'pinned_key' or 'oidc'"),
    ({"identity_type": ""}, ValueError, "unknown identity_type '': expected 'pinned_key' or 'oidc'"),
    ({"identity_type": "pinned_key "}, ValueError,
     "unknown identity_type 'pinned_key ': expected 'pinned_key' or 'oidc'"),
    ({"identity_type": "oidc\x00"}, ValueError,
     "unknown identity_type 'oidc\x00': expected 'pinned_key' or 'oidc'"),
    # The identity is checked before the trust anchors are parsed.
    ({"identity_type": "x", "accepted_trust_anchors": ["bad"]}, ValueError,
     "unknown identity_type 'x': expected 'pinned_key' or 'oidc'"),
    ({"identity_type": "oidc", "oidc_issuer": ISSUER, "oidc_subject": "s",
      "accepted_trust_anchors": ["bad"]}, ValueError,
     "invalid accepted_trust_anchors URL: relative URL without a base"),
])
def test_build_failures(kwargs, exc, message):
    with pytest.raises(exc) as info:
        build(**kwargs)
    assert type(info.value) is exc and str(info.value) == message


def test_pinned_key_needs_an_ed25519_agent():
    agent = p256_agent()
    for kwargs in ({}, {"identity_type": "pinned_key"}):
        with pytest.raises(RuntimeError) as info:
            build(agent, **kwargs)
        assert type(info.value) is RuntimeError and str(info.value) == P256_PINNED
    # The bad anchor comes after the identity check.
    with pytest.raises(RuntimeError):
        build(agent, accepted_trust_anchors=["bad"])
    build(agent, identity_type="oidc", oidc_issuer=ISSUER, oidc_subject="s")


def test_endpoint_is_checked_first():
    with pytest.raises(ValueError) as info:
        build(p256_agent(), "A", "no scheme", [], identity_type="nope")
    assert str(info.value) == "invalid handshake_endpoint URL: relative URL without a base"


# ---- building: arguments -------------------------------------------------------------------

def test_binding_errors():
    agent = ed_agent()
    with pytest.raises(TypeError) as info:
        agent.build_manifest()
    assert str(info.value) == ("ZelkAgent.build_manifest() missing 3 required positional "
                               "arguments: 'display_name', 'handshake_endpoint', and 'offered_caps'")
    with pytest.raises(TypeError) as info:
        agent.build_manifest("A", ENDPOINT)
    assert str(info.value) == ("ZelkAgent.build_manifest() missing 1 required positional "
                               "argument: 'offered_caps'")
    with pytest.raises(TypeError) as info:
        agent.build_manifest(*range(10))
    assert str(info.value) == ("ZelkAgent.build_manifest() takes from 3 to 9 positional "
                               "arguments but 10 were given")
    with pytest.raises(TypeError) as info:
        agent.build_manifest("A", ENDPOINT, [], ttl=5)
    assert str(info.value) == ("ZelkAgent.build_manifest() got an unexpected keyword "
                               "argument 'ttl'")
    with pytest.raises(TypeError) as info:
        agent.build_manifest("A", ENDPOINT, [], display_name="B")
    assert str(info.value) == ("ZelkAgent.build_manifest() got multiple values for "
                               "argument 'display_name'")


def test_all_arguments_by_keyword_and_position():
    agent = ed_agent()
    by_keyword = manifest_of(agent.build_manifest(
        accepted_trust_anchors=[ISSUER], oidc_subject="s", oidc_issuer=ISSUER,
        identity_type="oidc", ttl_secs=7, required_caps=["r"], offered_caps=["o"],
        handshake_endpoint=ENDPOINT, display_name="D"))
    by_position = manifest_of(agent.build_manifest(
        "D", ENDPOINT, ["o"], ["r"], 7, "oidc", ISSUER, "s", [ISSUER]))
    for manifest in (by_keyword, by_position):
        assert manifest["identity_hint"] == {"type": "oidc", "subject": "s", "issuer": ISSUER}
        assert manifest["expires_at"] - manifest["published_at"] == 7
        assert manifest["required_peer_capabilities"] == ["r"]


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


TEXT_BAD = [
    (5, TypeError, "'int' object is not an instance of 'str'"),
    (b"x", TypeError, "'bytes' object is not an instance of 'str'"),
    (["x"], TypeError, "'list' object is not an instance of 'str'"),
    ("\ud800", UnicodeEncodeError, None),
]
LIST_BAD = [
    ("x", TypeError, "Can't extract `str` to `Vec`"),
    ("\ud800", TypeError, "Can't extract `str` to `Vec`"),
    ({"a"}, TypeError, "'set' object is not an instance of 'Sequence'"),
    ({"a": 1}, TypeError, "'dict' object is not an instance of 'Sequence'"),
    (iter(()), TypeError, "'tuple_iterator' object is not an instance of 'Sequence'"),
    (5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (["ok", None], TypeError, "'None' is not an instance of 'str'"),
    (("ok", b"x"), TypeError, "'bytes' object is not an instance of 'str'"),
    (["ok", "\udfff"], UnicodeEncodeError, None),
    # A length is only a hint: a billion-long range must not be reserved before its first item.
    (range(10**9), TypeError, "'int' object is not an instance of 'str'"),
]
INT_BAD = [
    ("5", TypeError, None),
    (1.5, TypeError, None),
    (2**63, OverflowError, None),
    (I64_MIN - 1, OverflowError, None),
    (10**40, OverflowError, None),
]
# (name, bad values, whether None is refused)
BUILD_ARGS = [
    ("display_name", TEXT_BAD, "'None' is not an instance of 'str'"),
    ("handshake_endpoint", TEXT_BAD, "'None' is not an instance of 'str'"),
    ("offered_caps", LIST_BAD, "'None' is not an instance of 'Sequence'"),
    ("required_caps", LIST_BAD, None),
    ("ttl_secs", INT_BAD, None),
    ("identity_type", TEXT_BAD, "'None' is not an instance of 'str'"),
    ("oidc_issuer", TEXT_BAD, None),
    ("oidc_subject", TEXT_BAD, None),
    ("accepted_trust_anchors", LIST_BAD, None),
]
BUILD_ARG_CASES = [
    (index, value, exc, message)
    for index, (_, bad, none_message) in enumerate(BUILD_ARGS)
    for value, exc, message in bad + ([(None, TypeError, none_message)] if none_message else [])
]


@pytest.mark.parametrize("index, value, exc, message", BUILD_ARG_CASES)
def test_wrong_argument_types(index, value, exc, message):
    args = ["A", ENDPOINT, ["cap"], None, None, "pinned_key", None, None, None]
    args[index] = value
    # A conversion error comes before any check of the values, even of an unknown identity.
    if index != 5:
        args[5] = "unknown"
    with pytest.raises(exc) as info:
        ed_agent().build_manifest(*args)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{BUILD_ARGS[index][0]}'"]


def test_integer_like_ttl_and_subclasses():
    class Text(str):
        pass

    manifest = manifest_of(build(None, Text("A"), Text(ENDPOINT), (Text("c"),),
                                 ttl_secs=Index(42), identity_type=Text("pinned_key")))
    assert manifest["expires_at"] - manifest["published_at"] == 42
    assert manifest["display_name"] == "A" and manifest["offered_capabilities"] == ["c"]
    with pytest.raises(TypeError):
        build(ttl_secs=1.5)


def test_first_wrong_argument_is_reported():
    with pytest.raises(TypeError) as info:
        ed_agent().build_manifest("A", 1, 2, ttl_secs="x")
    assert info.value.__notes__ == ["while processing 'handshake_endpoint'"]


def test_exclusive_borrow_during_conversion():
    agent = ed_agent()
    seen = []
    # A sequence whose iteration reaches the agent again.
    caps = ReentrantCaps([lambda: agent.aid, lambda: build(agent)], seen)
    manifest = manifest_of(agent.build_manifest("A", ENDPOINT, caps))
    assert seen == ["Already mutably borrowed", "Already borrowed"]
    assert manifest["offered_capabilities"] == ["cap"]
    # Given back afterwards, and after a failed call too.
    with pytest.raises(ValueError):
        agent.build_manifest("A", "bad", caps)
    assert agent.aid and build(agent)


def test_iteration_error_propagates():
    class Broken:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            raise KeyError("boom")

    with pytest.raises(KeyError) as info:
        build(None, "A", ENDPOINT, Broken())
    assert info.value.__notes__ == ["while processing 'offered_caps'"]


# ---- verification ----------------------------------------------------------------------------

def test_fresh_manifests_verify():
    for agent, kwargs in ((ed_agent(), {}), (p256_agent(), {
            "identity_type": "oidc", "oidc_issuer": ISSUER, "oidc_subject": "s"})):
        text = build(agent, **kwargs)
        assert zelk.verify_manifest_json(text) is None
        assert zelk.verify_manifest_json(text, None) is None
        assert zelk.verify_manifest_json(manifest_envelope_json=text, now_unix_secs=None) is None


def test_now_boundaries():
    text = build(ttl_secs=100)
    manifest = manifest_of(text)
    published, expires = manifest["published_at"], manifest["expires_at"]
    for now in (published, published + 50, expires, published - 10**6, 0, I64_MIN, True):
        assert zelk.verify_manifest_json(text, now) is None
    for now in (expires + 1, I64_MAX):
        error = verify_code(text, now)
        assert error.code == "expired"
        assert str(error) == "manifest verification failed: manifest has expired"
    assert zelk.verify_manifest_json(text, Index(expires)) is None


def test_expiry_at_the_64_bit_limits():
    text = build(ttl_secs=I64_MAX)
    assert zelk.verify_manifest_json(text, I64_MAX) is None
    text = build(ttl_secs=I64_MIN)
    assert verify_code(text).code == "expired"
    assert zelk.verify_manifest_json(text, I64_MIN) is None


def test_error_object():
    error = verify_code(build(), I64_MAX)
    assert isinstance(error, RuntimeError) and type(error) is Error
    assert error.args == ("manifest verification failed: manifest has expired",)
    assert type(error.code) is str


def edited(change, resign_with=ed_private, agent=None, **kwargs):
    envelope = json.loads(build(agent, **kwargs))
    change(envelope["manifest"])
    return resign(envelope, resign_with()) if resign_with else json.dumps(envelope)


def set_member(path, value):
    def change(manifest):
        target = manifest
        for name in path[:-1]:
            target = target[name]
        if value is DELETE:
            del target[path[-1]]
        else:
            target[path[-1]] = value
    return change


DELETE = object()
OTHER_CHALLENGE = b64url(bytes(16))


def other_pop_signature():
    return sign_detached(ed_private(), bytes(16))


def flip_first(text):
    return ("B" if text[0] != "B" else "C") + text[1:]


CASES = [
    # (description, change, re-sign, code, text after the prefix)
    ("re-signed edits verify", set_member(["display_name"], "Mallory"), True, None, None),
    ("version", set_member(["version"], "zelk/0.1"), False, "version_unknown",
     "manifest version is not supported"),
    ("version re-signed", set_member(["version"], ""), True, "version_unknown",
     "manifest version is not supported"),
    ("signature one character", lambda m: m.update(signature=flip_first(m["signature"])), False,
     "signature_invalid", "manifest signature is invalid"),
    ("signature malformed", set_member(["signature"], "abc"), False, "signature_invalid",
     "manifest signature is invalid"),
    ("signature padded", lambda m: m.update(signature=m["signature"][:-2] + "=="), False,
     "signature_invalid", "manifest signature is invalid"),
    ("signature of the wrong suite", lambda m: m.update(signature="p256." + m["signature"]), False,
     "signature_invalid", "manifest signature is invalid"),
    ("member edited, not re-signed", set_member(["offered_capabilities"], ["admin"]), False,
     "signature_invalid", "manifest signature is invalid"),
    ("signed by another key", set_member(["display_name"], "x"), "other", "signature_invalid",
     "manifest signature is invalid"),
    # The signature covers the proof, so an altered proof that was not re-signed fails there.
    ("pop signature, not re-signed",
     lambda m: m["proof_of_possession"].update(signature=flip_first(
         m["proof_of_possession"]["signature"])), False, "signature_invalid",
     "manifest signature is invalid"),
    ("pop signature re-signed",
     lambda m: m["proof_of_possession"].update(signature=flip_first(
         m["proof_of_possession"]["signature"])), True, "pop_failed",
     "manifest proof-of-possession failed"),
    ("pop over another challenge",
     lambda m: m["proof_of_possession"].update(signature=other_pop_signature()), True,
     "pop_failed", "manifest proof-of-possession failed"),
    ("pop challenge replaced", set_member(["proof_of_possession", "challenge"], OTHER_CHALLENGE),
     True, "pop_failed", "manifest proof-of-possession failed"),
    ("pop challenge not base64url", set_member(["proof_of_possession", "challenge"], "*"), True,
     "pop_failed", "manifest proof-of-possession failed"),
    ("pop challenge padded",
     lambda m: m["proof_of_possession"].update(challenge=m["proof_of_possession"]["challenge"]
                                               + "=="), True,
     "pop_failed", "manifest proof-of-possession failed"),
    ("pop signature malformed", set_member(["proof_of_possession", "signature"], ""), True,
     "pop_failed", "manifest proof-of-possession failed"),
    ("any decodable challenge is accepted",
     lambda m: m["proof_of_possession"].update(
         challenge="", signature=sign_detached(ed_private(), b"")), True, None, None),
    ("pinned_key without public_key", set_member(["identity_hint", "public_key"], DELETE), True,
     "identity_hint_malformed", "identity_hint malformed: pinned_key requires `public_key`"),
    ("oidc without issuer",
     set_member(["identity_hint"], {"type": "oidc", "subject": "s"}), True,
     "identity_hint_malformed", "identity_hint malformed: oidc requires `issuer`"),
    ("oidc with public_key",
     set_member(["identity_hint"], {"type": "oidc", "subject": "s", "issuer": ISSUER,
                                    "public_key": b64url(PUBLIC)}), True,
     "identity_hint_malformed", "identity_hint malformed: oidc must not include `public_key`"),
    ("oidc hint, well formed",
     set_member(["identity_hint"], {"type": "oidc", "subject": "s", "issuer": "anything"}), True,
     None, None),
    ("expired re-signed", set_member(["expires_at"], 1), True, "expired", "manifest has expired"),
    ("expiry checked before the signature", set_member(["expires_at"], 1), False, "expired",
     "manifest has expired"),
    ("version checked before expiry",
     lambda m: m.update(version="zelk/0.3", expires_at=1), False, "version_unknown",
     "manifest version is not supported"),
    ("extensions are signed", set_member(["extensions"], {"b": [1, {"z": None}], "a": "x"}), True,
     None, None),
    ("extensions not re-signed", set_member(["extensions"], {}), False, "signature_invalid",
     "manifest signature is invalid"),
    ("signature algorithms are signed", set_member(["accepted_signature_algorithms"], ["x"]),
     True, None, None),
]


@pytest.mark.parametrize("description, change, signed, code, text", CASES,
                         ids=[c[0] for c in CASES])
def test_verification_codes(description, change, signed, code, text):
    signer = {True: ed_private, False: None,
              "other": lambda: Ed25519PrivateKey.from_private_bytes(bytes(32))}[signed]
    crafted = edited(change, signer)
    if code is None:
        assert zelk.verify_manifest_json(crafted) is None
        return
    error = verify_code(crafted)
    assert error.code == code
    assert str(error) == "manifest verification failed: " + text
    assert error.args == (str(error),)


def test_p256_manifest_resigned_here():
    agent = p256_agent()
    kwargs = {"identity_type": "oidc", "oidc_issuer": ISSUER, "oidc_subject": "s"}
    crafted = edited(set_member(["offered_capabilities"], ["x"]), p256_private, agent, **kwargs)
    assert zelk.verify_manifest_json(crafted) is None
    crafted = edited(lambda m: m["proof_of_possession"].update(
        signature=sign_detached(p256_private(), b"other")), p256_private, agent, **kwargs)
    assert verify_code(crafted).code == "pop_failed"
    # An Ed25519 signature text on a P-256 Manifest.
    crafted = edited(set_member(["display_name"], "y"), ed_private, agent, **kwargs)
    assert verify_code(crafted).code == "signature_invalid"


def invalid_ed25519_point():
    p = 2**255 - 19
    d = -121665 * pow(121666, p - 2, p) % p
    for y in range(2, 100):
        x2 = (y * y - 1) * pow(d * y * y + 1, p - 2, p) % p
        if pow(x2, (p - 1) // 2, p) == p - 1:  # no square root: no point with this y
            return y.to_bytes(32, "little")
    raise AssertionError("unreachable")


def invalid_p256_x():
    p = 2**256 - 2**224 + 2**192 + 2**96 - 1
    b = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B
    for x in range(1, 100):
        if pow((x**3 - 3 * x + b) % p, (p - 1) // 2, p) == p - 1:
            return b"\x02" + x.to_bytes(32, "big")
    raise AssertionError("unreachable")


INVALID_KEY_AIDS = [
    ("aid:pubkey:" + b64url(invalid_ed25519_point()),
     "AID does not yield a valid Ed25519 public key: signature error"),
    ("aid:pubkey:ed25519:" + b64url(invalid_ed25519_point()),
     "AID does not yield a valid Ed25519 public key: signature error"),
    ("aid:pubkey:p256:" + b64url(invalid_p256_x()), "public key parsing failed: signature error"),
]


@pytest.mark.parametrize("aid, reason", INVALID_KEY_AIDS)
def test_aid_without_a_valid_key_is_malformed(aid, reason):
    crafted = edited(set_member(["aid"], aid))
    error = verify_code(crafted)
    assert error.code == "malformed"
    assert str(error) == "manifest verification failed: " + reason
    # The key is derived after the version and expiry checks.
    assert verify_code(crafted, I64_MAX).code == "expired"


def test_long_form_aid_of_the_same_key_verifies():
    long_aid = "aid:pubkey:ed25519:" + b64url(PUBLIC)
    assert zelk.verify_manifest_json(edited(set_member(["aid"], long_aid))) is None


def test_signing_input_is_the_canonical_form_not_the_text():
    manifest = manifest_of(build())
    # Reversed member order and added whitespace: the same parsed data.
    reordered = {"manifest": dict(reversed(list(manifest.items())))}
    assert zelk.verify_manifest_json(json.dumps(reordered, indent=2)) is None
    # The record's array form, members in declared order, null for the absent ones.
    array = [manifest.get(name) for name in MANIFEST_ORDER]
    array[3] = [manifest["identity_hint"][k] for k in ("type", "subject")] + [
        None, manifest["identity_hint"]["public_key"]]
    assert zelk.verify_manifest_json(json.dumps({"manifest": array})) is None


def unparsable_cases():
    text = build()
    manifest = manifest_of(text)

    def with_manifest(**changes):
        m = dict(manifest, **changes)
        return json.dumps({"manifest": m})

    without_signature = dict(manifest)
    del without_signature["signature"]
    return [
        ("not JSON", "not json"),
        ("empty", ""),
        ("truncated", text[:-1]),
        ("trailing text", text + "x"),
        ("two values", text + text),
        ("extra top-level member", text[:-1] + ',"x":1}'),
        ("extra manifest member", with_manifest(extra=1)),
        ("extra identity_hint member",
         with_manifest(identity_hint=dict(manifest["identity_hint"], extra=1))),
        ("extra proof member",
         with_manifest(proof_of_possession=dict(manifest["proof_of_possession"], x=""))),
        ("missing signature", json.dumps({"manifest": without_signature})),
        ("duplicate member", text.replace('"version":"zelk/0.2"',
                                          '"version":"zelk/0.2","version":"zelk/0.2"')),
        ("invalid aid", with_manifest(aid="aid:pubkey:short")),
        ("aid not a string", with_manifest(aid=5)),
        ("P-256 aid with a bad prefix byte", with_manifest(aid="aid:pubkey:p256:" + b64url(
            b"\x04" + bytes(32)))),
        ("unknown identity type", with_manifest(identity_hint={"type": "x", "subject": "s"})),
        ("time not an integer", with_manifest(expires_at=1.5)),
        ("time out of range", with_manifest(expires_at=2**63)),
        ("envelope not an object", json.dumps([manifest, 1])),
        ("manifest not an object", '{"manifest":1}'),
        ("lone surrogate escape", text.replace('"Alice"', '"\\ud800"')),
    ]


@pytest.mark.parametrize("description, text", unparsable_cases(),
                         ids=[c[0] for c in unparsable_cases()])
def test_unparsable_envelopes_raise_value_error(description, text):
    with pytest.raises(ValueError) as info:
        zelk.verify_manifest_json(text, 0)
    assert type(info.value) is ValueError
    assert re.fullmatch(r"invalid manifest JSON: .+ at line \d+ column \d+", str(info.value),
                        re.S), str(info.value)


def test_read_errors_name_the_member():
    text = build()
    with pytest.raises(ValueError) as info:
        zelk.verify_manifest_json(text.replace('"signature":"', '"signatur":"', 1)[:-2]
                                  + '"}}')
    assert "unknown field `signatur`" in str(info.value)


def test_verify_arguments():
    text = build()
    with pytest.raises(TypeError) as info:
        zelk.verify_manifest_json()
    assert str(info.value) == ("verify_manifest_json() missing 1 required positional argument: "
                               "'manifest_envelope_json'")
    with pytest.raises(TypeError) as info:
        zelk.verify_manifest_json(text, 1, 2)
    assert str(info.value) == ("verify_manifest_json() takes from 1 to 2 positional arguments "
                               "but 3 were given")
    with pytest.raises(TypeError) as info:
        zelk.verify_manifest_json(text, now=1)
    assert str(info.value) == "verify_manifest_json() got an unexpected keyword argument 'now'"
    for value, exc, message in [
            (None, TypeError, "'None' is not an instance of 'str'"),
            (text.encode(), TypeError, "'bytes' object is not an instance of 'str'"),
            (json.loads(text), TypeError, "'dict' object is not an instance of 'str'"),
            ("\ud800", UnicodeEncodeError, None)]:
        with pytest.raises(exc) as info:
            zelk.verify_manifest_json(value)
        if message:
            assert str(info.value) == message
        assert info.value.__notes__ == ["while processing 'manifest_envelope_json'"]
    # The clock argument is converted before the text is read.
    for now, exc in [("1", TypeError), (1.0, TypeError), (2**63, OverflowError),
                     (I64_MIN - 1, OverflowError), (10**30, OverflowError)]:
        with pytest.raises(exc) as info:
            zelk.verify_manifest_json("not json", now)
        assert info.value.__notes__ == ["while processing 'now_unix_secs'"]
