"""JwksProvider: issuer URLs, the JWK shapes it takes and refuses, and Python code that runs
while keys are loaded."""

import json
import math

import pytest

import zelk
from handshake_agents import ISSUER

X32 = "A" * 43  # 32 zero bytes
OKP = {"kty": "OKP", "crv": "Ed25519", "x": X32}
EC = {"kty": "EC", "crv": "P-256", "x": X32, "y": X32}
RSA = {"kty": "RSA", "n": "AQAB", "e": "AQAB"}


def b64(n):
    import base64
    return base64.urlsafe_b64encode(b"\0" * n).rstrip(b"=").decode()


def value_error(keys, message):
    with pytest.raises(ValueError) as info:
        zelk.JwksProvider({ISSUER: keys})
    assert str(info.value) == message
    with pytest.raises(ValueError) as info:
        zelk.JwksProvider().upsert(ISSUER, keys)
    assert str(info.value) == message


def test_empty_providers():
    for provider in (zelk.JwksProvider(), zelk.JwksProvider(None), zelk.JwksProvider({}),
                     zelk.JwksProvider(keys=None)):
        assert provider.issuers() == []


def test_issuers_are_kept_normalised():
    provider = zelk.JwksProvider({"HTTPS://IdP.Example:443": [OKP], "foo:bar baz ?q": []})
    assert sorted(provider.issuers()) == ["foo:bar baz%20?q", "https://idp.example/"]
    # remove takes the normalised text only.
    assert provider.remove("HTTPS://IdP.Example:443") is None
    assert len(provider.issuers()) == 2
    provider.remove("https://idp.example/")
    provider.remove("https://idp.example/")
    assert provider.issuers() == ["foo:bar baz%20?q"]
    # Keys under two spellings of one issuer: the later list stays.
    provider = zelk.JwksProvider({"https://a.example": [OKP], "https://A.example/": [EC, RSA]})
    assert provider.issuers() == ["https://a.example/"]


@pytest.mark.parametrize("issuer, error", [
    ("idp.example", "relative URL without a base"),
    ("https://", "empty host"),
    ("https://idp.example:99999/", "invalid port number"),
    ("https://xn--/", "invalid international domain name"),
])
def test_invalid_issuer_urls(issuer, error):
    message = f"invalid issuer URL '{issuer}': {error}"
    with pytest.raises(ValueError) as info:
        zelk.JwksProvider({issuer: [OKP]})
    assert str(info.value) == message
    with pytest.raises(ValueError) as info:
        zelk.JwksProvider().upsert(issuer, [])
    assert str(info.value) == message


def test_any_absolute_url_is_an_issuer():
    provider = zelk.JwksProvider()
    for issuer in ("urn:example:idp", "file:///keys", "http://[::1]:8080/x"):
        provider.upsert(issuer=issuer, keys=[OKP])
    assert len(provider.issuers()) == 3


@pytest.mark.parametrize("jwk, message", [
    ({}, "malformed JWK: jwk missing kty"),
    ({"kty": 1}, "malformed JWK: jwk missing kty"),
    ({"kty": "ec", "crv": "P-256"}, "unsupported JWK: kty=ec"),
    ({"kty": "oct", "k": "AA"}, "unsupported JWK: kty=oct"),
    ({"kty": "EC", "x": X32, "y": X32}, "unsupported JWK: EC crv="),
    ({"kty": "EC", "crv": 256, "x": X32, "y": X32}, "unsupported JWK: EC crv="),
    ({"kty": "EC", "crv": "P-384", "x": X32, "y": X32}, "unsupported JWK: EC crv=P-384"),
    ({"kty": "OKP", "crv": "X25519", "x": X32}, "unsupported JWK: OKP crv=X25519"),
    ({"kty": "OKP", "x": X32}, "unsupported JWK: OKP crv="),
    ({"kty": "EC", "crv": "P-256", "x": b64(31)},
     "malformed JWK: EC x must decode to 32 bytes, got 31"),
    ({"kty": "EC", "crv": "P-256", "x": X32, "y": b64(33)},
     "malformed JWK: EC y must decode to 32 bytes, got 33"),
    ({"kty": "EC", "crv": "P-256", "x": X32}, "malformed JWK: jwk missing y"),
    ({"kty": "EC", "crv": "P-256", "y": X32}, "malformed JWK: jwk missing x"),
    ({"kty": "OKP", "crv": "Ed25519", "x": b64(0)},
     "malformed JWK: OKP x must decode to 32 bytes, got 0"),
    ({"kty": "OKP", "crv": "Ed25519", "x": 5}, "malformed JWK: jwk missing x"),
    ({"kty": "RSA", "e": "AQAB"}, "malformed JWK: jwk missing n"),
    ({"kty": "RSA", "n": "AQAB", "e": None}, "malformed JWK: jwk missing e"),
])
def test_refused_key_shapes(jwk, message):
    value_error([OKP, jwk], "JWK at index 1 invalid: " + message)


