"""Resident memory stays flat over many agents, Manifests and verifications.

Each loop is warmed up first, so allocator pools and the interpreter's caches have settled before
the first reading of /proc/self/statm.
"""

import json
import os

import pytest

import zelk

PAGE = os.sysconf("SC_PAGE_SIZE")
SEED = bytes.fromhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60")
ENDPOINT = "https://agent.example/zelk/handshake/hello"
# Small enough to catch a leak of a few dozen bytes per iteration over 100 000 of them.
SLACK = 512 * 1024

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")


def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def grows_by(step, iterations, warm_up):
    for _ in range(warm_up):
        step()
    before = resident()
    for _ in range(iterations):
        step()
    return resident() - before


def build_and_verify():
    agent = zelk.ZelkAgent.from_seed(SEED)
    text = agent.build_manifest("Leak check", ENDPOINT, ["cap.a", "cap.b"], ["cap.c"])
    zelk.verify_manifest_json(text)


def test_build_and_verify_keeps_memory_flat():
    assert grows_by(build_and_verify, 100_000, 2_000) < SLACK


AGENT = zelk.ZelkAgent.from_seed(SEED)
GOOD = AGENT.build_manifest("Leak check", ENDPOINT, ["cap"])
OLD_VERSION = GOOD.replace('"version":"zelk/0.2"', '"version":"zelk/0.1"')
BAD_SIGNATURE = json.dumps(dict(json.loads(GOOD)["manifest"], signature="x"))


def failing_calls():
    # Every failure path: raised errors with codes and notes, and values built then dropped.
    for call in (lambda: zelk.verify_manifest_json(OLD_VERSION),
                 lambda: zelk.verify_manifest_json('{"manifest":' + BAD_SIGNATURE + "}"),
                 lambda: zelk.verify_manifest_json(GOOD[:-1]),
                 lambda: zelk.verify_manifest_json(GOOD, "now"),
                 lambda: zelk.compute_aid_jkt("aid:pubkey:short"),
                 lambda: AGENT.build_manifest("A", "no scheme", ["cap"]),
                 lambda: AGENT.build_manifest("A", ENDPOINT, ["cap"], identity_type="other"),
                 lambda: AGENT.build_manifest("A", ENDPOINT, ["cap", None])):
        try:
            call()
        except (ValueError, TypeError, RuntimeError):
            pass
    zelk.compute_aid_jkt(AGENT.aid)


def test_failure_paths_keep_memory_flat():
    assert grows_by(failing_calls, 20_000, 2_000) < SLACK



def bundle_round():
    # A builder over the agent's key, a bundle, and verification with callables that revoke,
    # raise and answer with objects the check has to look at and drop.
    from tct_tokens import mint

    member = BUNDLE_MEMBER
    token = mint(BUNDLE_COORDINATOR, member.aid)
    text = (zelk.SessionBundleBuilder(BUNDLE_AGENT).participant(member.aid, token)
            .participant(member.aid, token).build())
    for check in (lambda jti: True, lambda jti: 1 / 0, lambda jti: [jti], {"not callable"}):
        zelk.verify_session_bundle(text, member.aid, None, check)
    try:
        zelk.verify_session_bundle(text, BUNDLE_COORDINATOR.aid)
    except RuntimeError:
        pass


def _bundle_keys():
    from tct_tokens import Key

    coordinator = Key()
    return coordinator, coordinator.agent(), Key()


BUNDLE_COORDINATOR, BUNDLE_AGENT, BUNDLE_MEMBER = _bundle_keys()


def test_session_bundles_hold_no_python_objects():
    # Python's allocator grows in whole arenas, too coarse for resident memory over a loop this
    # short; what the callable handling could leak is Python objects, which tracemalloc counts.
    # Blocks made before tracing and reallocated during it are counted whole, so the first
    # traced rounds are warm-up too.
    import tracemalloc

    tracemalloc.start()
    try:
        for _ in range(2_000):
            bundle_round()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(2_000):
            bundle_round()
        grew = tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
    # 2 000 rounds hand over 10 000 callables and 20 000 token identifiers: a lost reference
    # to any of them per round would show as hundreds of kilobytes.
    assert grew < 32 * 1024, grew
# ---- handshakes ------------------------------------------------------------------------------

from handshake_agents import Handshake, IdentityProvider, Party  # noqa: E402

IDP = IdentityProvider()
PROVIDER = IDP.provider()
PINNED_A, PINNED_B = Party("Alice", idp=IDP), Party("Bob", idp=IDP)
OIDC = Party("Olivia", "ed25519", "oidc", idp=IDP)
PAIRS = [(PINNED_A, PINNED_B), (OIDC, PINNED_B)]
ROUND = [0]


def one_handshake():
    # New sessions every time, pinned-key and OIDC proofs in turn.
    ROUND[0] += 1
    initiator, responder = PAIRS[ROUND[0] % 2]
    Handshake(initiator, responder, jwks=PROVIDER).run()


def test_complete_handshakes_keep_memory_flat():
    assert grows_by(one_handshake, 20_000, 1_000) < SLACK


class Unprintable(Exception):
    def __str__(self):
        raise ValueError("no text")


HELD = Handshake(OIDC, PINNED_B, jwks=PROVIDER)
HELD.run()


