#include "python/revocation.hpp"

namespace zelk::py {
namespace {

constexpr const char* kRevocationVerificationErrorDoc =
    "A revocation snapshot failed verification.\n"
    "\n"
    "Every instance carries a stable, machine-readable `code` attribute, one of\n"
    "\"version_unknown\", \"expired\", \"issuer_mismatch\", \"signature_invalid\" or\n"
    "\"malformed\". Branch on `code` rather than on the message text, which may change.";

}  // namespace

ExceptionType& revocation_verification_error() {
  static ExceptionType type("zelk.RevocationVerificationError", kRevocationVerificationErrorDoc,
                            PyExc_RuntimeError);
  return type;
}

PyError raise_revocation_error(std::string code, std::string message) {
  Result<BorrowedRef> type = revocation_verification_error().type();
  if (!type) return std::move(type).error();
  return PyError::coded(*type, std::move(message), std::move(code));
}

}  // namespace zelk::py
