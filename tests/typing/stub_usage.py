"""Type-checked only (mypy --strict, in scripts/check-wheel), never run.

Each `type: ignore[...]` marks a call the stubs must refuse: with --strict an ignore that is not
needed is itself an error, so a stub that grew too lax fails the check.
"""

from typing import Literal

import zelk


def accepted(agent: zelk.ZelkAgent, store: zelk.TctStore, token: str) -> None:
    identity: zelk.TctIdentity = agent.verify_tct(token, "read", revoked_jtis=frozenset({"x"}))
    grants: list[str] = identity.grants
    expires: int = identity.expires_at
    cached = agent.verify_tct_cached(token, "read", store, None, {"x"})
    ack, session_id = agent.new_responder().process_hello("{}", lambda nonce: nonce)
    result = zelk.verify_session_bundle("{}", agent.aid, revocation_check=lambda jti: jti == "x")
    kind: Literal["clear", "degraded"] = result["kind"]
    pin: bytes = zelk.compute_spki_hash(b"")
    count: int = zelk.SpkiPinVerifier([pin, bytearray(32), [0] * 32]).len + store.len()
    builder = zelk.SessionBundleBuilder(agent).session_id("u").issued_at(0)
    envelope: str = builder.participant(agent.aid, token).build()
    print(grants, expires, cached, ack, session_id, kind, count, envelope)


# A `str` where a sequence of `str` is wanted, and a bytearray where bytes are, cannot be told apart
# by the type system; the module refuses both when called.
def refused(agent: zelk.ZelkAgent, token: str) -> None:
    zelk.ZelkAgent.from_seed("seed")  # type: ignore[arg-type]
    zelk.ZelkAgent.generate("rsa")  # type: ignore[arg-type]
    agent.build_manifest("A", "https://a.example", [], identity_type="x509")  # type: ignore[arg-type]
    agent.verify_tct(token.encode(), "read")  # type: ignore[arg-type]
    agent.verify_tct(token, "read", revoked_jtis=["x"])  # type: ignore[arg-type]
    agent.sign_revocation_list(({"jti": "x"},))  # type: ignore[arg-type]
    agent.aid = "aid"  # type: ignore[misc]


def codes(error: zelk.ManifestVerificationError, other: zelk.RevocationVerificationError) -> None:
    if error.code == "expired" or other.code == "issuer_mismatch":
        return
    if error.code == "issuer_mismatch":  # type: ignore[comparison-overlap]
        return
