"""ZelkAgent.verify_tct: decoding, the core checks in their order, the grant, and arguments."""

import json
import re
import sys
import uuid

import pytest

import zelk
from reentry import ReentrantCaps, named
from tct_tokens import Key, b64url, claims_for, mint, sign_token, within_one_second

PREFIX = "TCT verification failed: "
CLAIM_NAMES = "`ver`, `jti`, `iss`, `sub`, `aud`, `iat`, `exp`, `grants`, `cnf`, `ext`"


@pytest.fixture(scope="module")
def issuer():
    return Key()


@pytest.fixture(scope="module")
def me():
    key = Key()
    key.zelk = key.agent()
    return key


def outcome(call):
    try:
        return call()
    except (ValueError, RuntimeError, TypeError) as e:
        return e


# ---- accepted tokens -------------------------------------------------------------------------

@pytest.mark.parametrize("issuer_suite, subject_suite", [
    ("ed25519", "ed25519"), ("p256", "ed25519"), ("ed25519", "p256"), ("p256", "p256")])
def test_any_issuer_naming_itself_passes(issuer_suite, subject_suite):
    iss, sub = Key(issuer_suite), Key(subject_suite)
    agent = sub.agent()
    token = mint(iss, agent.aid, grants=["read", "write"])
    identity = agent.verify_tct(token, "write")
    assert isinstance(identity, zelk.TctIdentity)
    assert identity.peer_aid == iss.aid
    assert identity.grants == ["read", "write"]
    claims = json.loads(__import__("base64").urlsafe_b64decode(token.split(".")[1] + "=="))
    assert identity.jti == claims["jti"] and identity.expires_at == claims["exp"]


def test_long_form_issuer_is_reported_as_written(me):
    iss = Key()
    token = sign_token(iss, claims_for(iss.long_aid, me.aid))
    assert me.zelk.verify_tct(token, "read").peer_aid == iss.long_aid


def test_both_ed25519_forms_are_distinct_audiences(issuer, me):
    long_token = mint(issuer, me.long_aid)
    with pytest.raises(RuntimeError, match="^" + PREFIX + "TCT audience does not match$"):
        me.zelk.verify_tct(long_token, "read")
    assert me.zelk.verify_tct(long_token, "read", me.long_aid).peer_aid == issuer.aid
    with pytest.raises(RuntimeError, match="^" + PREFIX + "TCT audience does not match$"):
        me.zelk.verify_tct(mint(issuer, me.aid), "read", expected_audience=me.long_aid)


def test_expected_audience_accepts_a_token_for_another_agent(issuer, me):
    other = Key()
    token = mint(issuer, other.aid)
    assert me.zelk.verify_tct(token, "read", other.aid).peer_aid == issuer.aid
    with pytest.raises(RuntimeError) as info:
        me.zelk.verify_tct(token, "read")
    assert str(info.value) == PREFIX + "TCT audience does not match"


def test_uppercase_jti_is_reported_in_lower_case(issuer, me):
    jti = str(uuid.uuid4())
    token = mint(issuer, me.aid, jti=jti.upper())
    assert me.zelk.verify_tct(token, "read").jti == jti
    refused(me, token, "TCT jti is revoked", revoked={jti})


@pytest.mark.parametrize("extra", [{}, {"ext": None}, {"ext": {"x": [1, {"y": 2}]}},
                                   {"iat": -2**63}, {"exp": 2**63 - 1}])
def test_optional_ext_and_extreme_times(issuer, me, extra):
    assert me.zelk.verify_tct(mint(issuer, me.aid, **extra), "read").grants == ["read"]


def test_grant_with_space_is_accepted(issuer, me):
    assert me.zelk.verify_tct(mint(issuer, me.aid, grants=["a b"]), "a b").grants == ["a b"]


# ---- validity window: both ends inclusive -----------------------------------------------------

@pytest.mark.parametrize("offsets, ok", [
    ({"exp": 0}, True), ({"exp": -1}, False), ({"iat": 0}, True), ({"iat": 1}, False)])
def test_validity_boundaries(issuer, me, offsets, ok):
    def attempt(now):
        times = {name: now + delta for name, delta in offsets.items()}
        return outcome(lambda: me.zelk.verify_tct(mint(issuer, me.aid, now=now - 10, **times),
                                                  "read"))
    result = within_one_second(attempt)
    if ok:
        assert isinstance(result, zelk.TctIdentity)
    else:
        assert type(result) is RuntimeError
        assert str(result) == PREFIX + "TCT has expired or is not yet valid"


