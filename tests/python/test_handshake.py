"""Handshake sessions from Python: complete handshakes, argument and decoding errors, calls out of
order, the oidc_mint_jwt callback and JwksProvider changes seen by live sessions."""

import json
import threading

import pytest

import zelk
from handshake_agents import ENDPOINT, ISSUER, Handshake, IdentityProvider, Party
from reentry import ReentrantCaps, record

PARTIES = [("ed25519", "pinned_key"), ("ed25519", "oidc"), ("p256", "oidc")]


@pytest.fixture(scope="module")
def idp():
    return IdentityProvider()


@pytest.fixture
def provider(idp):
    return idp.provider()


@pytest.fixture
def pinned_pair(idp):
    return Party("Alice", idp=idp), Party("Bob", idp=idp)


def started(initiator, responder, jwks=None, upto="hello"):
    h = Handshake(initiator, responder, jwks=jwks)
    for step in ("hello", "hello_ack", "commit", "commit_ack", "complete"):
        getattr(h, step)()
        if step == upto:
            return h
    return h


def envelope(text):
    return json.loads(text)


def with_payload(text, payload):
    env = json.loads(text)
    env["payload"] = payload
    return json.dumps(env)


def raises(exc, message, fn, *args, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    return info.value


# ---- complete handshakes ---------------------------------------------------------------------


@pytest.mark.parametrize("initiator", PARTIES, ids="-".join)
@pytest.mark.parametrize("responder", PARTIES, ids="-".join)
def test_complete_handshake_for_every_pairing(idp, provider, initiator, responder):
    alice = Party("Alice", *initiator, idp=idp, offered=["calendar.read", "mail.send"],
                  required=["files:read"])
    bob = Party("Bob", *responder, idp=idp, offered=["files:read", "files:write", "x"],
                required=["mail.send"])
    h = Handshake(alice, bob, jwks=provider, grants=["files:read", "x", "not-offered"])
    by_initiator, by_responder = h.run()
    assert list(by_initiator) == ["tct", "grant_voucher"]
    assert list(by_responder) == ["tct", "grant_voucher"]

    # What Alice received was issued by Bob: the grants she asked for that Bob offers.
    identity = alice.agent.verify_tct(by_initiator["tct"], "files:read")
    assert identity.peer_aid == bob.aid and identity.grants == ["files:read", "x"]
    # Bob asked for everything Alice offers.
    identity = bob.agent.verify_tct(by_responder["tct"], "mail.send")
    assert identity.peer_aid == alice.aid and identity.grants == ["calendar.read", "mail.send"]
    assert by_initiator["grant_voucher"].count(".") == 2
    assert by_responder["grant_voucher"].count(".") == 2

    # The messages as sent: signed envelopes of the four types, from the right senders.
    for text, kind, sender in ((h.hello_json, "mutual_hello", alice),
                               (h.hello_ack_json, "mutual_hello_ack", bob),
                               (h.commit_json, "mutual_commit", alice),
                               (h.commit_ack_json, "mutual_commit_ack", bob)):
        env = envelope(text)
        assert env["message_type"] == kind and env["sender"] == {"agent_id": sender.aid}
        assert env["version"] == "zelk/0.2" and "extensions" not in env
    hello = envelope(h.hello_json)["payload"]
    assert list(hello) == ["identity", "manifest", "requested_grants", "pop_nonce"]
    assert hello["requested_grants"] == ["files:read", "x", "not-offered"]
    assert len(hello["pop_nonce"]) == 22
    assert hello["identity"]["type"] == initiator[1]
    ack = envelope(h.hello_ack_json)["payload"]
    assert list(ack) == ["identity", "manifest", "requested_grants", "pop_nonce", "pop_nonce_echo"]
    assert ack["requested_grants"] == ["calendar.read", "mail.send"]
    assert ack["pop_nonce_echo"] == hello["pop_nonce"]
    commit = envelope(h.commit_json)["payload"]
    assert list(commit) == ["tct", "grant_voucher", "pop_signature", "pop_nonce_echo"]
    assert commit["tct"] == by_responder["tct"]
    assert envelope(h.commit_ack_json)["payload"]["tct"] == by_initiator["tct"]
    uuid = h.session_id
    assert len(uuid) == 36 and uuid[14] == "4" and uuid == uuid.lower()


@pytest.mark.parametrize("alg, bits", [("EdDSA", 0), ("ES256", 0), ("RS256", 2048),
                                        ("RS256", 4096)])
def test_pyjwt_tokens_of_each_algorithm_are_accepted(alg, bits):
    idp = IdentityProvider(alg, bits or 2048)
    alice = Party("Alice", "p256", "oidc", idp=idp)
    bob = Party("Bob", "ed25519", "oidc", idp=idp)
    h = Handshake(alice, bob, jwks=idp.provider())
    h.run()
    # PyJWT's own header, members in its order, reached the responder unchanged.
    token = envelope(h.hello_json)["payload"]["identity"]["proof"]
    import base64
    head = json.loads(base64.urlsafe_b64decode(token.split(".")[0] + "=="))
    assert list(head.items()) == [("alg", alg), ("kid", "idp-key-1"), ("typ", "JWT")]


def test_sessions_are_reusable_and_independent(pinned_pair):
    alice, bob = pinned_pair
    h = Handshake(alice, bob)
    h.run()
    # A complete session starts afresh with another hello.
    h.run()
    # Two hellos of one session differ in every drawn value.
    first, second = envelope(h.hello()), envelope(h.hello())
    assert first["message_id"] != second["message_id"]
    assert first["payload"]["pop_nonce"] != second["payload"]["pop_nonce"]
    assert first["signature"] != second["signature"]


def test_session_keeps_the_manifest_it_was_made_with(pinned_pair):
    alice, bob = pinned_pair
    early = alice.agent.new_session()
    alice.agent.build_manifest("Alice again", ENDPOINT, ["other"])
    late = alice.agent.new_session()
    aid_of = lambda text: envelope(text)["payload"]["manifest"]["display_name"]  # noqa: E731
    assert aid_of(early.build_hello(bob.manifest, [])) == "Alice"
    assert aid_of(late.build_hello(bob.manifest, [])) == "Alice again"


# ---- session creation ------------------------------------------------------------------------


def test_new_session_needs_a_built_manifest():
    agent = zelk.ZelkAgent.generate()
    for make in (agent.new_session, agent.new_responder):
        raises(RuntimeError, "call build_manifest() before creating a session", make,
               trust_anchors=["not a url"])


def test_new_session_arguments(pinned_pair):
    agent = pinned_pair[0].agent
    err = raises(TypeError, "'int' object is not an instance of 'JwksProvider'",
                 agent.new_session, 5)
    assert getattr(err, "__notes__", ["while processing 'jwks'"]) == ["while processing 'jwks'"]
    raises(TypeError, "Can't extract `str` to `Vec`", agent.new_responder, None, "https://x/")
    raises(ValueError, "invalid trust anchor URL: relative URL without a base",
           agent.new_session, trust_anchors=["https://idp.example/", "idp.example"])
    raises(TypeError, "ZelkAgent.new_session() takes from 0 to 2 positional arguments but 3 were"
           " given", agent.new_session, None, None, None)
    raises(TypeError, "ZelkAgent.new_responder() got an unexpected keyword argument 'x'",
           agent.new_responder, x=1)
    assert type(agent.new_session(trust_anchors=())) is zelk.InitiatorSession
    assert type(agent.new_responder(None, None)) is zelk.ResponderSession


def test_session_trust_anchors_decide_which_oidc_issuers_pass(idp, provider):
    alice = Party("Alice", "ed25519", "oidc", idp=idp)
    bob = Party("Bob", idp=idp)  # accepts ISSUER through its Manifest
    Handshake(alice, bob, jwks=provider).run()
    # Given anchors replace the Manifest's; an empty list refuses every OIDC peer.
    for anchors in ([], ["https://other.example/"]):
        h = Handshake(alice, bob, jwks=provider)
        h.responder = bob.agent.new_responder(jwks=provider, trust_anchors=anchors)
        h.hello()
        raises(RuntimeError, "incompatible trust anchors", h.hello_ack)
    # Anchors are kept in their serialised form.
    h = Handshake(alice, bob, jwks=provider)
    h.responder = bob.agent.new_responder(jwks=provider, trust_anchors=["HTTPS://IDP.example"])
    h.hello()
    h.hello_ack()


# ---- argument and decoding errors ------------------------------------------------------------


def test_method_argument_errors(pinned_pair):
    alice, bob = pinned_pair
    h = started(alice, bob, upto="hello_ack")
    cases = [
        (h.initiator.build_hello, (5, []), TypeError,
         "'int' object is not an instance of 'str'", "peer_manifest_json"),
        (h.initiator.build_hello, (bob.manifest, "files:read"), TypeError,
         "Can't extract `str` to `Vec`", "requested_grants"),
        (h.initiator.build_hello, (bob.manifest, {"a"}), TypeError,
         "'set' object is not an instance of 'Sequence'", "requested_grants"),
        (h.initiator.process_hello_ack, (h.hello_ack_json, None), TypeError,
         "'None' is not an instance of 'str'", "_session_id"),
        (h.initiator.complete, (b"{}",), TypeError,
         "'bytes' object is not an instance of 'str'", "commit_ack_json"),
        (h.responder.process_hello, (None,), TypeError,
         "'None' is not an instance of 'str'", "hello_json"),
        (h.responder.process_commit, (1.5,), TypeError,
         "'float' object is not an instance of 'str'", "commit_json"),
    ]
    for fn, args, exc, message, name in cases:
        err = raises(exc, message, fn, *args)
        assert getattr(err, "__notes__", [f"while processing '{name}'"]) == [
            f"while processing '{name}'"]
    raises(TypeError, "InitiatorSession.build_hello() missing 2 required positional arguments: "
           "'peer_manifest_json' and 'requested_grants'", h.initiator.build_hello)
    raises(TypeError, "InitiatorSession.process_hello_ack() missing 1 required positional "
           "argument: '_session_id'", h.initiator.process_hello_ack, "x")
    raises(TypeError, "ResponderSession.process_commit() takes 1 positional arguments but 2 were "
           "given", h.responder.process_commit, "a", "b")
    raises(TypeError, "ResponderSession.process_hello() got multiple values for argument "
           "'hello_json'", h.responder.process_hello, "a", hello_json="b")
    # None of this touched the sessions: the handshake goes on.
    h.commit(), h.commit_ack(), h.complete()
    # A tuple of grants and any str as the unused session id are fine.
    h.hello_json = h.initiator.build_hello(bob.manifest, ("files:read",))
    h.hello_ack()
    h.initiator.process_hello_ack(h.hello_ack_json, "")


def test_decoding_errors_have_their_prefixes(pinned_pair):
    alice, bob = pinned_pair
    h = started(alice, bob, upto="commit_ack")
    bad_json = "{"
    prefix_cases = [
        (h.initiator.build_hello, (bad_json, []), "invalid peer manifest JSON: "),
        (h.initiator.process_hello_ack, (bad_json, ""), "invalid envelope JSON: "),
        (h.initiator.complete, (bad_json,), "invalid envelope JSON: "),
        (h.responder.process_hello, (bad_json,), "invalid envelope JSON: "),
        (h.responder.process_commit, (bad_json,), "invalid envelope JSON: "),
        (h.initiator.process_hello_ack, (with_payload(h.hello_ack_json, {}), ""),
         "invalid hello_ack payload: "),
        (h.initiator.complete, (with_payload(h.commit_ack_json, 5),), "invalid commit_ack payload: "),
        (h.responder.process_hello, (with_payload(h.hello_json, []),), "invalid hello payload: "),
        (h.responder.process_commit, (with_payload(h.commit_json, {"tct": "x"}),),
         "invalid commit payload: "),
    ]
    for fn, args, prefix in prefix_cases:
        with pytest.raises(ValueError) as info:
            fn(*args)
        assert str(info.value).startswith(prefix), str(info.value)
        if "JSON" in prefix:
            assert " at line 1 column " in str(info.value)
    # The session still completes: nothing failed after decoding.
    h.complete()


def test_payload_array_forms(pinned_pair):
    alice, bob = pinned_pair
    h = started(alice, bob, upto="hello")
    hello = envelope(h.hello_json)["payload"]
    as_array = [hello[k] for k in ("identity", "manifest", "requested_grants", "pop_nonce")]
    # Four elements read as a hello without extensions.
    ack, _ = h.responder.process_hello(with_payload(h.hello_json, as_array))
    for count, expected in ((3, "invalid length 3, expected struct MutualHelloPayload with 5 "
                                "elements"),
                            (6, "invalid length 6, expected fewer elements in array")):
        items = (as_array + [None, None])[:count]
        with pytest.raises(ValueError) as info:
            h.responder.process_hello(with_payload(h.hello_json, items))
        assert str(info.value) == "invalid hello payload: " + expected
    payload = envelope(ack)["payload"]
    members = ["identity", "manifest", "requested_grants", "pop_nonce", "pop_nonce_echo"]
    items = [payload[k] for k in members]
    for count, expected in ((4, "invalid length 4, expected struct MutualHelloAckPayload with 6 "
                                "elements"),
                            (7, "invalid length 7, expected fewer elements in array")):
        with pytest.raises(ValueError) as info:
            h.initiator.process_hello_ack(with_payload(ack, (items + [None, None])[:count]), "")
        assert str(info.value) == "invalid hello_ack payload: " + expected
    h.initiator.process_hello_ack(with_payload(ack, items), "")


# ---- calls out of order and failed states ---------------------------------------------------


def test_calls_out_of_order(pinned_pair):
    alice, bob = pinned_pair
    done = started(alice, bob, upto="complete")
    fresh = Handshake(alice, bob)
    raises(RuntimeError, "call build_hello() first", fresh.initiator.process_hello_ack,
           done.hello_ack_json, "")
    raises(RuntimeError, "call process_hello_ack() first", fresh.initiator.complete,
           done.commit_ack_json)
    raises(RuntimeError, "call process_hello() first", fresh.responder.process_commit,
           done.commit_json)
    # Malformed input is reported before the empty state.
    with pytest.raises(ValueError):
        fresh.initiator.process_hello_ack("[]", "")

    fresh.hello()
    raises(RuntimeError, "handshake state error: on_commit_ack out of order",
           fresh.initiator.complete, done.commit_ack_json)
    raises(RuntimeError, "handshake state error: on_hello_ack out of order",
           done.initiator.process_hello_ack, done.hello_ack_json, "")
    raises(RuntimeError, "handshake state error: on_commit out of order",
           done.responder.process_commit, done.commit_json)


def test_mismatches_fail_the_session_until_a_new_hello(pinned_pair, idp):
    alice, bob = pinned_pair
    carol = Party("Carol", idp=idp)
    h = started(alice, bob, upto="hello_ack")
    # An answer from another agent than the one named in build_hello.
    other = started(alice, carol, upto="hello_ack")
    raises(RuntimeError, "invalid envelope: HELLO_ACK sender AID does not match the intended "
           "peer", h.initiator.process_hello_ack, other.hello_ack_json, "")
    raises(RuntimeError, "handshake state error: on_hello_ack out of order", h.commit)
    # A second hello replaces the first: the answer to the first fails the nonce echo.
    h.hello()
    stale = h.hello_ack_json
    raises(RuntimeError, "nonce mismatch", h.initiator.process_hello_ack, stale, "")
    raises(RuntimeError, "handshake state error: on_hello_ack out of order", h.commit)
    h.hello(), h.hello_ack(), h.commit()
    # A commit from another sender fails the responder's session.
    forged = envelope(h.commit_json)
    forged["sender"]["agent_id"] = carol.aid
    raises(RuntimeError, "invalid envelope: commit sender mismatch",
           h.responder.process_commit, json.dumps(forged))
    raises(RuntimeError, "handshake state error: on_commit out of order", h.commit_ack)


def test_bad_proofs_leave_the_session_ready_for_a_corrected_message(pinned_pair):
    alice, bob = pinned_pair
    h = started(alice, bob, upto="commit")
    good = h.commit_json
    forged = envelope(good)
    sig = forged["payload"]["pop_signature"]
    forged["payload"]["pop_signature"] = ("A" if sig[0] != "A" else "B") + sig[1:]
    raises(RuntimeError, "pop signature verification failed", h.responder.process_commit,
           json.dumps(forged))
    h.commit_ack()
    ack = envelope(h.commit_ack_json)
    sig = ack["payload"]["pop_signature"]
    ack["payload"]["pop_signature"] = ("A" if sig[0] != "A" else "B") + sig[1:]
    raises(RuntimeError, "pop signature verification failed", h.initiator.complete,
           json.dumps(ack))
    # Envelope signature, version and message type are not what is judged.
    ack = envelope(h.commit_ack_json)
    ack.update(signature="forged", version="zelk/9", message_type="error")
    result = json.loads(h.initiator.complete(json.dumps(ack)))
    assert result["tct"] == envelope(h.commit_ack_json)["payload"]["tct"]


def test_missing_voucher_is_written_as_null(pinned_pair):
    alice, bob = pinned_pair
    h = started(alice, bob, upto="commit")
    commit = envelope(h.commit_json)
    del commit["payload"]["grant_voucher"]
    _, received = h.responder.process_commit(json.dumps(commit))
    assert json.loads(received) == {"tct": commit["payload"]["tct"], "grant_voucher": None}
    ack = envelope(_)
    ack["payload"]["grant_voucher"] = None
    assert json.loads(h.initiator.complete(json.dumps(ack)))["grant_voucher"] is None


def test_refusals_of_the_core_reach_python(pinned_pair, idp):
    alice, bob = pinned_pair
    # Nothing Alice asks for is offered by Bob: Bob refuses at the commit, and stays ready.
    h = started(alice, bob, upto="commit")
    h.grants = ["nothing-offered"]
    h.hello(), h.hello_ack(), h.commit()
    for _ in range(2):
        raises(RuntimeError, "policy denies handshake (empty grant intersection)", h.commit_ack)
    # Alice offers nothing that Bob could ask for: Alice refuses to issue his TCT.
    h = started(Party("Dave", idp=idp, offered=[]), bob, upto="hello_ack")
    raises(RuntimeError, "policy denies handshake (empty grant intersection)", h.commit)
    # Bob requires a grant Alice's TCT does not carry.
    demanding = Party("Erin", idp=idp, required=["files:admin"])
    h = started(alice, demanding, upto="commit")
    raises(RuntimeError, "insufficient grants in peer-issued TCT", h.commit_ack)
    # build_hello does not verify the peer's Manifest; the expired one fails when presented.
    expired = bob.agent.build_manifest("Bob", ENDPOINT, ["files:read"], ttl_secs=-10)
    h = Handshake(alice, bob)
    h.hello_json = h.initiator.build_hello(expired, ["files:read"])
    h.responder = bob.agent.new_responder()
    h.hello_ack()
    with pytest.raises(RuntimeError) as info:
        h.commit()
    assert str(info.value).startswith("manifest verification failed: ")
    raises(RuntimeError, "handshake state error: on_hello_ack out of order", h.commit)


# ---- the oidc_mint_jwt callback -------------------------------------------------------------


class Unprintable(Exception):
    def __str__(self):
        raise RuntimeError("no")


def proof_failure(text):
    return "identity verification failed: oidc mint_jwt callback failed: " + text


@pytest.mark.parametrize("side", ["initiator", "responder"])
def test_minter_failure_forms(idp, provider, side):
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)

    def boom(nonce):
        raise ValueError("boom")

    def unprintable(nonce):
        raise Unprintable()

    cases = [
        (boom, proof_failure("oidc_mint_jwt raised: ValueError: boom")),
        (unprintable,
         proof_failure("oidc_mint_jwt raised: Unprintable: <exception str() failed>")),
        (lambda nonce: 42, proof_failure(
            "oidc_mint_jwt must return str: TypeError: 'int' object is not an instance of 'str'")),
        (lambda nonce: "\ud800", proof_failure(
            "oidc_mint_jwt must return str: UnicodeEncodeError: 'utf-8' codec can't encode "
            "character '\\ud800' in position 0: surrogates not allowed")),
        (7, proof_failure("oidc_mint_jwt raised: TypeError: 'int' object is not callable")),
    ]
    for minter, message in cases:
        if side == "initiator":
            h = Handshake(oidc, pinned, jwks=provider)
            raises(RuntimeError, message, h.initiator.build_hello, pinned.manifest, [], minter)
            raises(RuntimeError, "call build_hello() first", h.initiator.process_hello_ack,
                   started(oidc, pinned, provider, "hello_ack").hello_ack_json, "")
        else:
            h = started(pinned, oidc, provider, "hello")
            raises(RuntimeError, message, h.responder.process_hello, h.hello_json, minter)
            raises(RuntimeError, "call process_hello() first", h.responder.process_commit,
                   started(pinned, oidc, provider, "commit").commit_json)
    # Called with the nonce alone, as a str, once per proof.
    calls = []

    def recording(*args, **kwargs):
        calls.append((args, kwargs))
        return oidc.idp.token(oidc.subject, pinned.aid, oidc.aid, args[0])

    if side == "initiator":
        h = Handshake(oidc, pinned, jwks=provider)
        hello = h.initiator.build_hello(pinned.manifest, [], recording)
        nonce = envelope(hello)["payload"]["pop_nonce"]
    else:
        h = started(pinned, oidc, provider, "hello")
        ack, _ = h.responder.process_hello(h.hello_json, recording)
        nonce = envelope(ack)["payload"]["pop_nonce"]
    assert calls == [((nonce,), {})]