def failing_handshake_calls():
    session = OIDC.agent.new_session(jwks=PROVIDER)

    def reenter(nonce):
        session.build_hello(PINNED_B.manifest, [])

    def unprintable(nonce):
        raise Unprintable("minter " * 20)

    for call in (lambda: session.build_hello(PINNED_B.manifest, [], reenter),
                 lambda: session.build_hello(PINNED_B.manifest, [], unprintable),
                 lambda: session.build_hello(PINNED_B.manifest, [], lambda n: 42),
                 lambda: session.build_hello(PINNED_B.manifest, [], lambda n: "\ud800"),
                 lambda: session.build_hello(PINNED_B.manifest, [], 7),
                 lambda: session.build_hello(PINNED_B.manifest, []),
                 lambda: session.build_hello("{", []),
                 lambda: session.process_hello_ack(HELD.hello_ack_json, ""),
                 lambda: session.complete(HELD.commit_ack_json[:-1]),
                 lambda: HELD.responder.process_commit(HELD.commit_json),
                 lambda: zelk.JwksProvider({"https://x/": [{"kty": "EC", "crv": "P-256"}]}),
                 lambda: zelk.JwksProvider({"https://x/": [{"kty": b"EC" * 20}]}),
                 lambda: PROVIDER.upsert("https://x/", [{"kty": "EC", "n": float("nan")}]),
                 lambda: zelk.JwksProvider({"\ud800" * 20: []}),
                 lambda: PINNED_A.agent.new_session(trust_anchors=["https://ok/", "bad"])):
        try:
            call()
        except (ValueError, TypeError, RuntimeError):
            pass
    PROVIDER.upsert("https://other.example/", [IDP.jwk])
    PROVIDER.remove("https://other.example/")


def test_failing_handshake_calls_keep_memory_flat():
    assert grows_by(failing_handshake_calls, 5_000, 500) < SLACK
JTI = "6f1c2a7e-8d3b-4c5a-9e0f-1a2b3c4d5e6f"
REVOCATIONS = AGENT.sign_revocation_list([{"jti": JTI, "reason": "r"}])


def revocation_and_pinning_calls():
    # Success and failure paths of revocation lists, SPKI pins and renewal requests.
    listed = AGENT.sign_revocation_list([{"jti": JTI, "revoked_at": 1, "reason": "lost"}])
    zelk.verify_revocation_list(listed, AGENT.aid)
    zelk.revocation_signing_bytes(listed)
    for call in (lambda: zelk.verify_revocation_list(REVOCATIONS, AGENT.aid, 2**62),
                 lambda: zelk.verify_revocation_list(REVOCATIONS[:-2], AGENT.aid),
                 lambda: zelk.verify_revocation_list(REVOCATIONS, "aid:x"),
                 lambda: zelk.revocation_signing_bytes("[]"),
                 lambda: AGENT.sign_revocation_list([{"jti": "bad"}]),
                 lambda: AGENT.sign_revocation_list([{"jti": JTI, "revoked_at": "x"}]),
                 lambda: zelk.compute_spki_hash(b"\x30\x03\x02\x01\x01"),
                 lambda: zelk.SpkiPinVerifier([b"x" * 31]),
                 lambda: zelk.SpkiPinVerifier([[300] * 32]),
                 lambda: AGENT.process_renewal_request(
                     AGENT.build_renewal_request("a.b.c"), 2**62, 60),
                 lambda: AGENT.process_renewal_request('{"x":1}', 2**62, 60)):
        try:
            call()
        except (ValueError, TypeError, OverflowError, RuntimeError):
            pass
    zelk.SpkiPinVerifier([bytes(32)] * 4).len


def test_revocation_pinning_and_renewal_keep_memory_flat():
    assert grows_by(revocation_and_pinning_calls, 10_000, 1_000) < SLACK
def delegation_round():
    # Built, verified in one hop and along a chain, a TCT issued; then refusals of each kind.
    import time

    from delegation_tokens import Parties

    parties = Parties(int(time.time()) + 3600)
    outer, _ = parties.chain(1)
    holder = parties.alice.agent()
    grantor = parties.grantor.agent()
    revoked = {parties.voucher_claims["src_jti"]}

    def step():
        token = holder.build_delegation(parties.voucher, parties.bob.aid, ["read"])
        verified = zelk.verify_delegation(token, parties.grantor.aid)
        grantor.issue_tct_for_delegatee(verified)
        zelk.verify_delegation_multihop(outer, parties.grantor.aid, revoked_jtis=set())
        for call in (lambda: zelk.verify_delegation(outer, parties.grantor.aid),
                     lambda: zelk.verify_delegation_multihop(outer, parties.grantor.aid,
                                                             revoked_jtis=revoked),
                     lambda: zelk.verify_delegation(token, "aid:x"),
                     lambda: holder.build_delegation("a.b", parties.bob.aid, ["read"]),
                     lambda: holder.build_delegation(parties.voucher, parties.bob.aid, ["x"])):
            try:
                call()
            except (ValueError, RuntimeError):
                pass

    return step


def test_delegation_keeps_memory_flat():
    assert grows_by(delegation_round(), 3_000, 300) < SLACK