# ---- refusals by the verifier, in its order ---------------------------------------------------

def refused(me, token, message, revoked=None):
    with pytest.raises(RuntimeError) as info:
        me.zelk.verify_tct(token, "read", revoked_jtis=revoked)
    assert type(info.value) is RuntimeError
    assert str(info.value) == PREFIX + message


def test_wrong_signer(issuer, me):
    claims = claims_for(issuer.aid, me.aid)
    refused(me, sign_token(Key(), claims), "signature verification failed")
    p = Key("p256")
    refused(me, sign_token(Key("p256"), claims_for(p.aid, me.aid)),
            "signature verification failed")


def test_iss_other_than_signer_cannot_be_made_to_match(issuer, me):
    # The key is taken from iss, so a token signed by another key never verifies.
    other = Key()
    refused(me, sign_token(issuer, claims_for(other.aid, me.aid)), "signature verification failed")


@pytest.mark.parametrize("header, message", [
    ({"alg": "EdDSA", "typ": "zelk-grant+jwt"},
     "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-grant+jwt"),
    ({"alg": "EdDSA", "typ": "zelk-delegation+jwt"},
     "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-delegation+jwt"),
    ({"alg": "EdDSA", "typ": "JWT"}, "JWS typ header mismatch: expected zelk-tct+jwt, got JWT"),
    ({"alg": "ES256", "typ": "zelk-tct+jwt"},
     "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this AID, "
     "got ES256"),
    ({"alg": "none", "typ": "zelk-tct+jwt"},
     "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this AID, "
     "got none"),
])
def test_alg_and_typ_confusion(issuer, me, header, message):
    refused(me, sign_token(issuer, claims_for(issuer.aid, me.aid), header), message)


def test_p256_issuer_with_eddsa_header(me):
    p = Key("p256")
    token = sign_token(p, claims_for(p.aid, me.aid), {"alg": "EdDSA", "typ": "zelk-tct+jwt"})
    refused(me, token, "JWS alg header does not match the signer AID's algorithm: expected "
                       "ES256 for this AID, got EdDSA")


def test_extra_header_member(issuer, me):
    token = sign_token(issuer, claims_for(issuer.aid, me.aid),
                       {"alg": "EdDSA", "typ": "zelk-tct+jwt", "kid": "k1"})
    with pytest.raises(RuntimeError) as info:
        me.zelk.verify_tct(token, "read")
    assert str(info.value).startswith(
        PREFIX + "compact JWS malformed: protected header: unknown field `kid`, expected `alg` or "
        "`typ` at line 1 column ")


def test_voucher_shaped_claims_under_a_tct_header(issuer, me):
    voucher = {"ver": "zelk/0.2", "iss": issuer.aid, "sub": me.aid, "grants": ["read"],
               "iat": 0, "exp": 2**40, "src_jti": str(uuid.uuid4())}
    with pytest.raises(ValueError) as info:
        me.zelk.verify_tct(sign_token(issuer, voucher), "read")
    assert str(info.value).startswith("invalid TCT claims: unknown field `src_jti`, expected one "
                                      f"of {CLAIM_NAMES} at line 1 column ")


@pytest.mark.parametrize("override, message", [
    ({"ver": "zelk/0.1"}, "TCT version is not supported"),
    ({"grants": []}, "TCT grants must be non-empty"),
    ({"cnf": {"jkt": zelk.compute_aid_jkt(Key().aid)}}, "TCT cnf.jkt does not match the subject key"),
])
def test_claim_checks(issuer, me, override, message):
    refused(me, mint(issuer, me.aid, **override), message)


def test_audience_must_equal_subject(issuer, me):
    other = Key()
    refused(me, mint(issuer, other.aid, aud=me.aid), "TCT audience does not match")
    refused(me, mint(issuer, me.aid, sub=other.aid, cnf={"jkt": zelk.compute_aid_jkt(other.aid)}),
            "TCT audience does not match")


@pytest.mark.parametrize("ext, name", [('{"a":1,"a":2}', "a"),
                                       ('{"deep":[{"b":{"c":1,"c":1}}]}', "c")])