def test_an_empty_token_reaches_the_peer(idp, provider):
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    h = Handshake(oidc, pinned, jwks=provider)
    h.hello_json = h.initiator.build_hello(pinned.manifest, [], lambda nonce: "")
    assert envelope(h.hello_json)["payload"]["identity"]["proof"] == ""
    raises(RuntimeError, "identity verification failed: malformed JWT: expected 3 dot-separated "
           "segments, got 1", h.hello_ack)


def test_minter_presence_by_identity(idp, provider):
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    message = "agent manifest is OIDC; `oidc_mint_jwt` callable is required"
    session = oidc.agent.new_session(jwks=provider)
    raises(ValueError, message, session.build_hello, pinned.manifest, [])
    raises(ValueError, message, session.build_hello, pinned.manifest, [], None)
    # A malformed peer Manifest is reported first.
    with pytest.raises(ValueError) as info:
        session.build_hello("[", [])
    assert str(info.value).startswith("invalid peer manifest JSON: ")
    h = started(pinned, oidc, provider, "hello")
    raises(ValueError, message, h.responder.process_hello, h.hello_json)
    # A pinned-key agent never calls it, whatever it is.
    called = []
    h = Handshake(pinned, pinned, jwks=provider)
    h.initiator.build_hello(pinned.manifest, [], lambda n: called.append(n))
    h.hello_json = h.initiator.build_hello(pinned.manifest, [], "not callable")
    h.responder.process_hello(h.hello_json, 42)
    assert called == []


