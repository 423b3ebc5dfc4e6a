"""Type stubs of the zelk extension module (CPython 3.10 and later).

The docstrings are the module's own."""

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
    def generate(suite: _Suite = "ed25519") -> ZelkAgent:
        """A new agent with a fresh random key; `suite` is "ed25519" or "p256"."""
    @staticmethod
    def from_seed(seed: bytes, suite: _Suite = "ed25519") -> ZelkAgent:
        """An agent whose key is derived from the 32-byte `seed` alone: the same seed and suite
        always give the same key and AID. For "p256" the seed is the big-endian secret scalar."""
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
        """Builds and signs this agent's Manifest, keeps it for the sessions made afterwards and
        returns it as ManifestEnvelope JSON.

        `handshake_endpoint`, `oidc_issuer` and every trust anchor are URLs, stored in their
        normalised form. `identity_type` is "pinned_key" (an Ed25519 agent only; the hint
        carries the agent's public key) or "oidc" (needs `oidc_issuer` and `oidc_subject`;
        the issuer is then the default trust anchor). The Manifest is valid for `ttl_secs`
        seconds, 3600 by default."""
    def new_session(
        self, jwks: JwksProvider | None = None, trust_anchors: Sequence[str] | None = None
    ) -> InitiatorSession:
        """Starts an outbound handshake session (`InitiatorSession`) with a copy of this agent's
        Manifest, so `build_manifest` must have run. `jwks` is a `JwksProvider` through which
        OIDC peers are checked (without one only pinned-key peers pass); `trust_anchors` lists
        the OIDC issuer URLs accepted, by default the Manifest's accepted_trust_anchors."""
    def new_responder(
        self, jwks: JwksProvider | None = None, trust_anchors: Sequence[str] | None = None
    ) -> ResponderSession:
        """Starts an inbound handshake session (`ResponderSession`); the arguments are those of
        `new_session`."""
    def verify_tct(
        self,
        tct_token: str,
        required_grant: str,
        expected_audience: str | None = None,
        revoked_jtis: _RevokedJtis = None,
    ) -> TctIdentity:
        """Verifies the TCT compact JWS `tct_token` and requires `required_grant` among its
        grants. The token must be addressed to `expected_audience` (an AID; by default this
        agent) and be valid now; a `jti` listed in `revoked_jtis` (a set of lower-case
        hyphenated UUID strings) is refused. Returns the `TctIdentity` of the issuer; raises
        ValueError for an unreadable token and RuntimeError for one that fails."""
    def verify_tct_cached(
        self,
        tct_token: str,
        required_grant: str,
        store: TctStore,
        expected_audience: str | None = None,
        revoked_jtis: _RevokedJtis = None,
    ) -> TctIdentity:
        """As `verify_tct`, through the `TctStore` `store`: a token verified before skips the
        signature check, while revocation, audience, expiry and the grant are checked again;
        any other token is verified in full and stored on success."""
    def build_delegation(
        self, voucher_token: str, delegatee_aid: str, scope: Sequence[str], ttl_secs: int | None = None
    ) -> str:
        """Builds a single-hop delegation token (a compact JWS of type
        "zelk-delegation+jwt") that passes `scope`, a subset of the grants of the grant
        voucher `voucher_token` this agent holds, to the agent `delegatee_aid`. The token is
        addressed to the voucher's issuer, who verifies it with `verify_delegation`, and
        expires after `ttl_secs` (3600 by default) or with the voucher, whichever is sooner.
        Raises ValueError for a malformed AID and RuntimeError when the delegation is refused."""
    def issue_tct_for_delegatee(self, verified: DelegationVerified, ttl_secs: int | None = None) -> str:
        """Mints, with this agent's key, a TCT and grant voucher for the delegatee of the
        `DelegationVerified` `verified`, carrying its delegated grants and valid for
        `ttl_secs` (3600 by default). Returns JSON with the members "tct" and
        "grant_voucher"."""
    def sign_revocation_list(
        self, entries: list[dict[str, Any]], expires_in_secs: int | None = None
    ) -> str:
        """Signs a revocation snapshot of this agent and returns its RevocationListEnvelope JSON.
        `entries` is a list of dicts with the keys 'jti' (a UUID string, required),
        'revoked_at' (unix seconds; the signing time by default) and 'reason' (a string);
        other keys are ignored. The list expires `expires_in_secs` (3600 by default) after
        the signing time."""
    def build_renewal_request(self, current_tct_envelope_json: str) -> str:
        """The holder's side of renewal: a TctRenewalPayload JSON text for the TCT compact JWS
        `current_tct_envelope_json` (the `tct` member of the envelope held, placed unchanged),
        proving possession of this agent's key by signing 16 fresh random bytes. Send it to
        the TCT's issuer."""
    def process_renewal_request(
        self, request_payload_json: str, manifest_exp_unix_secs: int, new_ttl_secs: int
    ) -> str:
        """The issuer's side of renewal: checks that the presented TCT was issued by this agent
        and is valid now, and that the requester holds its subject's key; then returns the
        TctEnvelope JSON of a new TCT and grant voucher for the same subject and grants, valid
        for `new_ttl_secs` but never beyond `manifest_exp_unix_secs`.

        Revocation is not consulted: whom to renew is the issuing application's decision, so
        check the presented token's `jti` against your own revocations before calling this.
        Nothing is remembered, and the presented TCT stays valid until its own expiry."""