def test_duplicate_members_inside_ext_are_found_by_the_verifier(issuer, me, ext, name):
    body = json.dumps(claims_for(issuer.aid, me.aid), separators=(",", ":"))
    with pytest.raises(RuntimeError) as info:
        me.zelk.verify_tct(sign_token(issuer, body[:-1] + ',"ext":' + ext + "}"), "read")
    assert re.fullmatch(re.escape(f"{PREFIX}claims malformed: duplicate field `{name}`")
                        + r" at line 1 column \d+", str(info.value)), str(info.value)


def test_array_claims_decode_but_fail_verification(issuer, me):
    claims = claims_for(issuer.aid, me.aid)
    as_array = [claims[name] for name in ["ver", "jti", "iss", "sub", "aud", "iat", "exp",
                                          "grants", "cnf"]] + [None]
    refused(me, sign_token(issuer, json.dumps(as_array)),
            "compact JWS malformed: payload is not a JSON object")


# ---- revocation: exact text, and only after everything else -----------------------------------

@pytest.mark.parametrize("form, revoked", [
    (lambda j: j, True),
    (str.upper, False),
    (lambda j: j.replace("-", ""), False),
    (lambda j: "{" + j + "}", False),
    (lambda j: "urn:uuid:" + j, False),
])
@pytest.mark.parametrize("kind", [set, frozenset])
def test_revoked_jti_only_in_lower_case_hyphenated_form(issuer, me, form, revoked, kind):
    jti = str(uuid.uuid4())
    token = mint(issuer, me.aid, jti=jti)
    jtis = kind({form(jti), "not-a-uuid", str(uuid.uuid4())})
    result = outcome(lambda: me.zelk.verify_tct(token, "read", revoked_jtis=jtis))
    if revoked:
        assert str(result) == PREFIX + "TCT jti is revoked"
    else:
        assert result.jti == jti


@pytest.mark.parametrize("override, message", [
    ({"exp": 1}, "TCT has expired or is not yet valid"),
    ({"ver": "zelk/9"}, "TCT version is not supported"),
    ({"grants": []}, "TCT grants must be non-empty"),
    ({"cnf": {"jkt": "x"}}, "TCT cnf.jkt does not match the subject key"),
])
def test_revocation_is_the_last_check(issuer, me, override, message):
    jti = str(uuid.uuid4())
    refused(me, mint(issuer, me.aid, jti=jti, **override), message, revoked={jti})


def test_empty_set_is_no_revocation(issuer, me):
    token = mint(issuer, me.aid)
    assert me.zelk.verify_tct(token, "read", revoked_jtis=set()).grants == ["read"]
    assert me.zelk.verify_tct(token, "read", None, frozenset()).grants == ["read"]


# The set is read through the str objects' own UTF-8, directly and on a store hit alike.
def checker(me, token, cached):
    store = zelk.TctStore(4)
    if cached:
        me.zelk.verify_tct_cached(token, "read", store)

    def check(revoked):
        if cached:
            return outcome(lambda: me.zelk.verify_tct_cached(token, "read", store,
                                                             revoked_jtis=revoked))
        return outcome(lambda: me.zelk.verify_tct(token, "read", revoked_jtis=revoked))

    return check


def is_revoked(result):
    if isinstance(result, zelk.TctIdentity):
        return False
    assert str(result) == PREFIX + "TCT jti is revoked"
    return True


@pytest.mark.parametrize("cached", [False, True])
def test_revoked_set_matches_text_not_python_equality(issuer, me, cached):
    class Equal(str):
        def __eq__(self, other):
            return True

        def __hash__(self):
            return 0

    jti = str(uuid.uuid4())
    check = checker(me, mint(issuer, me.aid, jti=jti), cached)
    # Every Equal hashes alike and compares equal, so a set holds one of them at a time.
    assert not is_revoked(check({Equal("x")}))
    assert not is_revoked(check({Equal(jti.upper()), "y"}))
    assert is_revoked(check({Equal(jti)}))
    assert is_revoked(check(frozenset({Equal("x"), jti})))


@pytest.mark.parametrize("cached", [False, True])
def test_revoked_set_with_non_ascii_elements(issuer, me, cached):
    jti = str(uuid.uuid4())
    check = checker(me, mint(issuer, me.aid, jti=jti), cached)
    lookalike = jti.replace("-", "\u2010")  # same length in characters, not in bytes
    others = {"\u00e9" * 36, "\U0001f600", lookalike, jti[:-1] + "\u00e9", ""}
    assert not is_revoked(check(others))
    assert is_revoked(check(others | {jti}))


