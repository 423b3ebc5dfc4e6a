// verify_manifest_json: a peer's ManifestEnvelope checked without an agent, failures carrying a
// stable code for callers to branch on.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "manifest/manifest.hpp"
#include "manifest/verify.hpp"
#include "python/clock.hpp"
#include "python/manifest.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"

namespace zelk::py {
namespace {

constexpr Signature kVerifyManifestJson{
    "", "verify_manifest_json", 1, {"manifest_envelope_json", "now_unix_secs"}};

// The codes of the first seven error kinds, by kind number; every later kind is "malformed".
constexpr std::array<std::string_view, 7> kCodeByKind = {
    "expired",
    "signature_invalid",
    "pop_failed",
    "aid_mismatch",
    "incompatible_identity_type",
    "version_unknown",
    "identity_hint_malformed",
};
constexpr std::string_view kMalformedCode = "malformed";

std::string_view code_of(const ManifestError& error) {
  const int kind = error.kind_number();
  if (kind >= 0 && static_cast<std::size_t>(kind) < kCodeByKind.size())
    return kCodeByKind[static_cast<std::size_t>(kind)];
  return kMalformedCode;
}

[[nodiscard]] Result<OwnedRef> verify_manifest_json(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kVerifyManifestJson, call));
  ZELK_PY_TRY(std::string_view text, arg(args, 0, to_text));
  ZELK_PY_TRY(std::optional<std::int64_t> given_now, optional_arg(args, 1, to_i64));

  auto envelope = decode_manifest_envelope(text);
  if (!envelope)
    return fail(PyError::value_error("invalid manifest JSON: " + envelope.error().full()));

  // The clock is read only once the text has been read.
  ZELK_PY_TRY(std::int64_t now, given_or_system_now(given_now));
  auto verified = verify_manifest(envelope->manifest, now);
  if (!verified) {
    const ManifestError& error = verified.error();
    return fail(manifest_verification_failure("manifest verification failed: " + error.message(),
                                              std::string(code_of(error))));
  }
  return py_none();
}

}  // namespace

PyMethodDef& verify_manifest_json_function() {
  static PyMethodDef def = module_function<verify_manifest_json>(
      "verify_manifest_json",
      "verify_manifest_json(manifest_envelope_json, now_unix_secs=None)\n--\n\n"
      "Verifies a ManifestEnvelope JSON text: version, expiry at `now_unix_secs` (the system\n"
      "clock by default), signature, proof of possession and identity hint. Returns None.\n"
      "\n"
      "Text that is not a valid ManifestEnvelope raises ValueError; a Manifest that was read\n"
      "but fails verification raises ManifestVerificationError, whose `code` says why.");
  return def;
}

}  // namespace zelk::py