@final
class InitiatorSession:
    """Outbound handshake session — drives the initiator side."""

    def build_hello(
        self,
        peer_manifest_json: str,
        requested_grants: Sequence[str],
        oidc_mint_jwt: Callable[[str], str] | None = None,
    ) -> str:
        """Step 1 — build the `MUTUAL_HELLO` envelope.

        `peer_manifest_json` is the `ManifestEnvelope` JSON from the peer's
        `GET /.well-known/zelk-manifest`. Returns the envelope JSON to
        `POST` to `/zelk/handshake/hello`.

        `oidc_mint_jwt` is required when this agent's manifest is OIDC;
        the callable receives the handshake-generated `pop_nonce` and
        must return a freshly-minted JWT whose `nonce` claim equals
        that nonce. Ignored for pinned-key agents."""
    def process_hello_ack(self, hello_ack_json: str, _session_id: str) -> str:
        """Step 2 — process `MUTUAL_HELLO_ACK`, produce `MUTUAL_COMMIT`."""
    def complete(self, commit_ack_json: str) -> str:
        """Step 3 — process `MUTUAL_COMMIT_ACK`. Returns a JSON object
        `{"tct": "<compact JWS>", "grant_voucher": "<compact JWS>" | null}`:
        the TCT the peer issued to us, plus the companion grant voucher
        (when issued — the voucher is what lets us later mint delegations)."""

@final
class ResponderSession:
    """Inbound handshake session — drives the responder side."""

    def process_hello(
        self, hello_json: str, oidc_mint_jwt: Callable[[str], str] | None = None
    ) -> tuple[str, str]:
        """Process an incoming `MUTUAL_HELLO` envelope.

        `oidc_mint_jwt` is required when this agent's manifest is OIDC;
        see `InitiatorSession.build_hello` for semantics."""
    def process_commit(self, commit_json: str) -> tuple[str, str]:
        """Process an incoming `MUTUAL_COMMIT` envelope."""

@final
class TctIdentity:
    """The verified peer identity carried by a TCT."""

    @property
    def peer_aid(self) -> str:
        """AID of the agent that issued (and is bound by) the TCT."""
    @property
    def grants(self) -> list[str]:
        """Capability grants the TCT authorizes."""
    @property
    def expires_at(self) -> int:
        """Expiry, Unix seconds."""
    @property
    def jti(self) -> str:
        """TCT unique identifier (`jti`)."""

@final
class TctStore:
    """A bounded cache of successful TCT verifications, keyed by the SHA-256 of the exact
    token text, for `ZelkAgent.verify_tct_cached`. A repeated token skips the signature
    check; revocation, audience, expiry and the required grant are checked on every
    call. The oldest entry is evicted first once `max_entries` are held. A store
    belongs to no agent and may serve several."""

    def __new__(cls, max_entries: int) -> TctStore: ...
    def len(self) -> int:
        """Number of verifications currently cached."""
    def clear(self) -> None:
        """Drops every cached verification."""