@pytest.mark.parametrize("cached", [False, True])
@pytest.mark.parametrize("items, exc, message", [
    ([1, "\udfff"], TypeError, "'int' object is not an instance of 'str'"),
    (["ok", "\udfff", 1], UnicodeEncodeError, None),
    (["\ud800x", None], UnicodeEncodeError, None),
])
def test_revoked_set_elements_are_checked_in_iteration_order(issuer, me, cached, items, exc,
                                                             message):
    class Ordered(set):
        def __iter__(self):
            return iter(items)

    token = mint(issuer, me.aid)
    store = zelk.TctStore(4)
    with pytest.raises(exc) as info:
        if cached:
            me.zelk.verify_tct_cached(token, "read", store, revoked_jtis=Ordered())
        else:
            me.zelk.verify_tct(token, "read", revoked_jtis=Ordered())
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    assert note_of(info) == ["while processing 'revoked_jtis'"]
    assert store.len() == 0  # refused before anything was verified


@pytest.mark.parametrize("cached", [False, True])
@pytest.mark.parametrize("kind", [set, frozenset])
def test_exact_set_elements_are_checked_in_iteration_order(issuer, me, cached, kind):
    revoked = kind({1, "\udfff"})
    exc = TypeError if next(iter(revoked)) == 1 else UnicodeEncodeError
    store = zelk.TctStore(4)
    with pytest.raises(exc) as info:
        if cached:
            me.zelk.verify_tct_cached(mint(issuer, me.aid), "read", store, revoked_jtis=revoked)
        else:
            me.zelk.verify_tct(mint(issuer, me.aid), "read", revoked_jtis=revoked)
    assert type(info.value) is exc
    assert note_of(info) == ["while processing 'revoked_jtis'"]


@pytest.mark.parametrize("cached", [False, True])
@pytest.mark.parametrize("kind", [set, frozenset])
def test_exact_set_with_one_odd_element_among_many(issuer, me, cached, kind):
    # Plain str elements are checked in one pass; whatever else comes, wherever it comes in
    # the iteration, is read as in any other set.
    class S(str):
        pass

    jti = str(uuid.uuid4())
    check = checker(me, mint(issuer, me.aid, jti=jti), cached)
    plain = {f"{i:08x}-0000-4000-8000-{i:012x}" for i in range(2_000)}
    assert is_revoked(check(kind(plain | {S(jti)})))
    assert not is_revoked(check(kind(plain | {S("x")})))
    assert is_revoked(check(kind(plain | {"\u00e9", jti})))
    for odd, exc in ((7, TypeError), ("\udfff", UnicodeEncodeError)):
        refused = check(kind(plain | {odd}))
        assert type(refused) is exc
        assert refused.__notes__ == ["while processing 'revoked_jtis'"]


@pytest.mark.parametrize("size", [1, 15, 16, 17, 32, 33, 100])
def test_exact_set_elements_are_read_in_batches_without_losing_references(issuer, me, size):
    # Plain elements are taken several at a time; sizes around that batch check that each one is
    # looked at and given back once, with the odd element anywhere in the iteration.
    jti = str(uuid.uuid4())
    token = mint(issuer, me.aid, jti=jti)
    plain = ["".join([f"{i:08x}", "-0000-4000-8000-", f"{i:012x}"]) for i in range(size - 1)]
    odd = 10**30
    for last in (jti, "\u00e9", odd):
        elements = plain + [last]
        revoked = set(elements)
        before = [sys.getrefcount(x) for x in elements]
        result = outcome(lambda: me.zelk.verify_tct(token, "read", revoked_jtis=revoked))
        if last is odd:
            assert type(result) is TypeError
        else:
            assert is_revoked(result) == (last == jti)
        del result
        assert [sys.getrefcount(x) for x in elements] == before


@pytest.mark.parametrize("cached", [False, True])
def test_revoked_set_keeps_elements_its_iterator_made(issuer, me, cached):
    jti = str(uuid.uuid4())

    class Fresh(set):
        """Yields strings that nothing but the call itself holds."""

        def __iter__(self):
            for i in range(1000):
                yield "".join(["x", str(i)])
            yield "".join([jti[:18], jti[18:]])

    check = checker(me, mint(issuer, me.aid, jti=jti), cached)
    assert is_revoked(check(Fresh()))