def test_minter_calling_back_into_its_session(idp, provider):
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    seen = []

    h = Handshake(oidc, pinned, jwks=provider)

    def reenter(nonce):
        record([lambda: h.initiator.build_hello(pinned.manifest, []),
                lambda: h.initiator.complete("{}")], seen)
        return oidc.idp.token(oidc.subject, pinned.aid, oidc.aid, nonce)

    h.hello_json = h.initiator.build_hello(pinned.manifest, ["files:read"], reenter)
    assert seen == ["Already borrowed", "Already borrowed"]

    def reenter_and_fail(nonce):
        h.initiator.build_hello(pinned.manifest, [])

    raises(RuntimeError, proof_failure("oidc_mint_jwt raised: RuntimeError: Already borrowed"),
           h.initiator.build_hello, pinned.manifest, [], reenter_and_fail)
    # The failed call left the earlier hello in place; the session is free again.
    h.hello_ack(), h.commit(), h.commit_ack(), h.complete()

    # On the responder side too; the agent itself is only borrowed shared meanwhile.
    r = started(pinned, oidc, provider, "hello")

    def reenter_responder(nonce):
        seen.append(oidc.agent.aid)
        try:
            r.responder.process_commit("{}")
        except RuntimeError as e:
            seen.append(str(e))
        return oidc.idp.token(oidc.subject, pinned.aid, oidc.aid, nonce)

    r.hello_ack_json, r.session_id = r.responder.process_hello(r.hello_json, reenter_responder)
    assert seen[-2:] == [oidc.aid, "Already borrowed"]
    r.commit(), r.commit_ack(), r.complete()


