"""Type stubs of the zelk extension module (CPython 3.10 and later)."""

from collections.abc import Callable, Sequence
from typing import Any, Literal, TypedDict, final

_Suite = Literal["ed25519", "p256"]
_IdentityType = Literal["pinned_key", "oidc"]
_RevokedJtis = set[str] | frozenset[str] | None

class _BundleVerification(TypedDict):
    kind: Literal["clear", "degraded"]
    active_aids: list[str]
    dropped_aids: list[str]

__all__ = [
    "ZelkAgent",
    "InitiatorSession",
    "ResponderSession",
    "TctIdentity",
    "TctStore",
    "DelegationVerified",
    "JwksProvider",
    "verify_delegation",
    "verify_revocation_list",
    "revocation_signing_bytes",
    "ManifestVerificationError",
    "RevocationVerificationError",
    "verify_delegation_multihop",
    "verify_manifest_json",
    "compute_aid_jkt",
    "SessionBundleBuilder",
    "verify_session_bundle",
    "SpkiPinVerifier",
    "compute_spki_hash",
]

@final
class ZelkAgent:
    """A ZELK agent: its signing key and, once `build_manifest` has run, its signed
    Manifest."""

    @staticmethod
    def generate(suite: _Suite = "ed25519") -> ZelkAgent: ...
    @staticmethod
    def from_seed(seed: bytes, suite: _Suite = "ed25519") -> ZelkAgent: ...
    @property
    def aid(self) -> str:
        """The agent's AID string (`aid:pubkey:...`)."""
    def build_manifest(
        self,
        display_name: str,
        handshake_endpoint: str,
        offered_caps: Sequence[str],
        required_caps: Sequence[str] | None = None,
        ttl_secs: int | None = None,
        identity_type: _IdentityType = "pinned_key",
        oidc_issuer: str | None = None,
        oidc_subject: str | None = None,
        accepted_trust_anchors: Sequence[str] | None = None,
    ) -> str:
        """Builds and signs this agent's Manifest and returns it as ManifestEnvelope JSON."""
    def new_session(
        self, jwks: JwksProvider | None = None, trust_anchors: Sequence[str] | None = None
    ) -> InitiatorSession:
        """Starts an outbound handshake session; `build_manifest` must have run."""
    def new_responder(
        self, jwks: JwksProvider | None = None, trust_anchors: Sequence[str] | None = None
    ) -> ResponderSession:
        """Starts an inbound handshake session; the arguments are those of `new_session`."""
    def verify_tct(
        self,
        tct_token: str,
        required_grant: str,
        expected_audience: str | None = None,
        revoked_jtis: _RevokedJtis = None,
    ) -> TctIdentity:
        """Verifies a TCT compact JWS addressed to `expected_audience` (by default this agent)
        and requires `required_grant` among its grants."""
    def verify_tct_cached(
        self,
        tct_token: str,
        required_grant: str,
        store: TctStore,
        expected_audience: str | None = None,
        revoked_jtis: _RevokedJtis = None,
    ) -> TctIdentity:
        """As `verify_tct`, through the `TctStore` `store`."""
    def build_delegation(
        self, voucher_token: str, delegatee_aid: str, scope: Sequence[str], ttl_secs: int | None = None
    ) -> str:
        """Builds a single-hop delegation token of type "zelk-delegation+jwt"."""
    def issue_tct_for_delegatee(self, verified: DelegationVerified, ttl_secs: int | None = None) -> str:
        """Mints a TCT and grant voucher for the delegatee; returns TctEnvelope JSON."""
    def sign_revocation_list(
        self, entries: list[dict[str, Any]], expires_in_secs: int | None = None
    ) -> str:
        """Signs a revocation snapshot; each entry has 'jti' and optionally 'revoked_at' and
        'reason'. Returns RevocationListEnvelope JSON."""
    def build_renewal_request(self, current_tct_envelope_json: str) -> str:
        """The holder's side of renewal: a TctRenewalPayload JSON text for a TCT compact JWS."""
    def process_renewal_request(
        self, request_payload_json: str, manifest_exp_unix_secs: int, new_ttl_secs: int
    ) -> str:
        """The issuer's side of renewal: returns the TctEnvelope JSON of a new TCT."""

@final
class InitiatorSession:
    """Outbound handshake session — drives the initiator side."""

    def build_hello(
        self,
        peer_manifest_json: str,
        requested_grants: Sequence[str],
        oidc_mint_jwt: Callable[[str], str] | None = None,
    ) -> str:
        """Step 1 — build the `MUTUAL_HELLO` envelope."""
    def process_hello_ack(self, hello_ack_json: str, _session_id: str) -> str:
        """Step 2 — process `MUTUAL_HELLO_ACK`, produce `MUTUAL_COMMIT`."""
    def complete(self, commit_ack_json: str) -> str:
        """Step 3 — process `MUTUAL_COMMIT_ACK`; returns {"tct": ..., "grant_voucher": ... | null}."""