@final
class DelegationVerified:
    """Salient fields of a verified delegation token, returned to Python after
    `verify_delegation` succeeds."""

    @property
    def delegator(self) -> str:
        """AID of the ultimate grantor: the first issuer of the chain, who issued the TCT and its grant voucher (already checked to be the verifier)."""
    @property
    def delegatee(self) -> str:
        """AID of the recipient, who is to receive a fresh TCT (the token's `sub`)."""
    @property
    def issued_by(self) -> str:
        """AID of the agent that issued the delegation (the token's `iss`)."""
    @property
    def grants(self) -> list[str]:
        """Delegated capabilities, always a subset of the source voucher's grants."""
    @property
    def expires_at(self) -> int:
        """Expiry of the delegation token itself, Unix seconds."""
    @property
    def cnf(self) -> str:
        """The delegatee's `cnf.jkt`: RFC 7638 JWK thumbprint of its key (redundant with the key in the `delegatee` AID)."""

@final
class JwksProvider:
    """In-memory OIDC JWKS provider — issuer URL → list of JWK dicts.

    The module has no network client: the caller fetches each issuer's key set itself
    and hands the parsed JWK dicts over, here or through `upsert`. The provider
    implements `JwksResolver`, so the handshake looks an OIDC peer's keys up through
    it; sessions made with a provider see its later changes."""

    def __new__(cls, keys: dict[str, list[dict[str, Any]]] | None = None) -> JwksProvider: ...
    def upsert(self, issuer: str, keys: list[dict[str, Any]]) -> None:
        """Add or replace the JWKs for an issuer."""
    def remove(self, issuer: str) -> None:
        """Drop all keys for an issuer (no-op if not present)."""
    def issuers(self) -> list[str]:
        """Return the issuer URLs currently registered."""

@final
class SessionBundleBuilder:
    """Fluent builder for issuing a `SessionBundleEnvelope`, made from the coordinator's
    `ZelkAgent`: chain `participant()` once per participant, then `build()` signs and
    serialises the bundle."""

    def __new__(cls, coordinator: ZelkAgent) -> SessionBundleBuilder: ...
    def session_id(self, uuid_str: str) -> SessionBundleBuilder:
        """Sets the session ID (a version 4 UUID string). When it is unset, a fresh one is
        generated at `build()` time."""
    def issued_at(self, unix_secs: int) -> SessionBundleBuilder:
        """Override `issued_at` (unix seconds). Defaults to "now" at build."""
    def participant(self, aid: str, tct_token: str) -> SessionBundleBuilder:
        """Adds a participant. `tct_token` is the participant's TCT as a compact JWS string; its
        issuer must equal the coordinator's AID and its audience must equal `aid`, both
        tested at `build()` time."""
    def build(self) -> str:
        """Construct, sign, and return the `SessionBundleEnvelope` JSON."""

@final
class SpkiPinVerifier:
    """A fixed set of SPKI pins (each the 32-byte SHA-256 of a certificate's DER
    SubjectPublicKeyInfo) that a TLS client checks the server's leaf certificate
    against. Nothing else of the certificate is validated."""

    def __new__(cls, pins: Sequence[bytes | bytearray | Sequence[int]]) -> SpkiPinVerifier: ...
    @property
    def len(self) -> int:
        """Number of pins currently held."""
    def is_pinned(self, cert_der: bytes) -> bool:
        """True when the SHA-256 of the SubjectPublicKeyInfo of the DER certificate `cert_der`
        equals one of the pins. Raises ValueError for bytes that are no certificate."""

