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