@final
class ResponderSession:
    """Inbound handshake session — drives the responder side."""

    def process_hello(
        self, hello_json: str, oidc_mint_jwt: Callable[[str], str] | None = None
    ) -> tuple[str, str]:
        """Process an incoming `MUTUAL_HELLO` envelope; returns (hello_ack JSON, session id)."""
    def process_commit(self, commit_json: str) -> tuple[str, str]:
        """Process an incoming `MUTUAL_COMMIT` envelope; returns (commit_ack JSON, TCT JSON)."""

@final
class TctIdentity:
    """The verified peer identity carried by a TCT."""

    @property
    def peer_aid(self) -> str: ...
    @property
    def grants(self) -> list[str]: ...
    @property
    def expires_at(self) -> int: ...
    @property
    def jti(self) -> str: ...

@final
class TctStore:
    """A bounded cache of successful TCT verifications for `ZelkAgent.verify_tct_cached`."""

    def __new__(cls, max_entries: int) -> TctStore: ...
    def len(self) -> int: ...
    def clear(self) -> None: ...

@final
class DelegationVerified:
    """Salient fields of a verified delegation token."""

    @property
    def delegator(self) -> str: ...
    @property
    def delegatee(self) -> str: ...
    @property
    def issued_by(self) -> str: ...
    @property
    def grants(self) -> list[str]: ...
    @property
    def expires_at(self) -> int: ...
    @property
    def cnf(self) -> str: ...

@final
class JwksProvider:
    """In-memory OIDC JWKS provider — issuer URL → list of JWK dicts."""

    def __new__(cls, keys: dict[str, list[dict[str, Any]]] | None = None) -> JwksProvider: ...
    def upsert(self, issuer: str, keys: list[dict[str, Any]]) -> None: ...
    def remove(self, issuer: str) -> None: ...
    def issuers(self) -> list[str]: ...

@final
class SessionBundleBuilder:
    """Fluent builder for issuing a `SessionBundleEnvelope`."""

    def __new__(cls, coordinator: ZelkAgent) -> SessionBundleBuilder: ...
    def session_id(self, uuid_str: str) -> SessionBundleBuilder: ...
    def issued_at(self, unix_secs: int) -> SessionBundleBuilder: ...
    def participant(self, aid: str, tct_token: str) -> SessionBundleBuilder: ...
    def build(self) -> str: ...

@final
class SpkiPinVerifier:
    """A fixed set of 32-byte SPKI pins."""

    def __new__(cls, pins: Sequence[bytes | bytearray | Sequence[int]]) -> SpkiPinVerifier: ...
    @property
    def len(self) -> int:
        """Number of pins currently held."""
    def is_pinned(self, cert_der: bytes) -> bool: ...

class ManifestVerificationError(RuntimeError):
    """A manifest envelope failed verification; branch on `code`."""

    code: Literal[
        "expired",
        "signature_invalid",
        "pop_failed",
        "aid_mismatch",
        "incompatible_identity_type",
        "version_unknown",
        "identity_hint_malformed",
        "malformed",
    ]

class RevocationVerificationError(RuntimeError):
    """A revocation snapshot failed verification; branch on `code`."""

    code: Literal["version_unknown", "expired", "issuer_mismatch", "signature_invalid", "malformed"]

def verify_delegation(
    delegation_token: str, verifier_aid: str, revoked_jtis: _RevokedJtis = None
) -> DelegationVerified: ...
def verify_delegation_multihop(
    delegation_token: str,
    verifier_aid: str,
    max_delegation_hops: int = ...,
    revoked_jtis: _RevokedJtis = None,
) -> DelegationVerified: ...
def verify_manifest_json(manifest_envelope_json: str, now_unix_secs: int | None = None) -> None: ...
def compute_aid_jkt(aid: str) -> str: ...
def compute_spki_hash(cert_der: bytes) -> bytes: ...
def verify_revocation_list(
    envelope_json: str, expected_issuer_aid: str, now_unix_secs: int | None = None
) -> None: ...
def revocation_signing_bytes(envelope_json: str) -> bytes: ...
def verify_session_bundle(
    bundle_envelope_json: str,
    verifier_aid: str,
    now_unix_secs: int | None = None,
    revocation_check: Callable[[str], object] | None = None,
) -> _BundleVerification: ...