def panic_exception_type():
    class Shifty(dict):
        def items(self):
            outer["https://b.example/"] = []
            return super().items()

    outer = {"https://a.example/": [Shifty(kty="OKP", crv="Ed25519", x="A" * 43)]}
    with pytest.raises(BaseException) as info:
        zelk.JwksProvider(outer)
    assert type(info.value).__name__ == "PanicException"
    return type(info.value)


def test_a_panic_in_the_minter_propagates(idp, provider, capfd):
    panic = panic_exception_type()
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    session = oidc.agent.new_session(jwks=provider)

    def panicking(nonce):
        raise panic("deep trouble")

    with pytest.raises(panic) as info:
        session.build_hello(pinned.manifest, [], panicking)
    assert info.value.args == ("deep trouble",)
    err = capfd.readouterr().err
    assert "oidc_mint_jwt raised PanicException" in err and "deep trouble" in err
    # The session is free and unchanged.
    raises(RuntimeError, "call process_hello_ack() first", session.complete,
           started(oidc, pinned, provider, "commit_ack").commit_ack_json)


# ---- provider changes and sessions without a provider ---------------------------------------


def test_provider_changes_reach_live_sessions(idp):
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    provider = zelk.JwksProvider()
    h = Handshake(oidc, pinned, jwks=provider)
    h.hello()
    raises(RuntimeError, "issuer key resolution failed for https://idp.example/: issuer not "
           "trusted: https://idp.example/", h.hello_ack)
    provider.upsert("https://IDP.example", [idp.jwk])
    h.hello_ack()
    provider.remove(ISSUER)
    h.hello()
    raises(RuntimeError, "issuer key resolution failed for https://idp.example/: issuer not "
           "trusted: https://idp.example/", h.hello_ack)
    # Replaced keys: another key under the issuer no longer matches the token's.
    provider.upsert(ISSUER, [IdentityProvider().jwk])
    raises(RuntimeError, "identity verification failed: jwt signature invalid: signature "
           "verification failed", h.hello_ack)
    provider.upsert(ISSUER, [idp.jwk])
    h.hello_ack()
    # The session keeps the provider's map alive on its own.
    del provider
    h.hello(), h.hello_ack(), h.commit(), h.commit_ack(), h.complete()