def test_revoked_set_references_are_given_back(issuer, me):
    class S(str):
        pass

    class RevSet(set):
        pass

    jti = str(uuid.uuid4())
    token = mint(issuer, me.aid, jti=jti)
    store = zelk.TctStore(4)
    elements = ["".join(["a", "b"]), "".join([jti[:9], jti[9:]]), S("x"), "\u00e9t\u00e9"]
    sets = [set(elements[:2]), frozenset(elements[:2]), set(elements), RevSet(elements),
            {elements[0], 1}, set()]
    def use(revoked):
        outcome(lambda: me.zelk.verify_tct(token, "read", revoked_jtis=revoked))
        outcome(lambda: me.zelk.verify_tct_cached(token, "read", store, revoked_jtis=revoked))

    before = [sys.getrefcount(x) for x in elements + sets]
    for _ in range(3):
        for i in range(len(sets)):
            use(sets[i])
    assert [sys.getrefcount(x) for x in elements + sets] == before


@pytest.mark.parametrize("cached", [False, True])
def test_large_revoked_set(issuer, me, cached):
    jti = str(uuid.uuid4())
    check = checker(me, mint(issuer, me.aid, jti=jti), cached)
    many = {str(uuid.uuid4()) for _ in range(100_000)}
    assert not is_revoked(check(many))
    many.add(jti)
    assert is_revoked(check(frozenset(many)))


def test_revoked_beats_missing_grant(issuer, me):
    jti = str(uuid.uuid4())
    with pytest.raises(RuntimeError) as info:
        me.zelk.verify_tct(mint(issuer, me.aid, jti=jti), "admin", revoked_jtis={jti})
    assert str(info.value) == PREFIX + "TCT jti is revoked"


# ---- the required grant ---------------------------------------------------------------------

@pytest.mark.parametrize("grants, asked, listed", [
    (["read", "write"], "admin", '["read", "write"]'),
    (["Read"], "read", '["Read"]'),
    (['q"uote', "back\\slash"], "x", r'["q\"uote", "back\\slash"]'),
    (["t\tr\rn\nz\x00"], "x", r'["t\tr\rn\nz\0"]'),
    (["bell\x07", "del\x7f", "c1\x85", "zw\u200b"], "x",
     r'["bell\u{7}", "del\u{7f}", "c1\u{85}", "zw\u{200b}"]'),
    (["é", "日本", "🙂", "'single'"], "x", '["é", "日本", "🙂", "\'single\'"]'),
])
def test_missing_grant_message(issuer, me, grants, asked, listed):
    with pytest.raises(RuntimeError) as info:
        me.zelk.verify_tct(mint(issuer, me.aid, grants=grants), asked)
    assert str(info.value) == f"TCT does not grant '{asked}'; grants: {listed}"


# ---- unreadable tokens: ValueError ------------------------------------------------------------

def with_payload(issuer, payload_text):
    return sign_token(issuer, payload_text)


def claims_text(issuer, me, **override):
    return json.dumps(claims_for(issuer.aid, me.aid, **override), separators=(",", ":"))


@pytest.mark.parametrize("make, message", [
    (lambda i, m: "abc.def", "malformed TCT compact JWS: compact JWS malformed: expected exactly "
                             "three non-empty segments"),
    (lambda i, m: "a..c", "malformed TCT compact JWS: compact JWS malformed: expected exactly "
                          "three non-empty segments"),
    (lambda i, m: "a.b.c.d", "malformed TCT compact JWS: compact JWS malformed: expected exactly "
                             "three non-empty segments"),
    (lambda i, m: "eyJ9.e30=.c2ln", "malformed TCT compact JWS: compact JWS malformed: payload "
                                    "segment: base64url padding is forbidden in ZELK"),
    (lambda i, m: "eyJ9.e3+0.c2ln", "malformed TCT compact JWS: compact JWS malformed: payload "
                                    "segment: invalid base64url character"),
])
def test_malformed_compact_jws(issuer, me, make, message):
    with pytest.raises(ValueError) as info:
        me.zelk.verify_tct(make(issuer, me), "read")
    assert type(info.value) is ValueError
    assert str(info.value) == message