def test_base64url_errors_name_the_member():
    # The decoder's own texts, after the member's name.
    for name, jwk in (("x", dict(OKP, x=X32[:-1] + "=")), ("y", dict(EC, y="A*")),
                      ("n", dict(RSA, n="A")), ("e", dict(RSA, e="AQ=B"))):
        with pytest.raises(ValueError) as info:
            zelk.JwksProvider({ISSUER: [jwk]})
        assert str(info.value).startswith(f"JWK at index 0 invalid: malformed JWK: {name}: ")
    # An EC x of the wrong length is reported even when y is missing.
    value_error([{"kty": "EC", "crv": "P-256", "x": b64(31)}],
                "JWK at index 0 invalid: malformed JWK: EC x must decode to 32 bytes, got 31")


def test_accepted_shapes():
    provider = zelk.JwksProvider({ISSUER: [
        dict(RSA, n="", e=""),
        dict(OKP, kid=7, d="private member ignored", alg="RS256", use="sig"),
        dict(EC, kid="k"),
    ]})
    assert provider.issuers() == [ISSUER]


def test_element_and_container_types():
    value_error([OKP, [OKP]], "JWK at index 1 must be a dict")
    value_error(["x"], "JWK at index 0 must be a dict")
    with pytest.raises(ValueError) as info:
        zelk.JwksProvider({5: [OKP]})
    assert str(info.value) == "JwksProvider keys must be issuer URL strings"
    with pytest.raises(ValueError) as info:
        zelk.JwksProvider({"\ud800": [OKP]})
    assert str(info.value) == "JwksProvider keys must be issuer URL strings"
    with pytest.raises(ValueError) as info:
        zelk.JwksProvider({ISSUER: (OKP,)})
    assert str(info.value) == f"JwksProvider['{ISSUER}'] must be a list"
    for call, message, name in (
            (lambda: zelk.JwksProvider([ISSUER]), "'list' object is not an instance of 'dict'",
             "keys"),
            (lambda: zelk.JwksProvider().upsert(ISSUER, (OKP,)),
             "'tuple' object is not an instance of 'list'", "keys"),
            (lambda: zelk.JwksProvider().upsert(b"x", []),
             "'bytes' object is not an instance of 'str'", "issuer"),
            (lambda: zelk.JwksProvider().remove(None), "'None' is not an instance of 'str'",
             "issuer")):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
        assert getattr(info.value, "__notes__", [f"while processing '{name}'"]) == [
            f"while processing '{name}'"]
    with pytest.raises(TypeError):
        zelk.JwksProvider().issuers(1)


def test_json_dumps_failures():
    with pytest.raises(RuntimeError) as info:
        zelk.JwksProvider({ISSUER: [dict(OKP, extra=math.nan)]})
    assert str(info.value).startswith("could not re-parse JWK JSON: ")
    assert " at line 1 column " in str(info.value)
    with pytest.raises(RuntimeError) as info:
        zelk.JwksProvider({ISSUER: [dict(OKP, extra="\ud800")]})
    assert str(info.value).startswith("could not re-parse JWK JSON: ")
    # json.dumps's own exception goes through unchanged.
    with pytest.raises(TypeError) as info:
        zelk.JwksProvider({ISSUER: [dict(OKP, extra=b"bytes")]})
    assert "bytes" in str(info.value)
    with pytest.raises(TypeError):
        zelk.JwksProvider().upsert(ISSUER, [dict(OKP, extra={1, 2})])


def test_a_failed_load_keeps_the_earlier_keys():
    provider = zelk.JwksProvider({ISSUER: [OKP]})
    with pytest.raises(ValueError):
        provider.upsert(ISSUER, [EC, {"kty": "nope"}])
    assert provider.issuers() == [ISSUER]
    # An empty list is stored and listed (and resolves as not trusted, see the handshake tests).
    provider.upsert("https://empty.example", [])
    assert sorted(provider.issuers()) == ["https://empty.example/", ISSUER]


