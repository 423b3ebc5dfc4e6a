#include "python/manifest.hpp"

namespace zelk::py {
namespace {

constexpr const char* kManifestVerificationErrorDoc =
    "A manifest envelope failed verification.\n"
    "\n"
    "Every instance carries a stable, machine-readable `code` attribute, one of\n"
    "\"expired\", \"signature_invalid\", \"pop_failed\", \"aid_mismatch\",\n"
    "\"incompatible_identity_type\", \"version_unknown\", \"identity_hint_malformed\" or\n"
    "\"malformed\". Branch on `code` rather than on the message text, which may change.";

}  // namespace

ExceptionType& manifest_verification_error() {
  static ExceptionType type("zelk.ManifestVerificationError", kManifestVerificationErrorDoc,
                            PyExc_RuntimeError);
  return type;
}

PyError manifest_verification_failure(std::string message, std::string code) {
  Result<BorrowedRef> type = manifest_verification_error().type();
  if (!type) return std::move(type).error();
  return PyError::coded(*type, std::move(message), std::move(code));
}

}  // namespace zelk::py