class ManifestVerificationError(RuntimeError):
    """A manifest envelope failed verification.

    Every instance carries a stable, machine-readable `code` attribute, one of
    "expired", "signature_invalid", "pop_failed", "aid_mismatch",
    "incompatible_identity_type", "version_unknown", "identity_hint_malformed" or
    "malformed". Branch on `code` rather than on the message text, which may change."""

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
    """A revocation snapshot failed verification.

    Every instance carries a stable, machine-readable `code` attribute, one of
    "version_unknown", "expired", "issuer_mismatch", "signature_invalid" or
    "malformed". Branch on `code` rather than on the message text, which may change."""

    code: Literal["version_unknown", "expired", "issuer_mismatch", "signature_invalid", "malformed"]

def verify_delegation(
    delegation_token: str, verifier_aid: str, revoked_jtis: _RevokedJtis = None
) -> DelegationVerified:
    """Verifies a single-hop delegation token presented to the agent `verifier_aid`, which
    must be its audience and the issuer of the grant voucher it carries. A voucher whose
    `src_jti` is in `revoked_jtis` (a set of lower-case hyphenated UUID strings) is
    refused. Returns a `DelegationVerified`; raises ValueError for a malformed AID and
    RuntimeError for a token that fails."""
def verify_delegation_multihop(
    delegation_token: str,
    verifier_aid: str,
    max_delegation_hops: int = ...,
    revoked_jtis: _RevokedJtis = None,
) -> DelegationVerified:
    """As `verify_delegation`, but also accepts a token that carries a chain of earlier
    delegation tokens: a chain of n entries needs n + 2 <= `max_delegation_hops` (3 by
    default, so one entry; 0 allows single hops only). Every hop is verified, and the
    `jti` of each hop is looked up in `revoked_jtis` as well."""
def verify_manifest_json(manifest_envelope_json: str, now_unix_secs: int | None = None) -> None:
    """Verifies a ManifestEnvelope JSON text: version, expiry at `now_unix_secs` (the system
    clock by default), signature, proof of possession and identity hint. Returns None.

    Text that is not a valid ManifestEnvelope raises ValueError; a Manifest that was read
    but fails verification raises ManifestVerificationError, whose `code` says why."""
def compute_aid_jkt(aid: str) -> str:
    """The RFC 7638 JWK thumbprint (43 base64url characters) of the public key that `aid`
    encodes: the `cnf.jkt` an identity provider puts into a token minted for that agent."""
def compute_spki_hash(cert_der: bytes) -> bytes:
    """The SPKI pin of the DER certificate `cert_der`: the SHA-256 (32 bytes) of its complete
    DER SubjectPublicKeyInfo. Bytes after the certificate are ignored; anything that is
    not a DER certificate raises ValueError."""
def verify_revocation_list(
    envelope_json: str, expected_issuer_aid: str, now_unix_secs: int | None = None
) -> None:
    """Verifies a RevocationListEnvelope JSON text signed by `expected_issuer_aid`: version,
    expiry at `now_unix_secs` (the system clock by default), issuer and signature over the
    list's canonical form. Returns None. Every failure raises RevocationVerificationError,
    whose `code` says why; an invalid `expected_issuer_aid` raises ValueError.
    `published_at` is not judged: how stale a list may be is the caller's decision."""
def revocation_signing_bytes(envelope_json: str) -> bytes:
    """The canonical bytes (RFC 8785) of the envelope's `revocation_list`: what its signature
    covers, over their SHA-256 digest. Nothing is verified; unreadable JSON raises
    ValueError."""
def verify_session_bundle(
    bundle_envelope_json: str,
    verifier_aid: str,
    now_unix_secs: int | None = None,
    revocation_check: Callable[[str], object] | None = None,
) -> _BundleVerification:
    """Verifies a `SessionBundleEnvelope` JSON text for the participant `verifier_aid` at
    `now_unix_secs` (the system clock by default): version, expiry, membership, the
    coordinator's signature and every participant's TCT. Returns a dict with "kind"
    ("clear" or "degraded"), "active_aids" and "dropped_aids".

    `revocation_check`, when given, is called with each verified token's `jti` (lower-case
    hyphenated text) and drops that participant when it returns True or a true numpy
    boolean. The check fails open: any other result, an exception it raises (which is
    discarded) or an object that is not callable counts as not revoked.

    An unreadable envelope or verifier AID raises ValueError; a bundle that fails
    verification raises RuntimeError."""