def test_session_without_provider_checks_pinned_peers_only(idp, provider):
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    h = started(oidc, pinned, jwks=None, upto="hello")
    raises(RuntimeError, "issuer key resolution failed for https://idp.example/: could not "
           "resolve issuer keys: no JWKS resolver configured for this session (pinned-key only)",
           h.hello_ack)
    Handshake(pinned, Party("Quinn", idp=idp)).run()


def test_session_creation_while_the_agent_is_busy(pinned_pair):
    agent = pinned_pair[0].agent
    seen = []
    # build_manifest holds the agent exclusively while it reads its arguments.
    caps = ReentrantCaps([agent.new_session, agent.new_responder], seen)
    agent.build_manifest("Alice", ENDPOINT, caps)
    assert seen == ["Already mutably borrowed"] * 2
    agent.new_session()


def test_responder_answers_each_hello_afresh(pinned_pair, idp):
    alice, bob = pinned_pair
    h = started(alice, bob, upto="complete")
    h.hello()
    first, second = (h.responder.process_hello(h.hello_json) for _ in range(2))
    assert first[1] != second[1]
    a, b = envelope(first[0]), envelope(second[0])
    assert a["message_id"] != b["message_id"]
    assert a["payload"]["pop_nonce"] != b["payload"]["pop_nonce"]
    # A failing hello leaves the state where it was: here, a fresh answer awaiting the commit.
    stranger = Party("Mallory", idp=idp)
    bad = envelope(started(stranger, bob, upto="hello").hello_json)
    bad["sender"]["agent_id"] = alice.aid
    raises(RuntimeError, "invalid envelope: manifest.aid does not match sender.agent_id",
           h.responder.process_hello, json.dumps(bad))
    h.hello_ack_json, h.session_id = second
    h.commit(), h.commit_ack(), h.complete()
    raises(RuntimeError, "invalid envelope: manifest.aid does not match sender.agent_id",
           h.responder.process_hello, json.dumps(bad))
    raises(RuntimeError, "handshake state error: on_commit out of order", h.commit_ack)


