// Compact JWS split and verification. The first byte chooses: even, the rest is a token verified as
// it is; odd, the rest is a header text, a line feed and a payload text, signed by a fixed key
// (bit 1 picks Ed25519 or P-256) and then verified, so header, type, algorithm and payload checks
// are reached. An accepted token satisfies every check the verifier promises, and a token the
// signer's own key made with a strict header of the right type and algorithm and an object payload
// is accepted.
#include "crypto/jws.hpp"
#include "formats/base64url.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace zelk;

constexpr std::string_view kTyp = "zelk-tct+jwt";

void check_split(std::string_view token) {
  auto segments = split_compact_jws(token);
  if (!segments) return;
  ZELK_FUZZ_CHECK(
      !segments->header.empty() && !segments->payload.empty() && !segments->signature.empty(),
      token);
  const std::string joined = std::string(segments->header) + "." + std::string(segments->payload) +
                             "." + std::string(segments->signature);
  ZELK_FUZZ_CHECK(joined == token, token);
}

// What an accepted token must be.
void check_accepted(std::string_view token, const SigningKey& signer, const Bytes& payload) {
  auto segments = split_compact_jws(token);
  ZELK_FUZZ_CHECK(segments.has_value(), token);
  auto header_bytes = b64url_decode(segments->header);
  ZELK_FUZZ_CHECK(header_bytes.has_value(), token);
  auto header = json::read_record<JwsHeader>(as_text(*header_bytes));
  ZELK_FUZZ_CHECK(header && header->typ == kTyp && header->alg == jws_alg(signer.suite()), token);
  auto payload_bytes = b64url_decode(segments->payload);
  ZELK_FUZZ_CHECK(payload_bytes && *payload_bytes == payload, token);
  auto value = json::parse_value(as_text(payload));
  ZELK_FUZZ_CHECK(value && value->is_object(), token);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view rest = fuzz::text_of(data + 1, size - 1);
  if ((mode & 1) == 0) {
    check_split(rest);
    for (const SigningKey* key : {&fuzz::ed25519_key(), &fuzz::p256_key()}) {
      if (auto payload = verify_compact_jws(rest, key->aid(), kTyp))
        check_accepted(rest, *key, *payload);
    }
    return 0;
  }
  const std::size_t newline = rest.find('\n');
  if (newline == rest.npos) return 0;
  const std::string_view header = rest.substr(0, newline);
  const std::string_view payload = rest.substr(newline + 1);
  const SigningKey& key = (mode & 2) != 0 ? fuzz::p256_key() : fuzz::ed25519_key();
  const std::string token = fuzz::sign_token(key, header, payload);
  check_split(token);
  auto verified = verify_compact_jws(token, key.aid(), kTyp);
  if (verified) {
    check_accepted(token, key, *verified);
    ZELK_FUZZ_CHECK(as_text(*verified) == payload, token);
    return 0;
  }
  // Refused: then the header, its type or algorithm, or the payload must be at fault.
  if (header.empty() || payload.empty()) return 0;
  auto strict = json::read_record<JwsHeader>(header);
  auto value = json::parse_value(payload);
  ZELK_FUZZ_CHECK(!strict || strict->typ != kTyp || strict->alg != jws_alg(key.suite()) || !value ||
                      !value->is_object(),
                  verified.error().message());
  return 0;
}