def test_python_code_run_while_loading():
    provider = zelk.JwksProvider()

    class Reentrant(dict):
        # json.dumps reads a dict subclass through its items().
        def items(self):
            provider.upsert("https://inner.example/", [OKP])
            provider.remove("https://gone.example/")
            assert "https://inner.example/" in provider.issuers()
            return super().items()

    provider.upsert("https://gone.example/", [OKP])
    provider.upsert(ISSUER, [Reentrant(OKP)])
    assert sorted(provider.issuers()) == ["https://idp.example/", "https://inner.example/"]

    # A list shrinking under the load: only what is still there is read.
    keys = []

    class Shrinking(dict):
        def items(self):
            del keys[1:]
            return super().items()

    keys += [Shrinking(OKP), {"kty": "bad"}, {"kty": "bad"}]
    provider.upsert("https://shrink.example/", keys)

    # Growing is not followed either: the length when loading began bounds it.
    class Growing(dict):
        def items(self):
            grown.append({"kty": "bad"})
            return super().items()

    grown = [Growing(OKP)]
    provider.upsert("https://grow.example/", grown)
    assert len(grown) == 2


def _grow(d):
    d["https://d.example/"] = []


def _shrink(d):
    del d["https://b.example/"]


def _swap_visited(d):
    del d["https://a.example/"]
    d["https://d.example/"] = []


def _swap_ahead(d):
    del d["https://b.example/"]
    d["https://d.example/"] = []


def _move_to_end(d):
    d["https://b.example/"] = d.pop("https://b.example/")


def _swap_places(d):
    items = list(d.items())
    d.clear()
    d.update([items[1], items[0], *items[2:]])


@pytest.mark.parametrize("mutate, message", [
    (_grow, "dictionary changed size during iteration"),
    (_shrink, "dictionary changed size during iteration"),
    # Same size, other keys: one the walk has passed, or one it has yet to meet, is replaced.
    (_swap_visited, "dictionary keys changed during iteration"),
    (_swap_ahead, "dictionary keys changed during iteration"),
    # Same keys, other order: the walk would meet b twice or not at all.
    (_move_to_end, "dictionary keys changed during iteration"),
    (_swap_places, "dictionary keys changed during iteration"),
])
def test_a_dict_changed_during_construction_panics(mutate, message):
    class Mutating(dict):
        def items(self):  # json.dumps calls this while a's key is loaded
            if not done:
                done.append(True)
                mutate(outer)
            return super().items()

    done: list[bool] = []
    outer = {"https://a.example/": [Mutating(OKP)], "https://b.example/": [dict(OKP)],
             "https://c.example/": []}
    with pytest.raises(BaseException) as info:
        zelk.JwksProvider(outer)
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert info.value.args == (message,)


@pytest.mark.parametrize("entries", [3, 5, 6, 11])
def test_a_change_of_keys_while_the_last_entry_loads_panics(entries):
    # From 5 entries on, the insert makes the dict rebuild its storage, which moves the entries
    # under the walk's position: the walk then ends having met every key it started with.
    class Mutating(dict):
        def items(self):
            if not done:
                done.append(True)
                del outer["https://k0.example/"]
                outer["https://new.example/"] = []
            return super().items()

    done: list[bool] = []
    outer = {f"https://k{i}.example/": [dict(OKP)] for i in range(entries - 1)}
    outer["https://last.example/"] = [Mutating(OKP)]
    with pytest.raises(BaseException) as info:
        zelk.JwksProvider(outer)
    assert type(info.value).__name__ == "PanicException"
    assert info.value.args == ("dictionary keys changed during iteration",)


def test_a_value_replaced_during_construction_is_not_a_change_of_keys():
    class Replacing(dict):
        def items(self):
            outer["https://b.example/"] = []
            return super().items()

    outer = {"https://a.example/": [Replacing(OKP)], "https://b.example/": [dict(OKP)]}
    provider = zelk.JwksProvider(outer)
    assert sorted(provider.issuers()) == ["https://a.example/", "https://b.example/"]


@pytest.mark.parametrize("url, serialised", [
    ("foo:\u00e4 ?\u00e4", "foo:%C3%A4%20?%C3%A4"),
    ("sc:a  #f", "sc:a %20#f"),
    ("sc:a b", "sc:a b"),
    ("lolscheme:x x#x x", "lolscheme:x x#x%20x"),
])
def test_issuers_and_endpoints_are_serialised_alike(url, serialised):
    # A space that ends an opaque path before its query or fragment is escaped.
    assert zelk.JwksProvider({url: []}).issuers() == [serialised]
    manifest = zelk.ZelkAgent.generate().build_manifest("A", url, ["cap"])
    assert json.loads(manifest)["manifest"]["handshake_endpoint"] == serialised