@pytest.mark.parametrize("payload, message", [
    (lambda t: t[:-1] + ',"x":1}', "unknown field `x`, expected one of " + CLAIM_NAMES),
    (lambda t: t[:-1] + ',"ver":"zelk/0.2"}', "duplicate field `ver`"),
    (lambda t: t.replace('"cnf":{', '"cnf":{"y":1,'), "unknown field `y`, expected `jkt`"),
    (lambda t: t.replace('"cnf":{', '"cnf":{"jkt":"a",'), "duplicate field `jkt`"),
    (lambda t: t.replace('"grants":["read"],', ""), "missing field `grants`"),
    (lambda t: t + "x", "trailing characters"),
    (lambda t: t.replace('"jti":"', '"jti":"zz'), "UUID parsing failed: "),
    (lambda t: t.replace('"sub":"aid:', '"sub":"did:'), "AID does not start with 'aid:'"),
    (lambda t: json.dumps(json.loads(t) | {"iat": 2**63}), ""),
    (lambda t: json.dumps(json.loads(t) | {"exp": "soon"}), ""),
    (lambda t: json.dumps(list(json.loads(t).values())[:2]), "invalid length 2, expected struct TctClaims with 10 elements"),
    (lambda t: "42", ""),
])
def test_invalid_claims(issuer, me, payload, message):
    token = with_payload(issuer, payload(claims_text(issuer, me)))
    with pytest.raises(ValueError) as info:
        me.zelk.verify_tct(token, "read")
    text = str(info.value)
    assert text.startswith("invalid TCT claims: " + message), text
    assert " at line 1 column " in text


def test_malformed_token_is_reported_before_a_bad_audience(me):
    with pytest.raises(ValueError) as info:
        me.zelk.verify_tct("x.y", "read", expected_audience="nope")
    assert str(info.value) == ("malformed TCT compact JWS: compact JWS malformed: expected "
                               "exactly three non-empty segments")


@pytest.mark.parametrize("audience, reason", [
    ("nope", "AID does not start with 'aid:'"),
    ("aid:pubkey:short", "AID identifier must be exactly 43 characters; got 5"),
])
def test_bad_expected_audience(issuer, me, audience, reason):
    with pytest.raises(ValueError) as info:
        me.zelk.verify_tct(mint(issuer, me.aid), "read", expected_audience=audience)
    assert str(info.value) == f"bad expected_audience AID '{audience}': {reason}"


# ---- arguments --------------------------------------------------------------------------------

def note_of(info):
    return getattr(info.value, "__notes__", None)


@pytest.mark.parametrize("args, kwargs, exc, message, note", [
    ((b"t", "read"), {}, TypeError, "'bytes' object is not an instance of 'str'", "tct_token"),
    (("t", None), {}, TypeError, "'None' is not an instance of 'str'", "required_grant"),
    (("t", "read", 5), {}, TypeError, "'int' object is not an instance of 'str'",
     "expected_audience"),
    (("t", "read"), {"revoked_jtis": ["a"]}, TypeError, "'list' object is not an instance of 'set'",
     "revoked_jtis"),
    (("t", "read"), {"revoked_jtis": ("a",)}, TypeError,
     "'tuple' object is not an instance of 'set'", "revoked_jtis"),
    (("t", "read"), {"revoked_jtis": {"a": 1}}, TypeError,
     "'dict' object is not an instance of 'set'", "revoked_jtis"),
    (("t", "read"), {"revoked_jtis": "a"}, TypeError, "'str' object is not an instance of 'set'",
     "revoked_jtis"),
    (("t", "read"), {"revoked_jtis": {}.keys()}, TypeError,
     "'dict_keys' object is not an instance of 'set'", "revoked_jtis"),
    (("t", "read"), {"revoked_jtis": {1}}, TypeError, "'int' object is not an instance of 'str'",
     "revoked_jtis"),
    (("t", "read"), {"revoked_jtis": frozenset({None})}, TypeError,
     "'None' is not an instance of 'str'", "revoked_jtis"),
    (("t\ud800", "read"), {}, UnicodeEncodeError, None, "tct_token"),
    (("t", "read"), {"revoked_jtis": {"\udfff"}}, UnicodeEncodeError, None, "revoked_jtis"),
    ((), {}, TypeError, "ZelkAgent.verify_tct() missing 2 required positional arguments: "
                        "'tct_token' and 'required_grant'", None),
    (("t",), {"tct_token": "t"}, TypeError,
     "ZelkAgent.verify_tct() got multiple values for argument 'tct_token'", None),
    (("t", "r"), {"audience": "x"}, TypeError,
     "ZelkAgent.verify_tct() got an unexpected keyword argument 'audience'", None),
    (("t", "r", None, None, None), {}, TypeError,
     "ZelkAgent.verify_tct() takes from 2 to 4 positional arguments but 5 were given", None),
])
def test_argument_errors(me, args, kwargs, exc, message, note):
    with pytest.raises(exc) as info:
        me.zelk.verify_tct(*args, **kwargs)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    assert note_of(info) == ([f"while processing '{note}'"] if note else None)


