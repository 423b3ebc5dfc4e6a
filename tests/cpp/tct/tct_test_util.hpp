#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/aid.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "formats/bytes.hpp"

namespace zelk::test {

// The tests' fixed "now" (2023-11-14 22:13:20 UTC), shared so that tokens made by one fixture hold
// in another's.
inline constexpr std::int64_t kNow = 1'700'000'000;

inline std::array<std::uint8_t, 32> filled32(std::uint8_t byte) {
  std::array<std::uint8_t, 32> out{};
  out.fill(byte);
  return out;
}

inline SigningKey ed_key(std::uint8_t seed_byte) {
  return SigningKey::ed25519_from_seed(filled32(seed_byte));
}

inline SigningKey p256_key(std::uint8_t scalar_byte) {
  std::array<std::uint8_t, 32> scalar{};
  scalar[31] = scalar_byte;  // a small scalar is always in range
  return std::move(*SigningKey::p256_from_scalar(scalar));
}

inline std::string json_str(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// The long Ed25519 form of a key whose AID is in the short form.
inline Aid long_form(const Aid& short_aid) {
  const std::string text =
      std::string(kAidEd25519LongPrefix) + short_aid.text().substr(kAidEd25519Prefix.size());
  return *parse_aid(text);
}

// Signs arbitrary header and payload texts, as a foreign encoder would.
inline std::string forge(const SigningKey& key, std::string_view header, std::string_view payload) {
  std::string token = b64url_encode(as_bytes(header)) + "." + b64url_encode(as_bytes(payload));
  const Signature64 sig = sign_bytes(key, as_bytes(token));
  return token + "." + b64url_encode(sig);
}

inline std::string header_text(std::string_view alg, std::string_view typ) {
  return R"({"alg":")" + std::string(alg) + R"(","typ":")" + std::string(typ) + "\"}";
}

// Signs `payload` under {"alg":…,"typ":typ}, alg being the one an issuer writes for the key.
inline std::string forge_typed(const SigningKey& key, std::string_view typ,
                               std::string_view payload) {
  return forge(key, header_text(key.suite() == KeySuite::P256 ? "ES256" : "EdDSA", typ), payload);
}

// A claims object written member by member as raw JSON, so that tests can repeat, drop or add
// members and write values the canonical writer never would.
class ClaimsText {
 public:
  ClaimsText& set(std::string_view name, std::string raw) {
    for (auto& [n, v] : members_)
      if (n == name) {
        v = std::move(raw);
        return *this;
      }
    return add(name, std::move(raw));
  }
  ClaimsText& add(std::string_view name, std::string raw) {
    members_.emplace_back(std::string(name), std::move(raw));
    return *this;
  }
  ClaimsText& drop(std::string_view name) {
    std::erase_if(members_, [&](const auto& m) { return m.first == name; });
    return *this;
  }
  std::string text() const {
    std::string out = "{";
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (i > 0) out += ',';
      out += json_str(members_[i].first) + ":" + members_[i].second;
    }
    return out + "}";
  }

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

// The members of a well-formed TCT from `issuer` to `subject` (also its audience), in declared
// order; tests change them one at a time.
struct TctClaimsFields {
  std::string_view issuer;
  std::string_view subject;
  std::string_view jti;
  std::int64_t iat = 0;
  std::int64_t exp = 0;
  std::string_view grants = R"(["read"])";  // raw JSON
  std::string_view jkt;
};
inline ClaimsText tct_claims_text(const TctClaimsFields& fields) {
  ClaimsText c;
  c.set("ver", json_str("zelk/0.2"))
      .set("jti", json_str(fields.jti))
      .set("iss", json_str(fields.issuer))
      .set("sub", json_str(fields.subject))
      .set("aud", json_str(fields.subject))
      .set("iat", std::to_string(fields.iat))
      .set("exp", std::to_string(fields.exp))
      .set("grants", std::string(fields.grants))
      .set("cnf", "{\"jkt\":" + json_str(fields.jkt) + "}");
  return c;
}

}  // namespace zelk::test
