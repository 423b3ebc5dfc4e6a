// Revocation snapshots received from other agents: verification against a pinned issuer, with a
// stable failure code, and the exact bytes a snapshot's signature covers.
#include "python/revocation.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/aid.hpp"
#include "python/clock.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"
#include "revocation/revocation_list.hpp"
#include "revocation/signing_input.hpp"
#include "revocation/snapshot.hpp"

namespace zelk::py {
namespace {

constexpr const char* kRevocationVerificationErrorDoc =
    "A revocation snapshot failed verification.\n"
    "\n"
    "Every instance carries a stable, machine-readable `code` attribute, one of\n"
    "\"version_unknown\", \"expired\", \"issuer_mismatch\", \"signature_invalid\" or\n"
    "\"malformed\". Branch on `code` rather than on the message text, which may change.";

constexpr Signature kVerifyRevocationList{
    "", "verify_revocation_list", 2, {"envelope_json", "expected_issuer_aid", "now_unix_secs"}};
constexpr Signature kRevocationSigningBytes{"", "revocation_signing_bytes", 1, {"envelope_json"}};

constexpr std::string_view kMalformed = "malformed";
constexpr std::string_view kEnvelopeJsonPrefix = "invalid revocation envelope JSON: ";

std::string_view code_of(const TctError& error) {
  switch (error.kind) {
    case TctError::Kind::UnsupportedVersion:
      return "version_unknown";
    case TctError::Kind::SignatureInvalid:
      return "signature_invalid";
    case TctError::Kind::IssuerMismatch:
      return "issuer_mismatch";
    case TctError::Kind::OutsideValidity:
      return "expired";
    default:
      return kMalformed;
  }
}

[[nodiscard]] Result<OwnedRef> verify_revocation_list(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kVerifyRevocationList, call));
  ZELK_PY_TRY(std::string_view text, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view expected_issuer, arg(args, 1, to_text));
  ZELK_PY_TRY(std::optional<std::int64_t> given_now, optional_arg(args, 2, to_i64));

  // An unreadable envelope is reported before the expected issuer is looked at.
  auto envelope = decode_revocation_envelope(text);
  if (!envelope)
    return fail(raise_revocation_error(std::string(kMalformed),
                                       std::string(kEnvelopeJsonPrefix) + envelope.error().full()));
  if (auto aid = parse_aid(expected_issuer); !aid)
    return fail(PyError::value_error("invalid expected_issuer_aid: " + aid.error().message()));

  ZELK_PY_TRY(std::int64_t now, given_or_system_now(given_now));
  auto verified = verify_revocation_snapshot(*envelope, expected_issuer, now);
  if (!verified)
    return fail(raise_revocation_error(
        std::string(code_of(verified.error())),
        "revocation snapshot verification failed: " + verified.error().message()));
  return py_none();
}

[[nodiscard]] Result<OwnedRef> revocation_signing_bytes(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kRevocationSigningBytes, call));
  ZELK_PY_TRY(std::string_view text, arg(args, 0, to_text));
  auto envelope = decode_revocation_envelope(text);
  if (!envelope)
    return fail(PyError::value_error(std::string(kEnvelopeJsonPrefix) + envelope.error().full()));
  auto bytes = revocation_list_jcs(envelope->revocation_list);
  if (!bytes)
    return fail(PyError::runtime_error("canonicalization failed: " + bytes.error().message()));
  return py_bytes(as_bytes(*bytes));
}

}  // namespace

ExceptionType& revocation_verification_error() {
  static ExceptionType type("zelk.RevocationVerificationError", kRevocationVerificationErrorDoc,
                            PyExc_RuntimeError);
  return type;
}

PyError raise_revocation_error(std::string code, std::string message) {
  return revocation_verification_error().coded(std::move(message), std::move(code));
}

PyMethodDef& verify_revocation_list_function() {
  static PyMethodDef def = module_function<verify_revocation_list>(
      "verify_revocation_list",
      "verify_revocation_list(envelope_json, expected_issuer_aid, now_unix_secs=None)\n--\n\n"
      "Verifies a RevocationListEnvelope JSON text signed by `expected_issuer_aid`: version,\n"
      "expiry at `now_unix_secs` (the system clock by default), issuer and signature over the\n"
      "list's canonical form. Returns None. Every failure raises RevocationVerificationError,\n"
      "whose `code` says why; an invalid `expected_issuer_aid` raises ValueError.\n"
      "`published_at` is not judged: how stale a list may be is the caller's decision.");
  return def;
}

PyMethodDef& revocation_signing_bytes_function() {
  static PyMethodDef def = module_function<revocation_signing_bytes>(
      "revocation_signing_bytes",
      "revocation_signing_bytes(envelope_json)\n--\n\n"
      "The canonical bytes (RFC 8785) of the envelope's `revocation_list`: what its signature\n"
      "covers, over their SHA-256 digest. Nothing is verified; unreadable JSON raises\n"
      "ValueError.");
  return def;
}

}  // namespace zelk::py
