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
  return manifest_verification_error().coded(std::move(message), std::move(code));
}

}  // namespace zelk::py
