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
