// The agent's own identity for its hello proof, and the wrapper of the caller's oidc_mint_jwt.
#include <string>
#include <string_view>
#include <utility>

#include "formats/url/url.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/gil.hpp"
#include "python/session.hpp"

namespace zelk::py {
namespace {

// Calls the wrapped object with the nonce, on the caller's thread, with the interpreter lock.
[[nodiscard]] std::expected<std::string, std::string> call_oidc_mint_jwt(
    BorrowedRef callable, std::string_view nonce, std::optional<PyError>& panic) {
  const GilScope gil;
  auto result = call_with_text(callable, nonce, "oidc_mint_jwt");
  if (!result) {
    PyError error = std::move(result).error();
    if (error.is_panic()) {
      panic = std::move(error);
      return std::unexpected(std::string("panic"));
    }
    return std::unexpected("oidc_mint_jwt raised: " + error.describe());
  }
  auto text = to_text(result->borrow());
  if (!text) return std::unexpected("oidc_mint_jwt must return str: " + text.error().describe());
  return std::string(*text);
}

}  // namespace

Result<LocalIdentity> make_oidc_minter(const IdentityHint& hint, BorrowedRef oidc_mint_jwt,
                                       std::optional<PyError>& panic) {
  if (hint.type == IdentityType::PinnedKey) return LocalIdentity(PinnedKeyIdentity{hint.subject});
  if (!oidc_mint_jwt)
    return fail(
        PyError::value_error("agent manifest is OIDC; `oidc_mint_jwt` callable is required"));
  if (!hint.issuer)
    return fail(PyError::runtime_error(
        "OIDC identity_hint missing issuer (build_manifest invariant violated)"));
  auto issuer = url::parse_url(*hint.issuer);
  if (!issuer)
    return fail(PyError::runtime_error("identity_hint.issuer not a URL: " +
                                       std::string(issuer.error().message())));
  // Whether the object can be called shows only when it is called.
  OidcMinter minter = [callable = OwnedRef::incref(oidc_mint_jwt),
                       slot = &panic](std::string_view nonce) {
    return call_oidc_mint_jwt(callable.borrow(), nonce, *slot);
  };
  return LocalIdentity(OidcMintedIdentity{std::move(*issuer), hint.subject, std::move(minter)});
}

}  // namespace zelk::py