def test_wrong_types_are_reported_before_the_token_is_read(me):
    # The token is malformed, but the revoked set is refused first: extraction precedes decoding.
    with pytest.raises(TypeError) as info:
        me.zelk.verify_tct("x", "read", revoked_jtis=[1])
    assert str(info.value) == "'list' object is not an instance of 'set'"
    assert note_of(info) == ["while processing 'revoked_jtis'"]


def test_subclasses_are_accepted(issuer, me):
    class S(str):
        pass

    class RevSet(set):
        pass

    jti = str(uuid.uuid4())
    token = mint(issuer, me.aid, jti=jti)
    assert me.zelk.verify_tct(S(token), S("read"), S(me.aid), RevSet({S("x")})).jti == jti
    refused(me, token, "TCT jti is revoked", revoked=RevSet({S(jti)}))


@pytest.mark.parametrize("kind, prefix", [(set, "set should always be iterable: "),
                                          (frozenset, "frozenset should always be iterable: ")])
def test_set_that_cannot_be_iterated_is_a_broken_invariant(me, kind, prefix):
    class Broken(kind):
        def __iter__(self):
            raise KeyError("boom")

    with pytest.raises(BaseException) as info:
        me.zelk.verify_tct("x.y.z", "read", revoked_jtis=Broken({"a"}))
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert str(info.value) == prefix + "KeyError: 'boom'"


def test_set_whose_iteration_fails_midway(me):
    class Broken(set):
        def __iter__(self):
            yield "a"
            raise OSError("gone")

    with pytest.raises(BaseException) as info:
        me.zelk.verify_tct("x.y.z", "read", revoked_jtis=Broken())
    assert type(info.value).__name__ == "PanicException"
    assert str(info.value) == "set iteration should be infallible: OSError: gone"


def test_agent_needs_no_manifest_and_is_unchanged(issuer):
    key = Key("p256")
    agent = key.agent()
    for _ in range(2):
        assert agent.verify_tct(mint(issuer, agent.aid), "read").peer_aid == issuer.aid


# ---- borrows ----------------------------------------------------------------------------------

def reentering_set(calls, seen):
    """A revoked set whose iteration, run while the call holds its borrows, reaches the same
    objects again and records what each attempt gave."""

    class Reentrant(set):
        def __iter__(self):
            for call in calls:
                try:
                    result = call()
                    seen.append("ok" if result is not None else "None")
                except RuntimeError as e:
                    seen.append(str(e))
            return iter(())

    return Reentrant()


@pytest.mark.parametrize("cached", [False, True])
def test_verification_borrows_agent_and_store_shared(issuer, cached):
    agent = Key().agent()
    store = zelk.TctStore(4)
    token = mint(issuer, agent.aid)
    seen = []
    revoked = reentering_set([
        lambda: agent.aid,
        lambda: store.len(),
        lambda: agent.verify_tct(token, "read"),
        lambda: agent.build_manifest("A", "https://a.example/", []),
    ], seen)
    if cached:
        identity = agent.verify_tct_cached(token, "read", store, revoked_jtis=revoked)
    else:
        identity = agent.verify_tct(token, "read", revoked_jtis=revoked)
    assert identity.peer_aid == issuer.aid
    assert seen == ["ok", "ok", "ok", "Already borrowed"]
    # Every borrow was given back.
    assert agent.build_manifest("A", "https://a.example/", [])


def test_busy_agent_is_reported_before_argument_errors():
    agent = Key().agent()
    store = zelk.TctStore(4)
    seen = []
    # A sequence converted while build_manifest holds the agent exclusively.
    caps = ReentrantCaps([lambda: agent.verify_tct(b"not text", None),
                          lambda: agent.verify_tct_cached(b"not text", None, {}),
                          lambda: store.len()], seen, (RuntimeError, TypeError), named)
    agent.build_manifest("A", "https://a.example/", caps)
    assert seen == ["RuntimeError: Already mutably borrowed",
                    "RuntimeError: Already mutably borrowed", 0]
