#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "formats/url/url.hpp"
#include "manifest/builder.hpp"
#include "manifest/manifest.hpp"

namespace zelk::test {

inline constexpr std::int64_t kNow = 1'700'000'000;
inline constexpr std::string_view kIssuer = "https://idp.example/";

inline SigningKey ed_key(std::uint8_t fill) {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(fill);
  return SigningKey::ed25519_from_seed(seed);
}

inline SigningKey p256_key(std::uint8_t fill) {
  std::array<std::uint8_t, 32> scalar{};
  scalar.fill(fill);
  return std::move(*SigningKey::p256_from_scalar(scalar));
}

inline url::Url url_of(std::string_view text) {
  auto parsed = url::parse_url(text);
  EXPECT_TRUE(parsed.has_value()) << text;
  return std::move(*parsed);
}

// A signed Manifest valid around kNow: a pinned-key hint for Ed25519 keys unless an OIDC issuer
// is given.
inline Manifest manifest_for(const SigningKey& key, std::string subject,
                             std::optional<std::string> oidc_issuer = std::nullopt,
                             std::int64_t published_at = kNow - 60) {
  ManifestBuilder b(key);
  IdentityHint hint;
  hint.subject = std::move(subject);
  if (oidc_issuer) {
    hint.type = IdentityType::Oidc;
    hint.issuer = std::move(oidc_issuer);
  } else {
    hint.type = IdentityType::PinnedKey;
    hint.public_key = b64url_encode(key.public_key());
  }
  b.set_handshake_endpoint(url_of("https://agent.example/zelk/handshake/hello"))
      .set_identity_hint(std::move(hint))
      .add_offered_capability("files:read")
      .set_published_at(published_at)
      .set_ttl_secs(3600);
  auto m = build_signed_manifest(std::move(b));
  EXPECT_TRUE(m.has_value()) << m.error().message();
  return std::move(*m);
}

}  // namespace zelk::test

namespace zelk::test {

inline std::string json_text(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// A JSON object written member by member as raw JSON, so that tests can repeat, drop or add
// members and write values no writer of ours would.
class RawObject {
 public:
  RawObject& set(std::string_view name, std::string raw) {
    for (auto& [n, v] : members_)
      if (n == name) {
        v = std::move(raw);
        return *this;
      }
    return add(name, std::move(raw));
  }
  RawObject& add(std::string_view name, std::string raw) {
    members_.emplace_back(std::string(name), std::move(raw));
    return *this;
  }
  RawObject& drop(std::string_view name) {
    std::erase_if(members_, [&](const auto& m) { return m.first == name; });
    return *this;
  }
  std::string text() const {
    std::string out = "{";
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (i > 0) out += ',';
      out += json_text(members_[i].first) + ":" + members_[i].second;
    }
    return out + "}";
  }

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

}  // namespace zelk::test
