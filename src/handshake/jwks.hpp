#pragma once

// How the handshake obtains an OIDC issuer's keys, and which of them checks a token.

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/jwk.hpp"
#include "formats/url/url.hpp"
#include "handshake/handshake_error.hpp"

namespace zelk {

// Why an issuer's keys could not be had.
struct JwksResolverError {
  enum class Kind : std::uint8_t { IssuerNotTrusted, IssuerKeysUnavailable };
  Kind kind = Kind::IssuerKeysUnavailable;
  std::optional<url::Url> issuer{};  // IssuerNotTrusted
  std::string reason{};              // IssuerKeysUnavailable

  std::string message() const;

  [[nodiscard]] static JwksResolverError not_trusted(url::Url issuer) {
    return {Kind::IssuerNotTrusted, std::move(issuer)};
  }
  [[nodiscard]] static JwksResolverError unavailable(std::string reason) {
    return {Kind::IssuerKeysUnavailable, std::nullopt, std::move(reason)};
  }
};

// Resolves an issuer, identified by the serialisation of its parsed URL, to its key list. The
// list belongs to the caller. Called at most once per token check, on the caller's thread.
class JwksResolver {
 public:
  virtual ~JwksResolver() = default;
  [[nodiscard]] virtual std::expected<std::vector<Jwk>, JwksResolverError> resolve(
      const url::Url& issuer) const = 0;
};

// The next key at or after `position` whose kid equals `kid` (texts byte for byte; an absent kid
// equals only an absent kid), with `position` moved past it; nullptr at the end of the list.
const Jwk* next_matching_jwk(std::span<const Jwk> keys, std::size_t& position,
                             const std::optional<std::string>& kid);

// The key that checks a token: the first whose kid equals the header's; failing that, when the
// header has no kid and the list holds exactly one key, that key whatever its kid; else nullptr.
const Jwk* select_jwk(std::span<const Jwk> keys, const std::optional<std::string>& header_kid);

// IssuerKeyResolution for `issuer` with the resolver error's message as the reason.
[[nodiscard]] HandshakeError map_resolver_error(std::string_view issuer,
                                                const JwksResolverError& error);

}  // namespace zelk