# ---- other threads ---------------------------------------------------------------------------


def test_another_thread_meets_a_session_busy_in_its_minter(idp, provider):
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    h = Handshake(oidc, pinned, jwks=provider)
    entered, seen = threading.Event(), []

    def other():
        entered.wait()
        record([lambda: h.initiator.build_hello(pinned.manifest, []),
                lambda: h.initiator.complete("{}")], seen)

    thread = threading.Thread(target=other)

    def waiting_minter(nonce):
        entered.set()
        thread.join()  # lets the interpreter lock go while the other thread runs
        return oidc.idp.token(oidc.subject, pinned.aid, oidc.aid, nonce)

    thread.start()
    h.hello_json = h.initiator.build_hello(pinned.manifest, ["files:read"], waiting_minter)
    assert seen == ["Already borrowed", "Already borrowed"]
    h.hello_ack(), h.commit(), h.commit_ack(), h.complete()


def test_handshakes_in_threads_while_the_provider_changes(idp):
    provider = idp.provider()
    oidc = Party("Olivia", "ed25519", "oidc", idp=idp)
    pinned = Party("Pat", idp=idp)
    stop, failures = threading.Event(), []

    def churn():
        other = IdentityProvider(kid="other-key", issuer="https://other.example/").jwk
        while not stop.is_set():
            provider.upsert("https://other.example/", [other] * 8)
            provider.upsert(ISSUER, [other, idp.jwk])
            provider.remove("https://other.example/")

    def handshakes():
        try:
            for _ in range(25):
                Handshake(oidc, pinned, jwks=provider).run()
        except Exception as e:  # noqa: BLE001 - reported below
            failures.append(e)

    churner = threading.Thread(target=churn)
    workers = [threading.Thread(target=handshakes) for _ in range(4)]
    churner.start()
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    stop.set()
    churner.join()
    assert failures == []
    assert provider.issuers() == [ISSUER]
