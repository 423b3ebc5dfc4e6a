#pragma once
// What every fuzz target shares: the failure report, the fixed keys that re-sign fuzzed claims,
// and the properties common to record readers. A target for a new reader is usually a few lines:
//
//   extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
//     zelk::fuzz::check_record_reader(zelk::fuzz::text_of(data, size), read_x, x_from_value,
//                                     x_to_value);
//     return 0;
//   }
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "core/aid.hpp"
#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/json/error.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"
#include "formats/json/writer.hpp"

namespace zelk::fuzz {

// Reports a broken property with the input's context and aborts, so libFuzzer keeps the input.
[[noreturn]] void fail(std::string_view property, std::string_view detail = {});

#define ZELK_FUZZ_CHECK(condition, detail)                    \
  do {                                                        \
    if (!(condition)) ::zelk::fuzz::fail(#condition, detail); \
  } while (0)

inline std::string_view text_of(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Keys made once from fixed secrets and never destroyed (a fuzzer exits without unwinding).
const SigningKey& ed25519_key();
const SigningKey& p256_key();
// A second agent, the audience and subject of re-signed tokens.
const SigningKey& peer_key();
// The fixed key whose AID text is `aid`, or ed25519_key() when none is.
const SigningKey& key_for_aid(std::string_view aid);

// A compact JWS over the given header and payload texts (both base64url-encoded as they are),
// signed by `key`: fuzzed claims re-signed so that the checks after the signature are reached.
std::string sign_token(const SigningKey& key, std::string_view header, std::string_view payload);

// An outside identity provider's key set: the Ed25519 key of ed25519_key() (kid "ed"), the P-256
// key of p256_key() (kid "p256") and a 2048-bit RSA key made once per process (kid "rsa").
const std::vector<Jwk>& provider_jwks();
// The RS256 signature of the RSA key of provider_jwks() over `signing_input`.
Bytes rsa_sign(std::string_view signing_input);
// The signature of provider_jwks()[which] (0 Ed25519, 1 P-256, 2 RSA) over `signing_input`.
Bytes provider_sign(std::size_t which, std::string_view signing_input);

// Properties of a strict record reader with a text path (`read_text`, whole document), a value
// path (`from_value`) and a writer to a value (`to_value`):
// - the text path accepts only texts that parse as a JSON value, and then the value path gives the
//   same record; where the value path accepts and the text path does not, the text repeats a
//   member name (the only rule a parsed value cannot show), otherwise both refuse;
// - an accepted record written as compact JSON reads back, by both paths, as the same record.
template <typename ReadText, typename FromValue, typename ToValue>
void check_record_reader(std::string_view text, ReadText read_text, FromValue from_value,
                         ToValue to_value) {
  auto from_text = read_text(text);
  auto value = json::parse_value(text);
  if (from_text) {
    ZELK_FUZZ_CHECK(value.has_value(), "accepted text is not a JSON value");
  }
  if (!value) return;
  auto from_parsed = from_value(*value);
  if (from_text) {
    ZELK_FUZZ_CHECK(from_parsed.has_value(), from_parsed.error().message);
    ZELK_FUZZ_CHECK(*from_parsed == *from_text, "text and value paths read different records");
  } else if (!json::check_duplicate_keys(text)) {
    // (The messages may differ: text is read as it streams, a value is seen whole.)
    ZELK_FUZZ_CHECK(!from_parsed.has_value(), from_text.error().full());
  }
  if (!from_parsed) return;
  const json::Value written = to_value(*from_parsed);
  const std::string compact = json::to_compact_string(written);
  auto reread = read_text(compact);
  ZELK_FUZZ_CHECK(reread.has_value(), compact);
  ZELK_FUZZ_CHECK(*reread == *from_parsed, compact);
  auto reread_value = from_value(written);
  ZELK_FUZZ_CHECK(reread_value.has_value() && *reread_value == *from_parsed, compact);
}

// A record read from a text that was parsed beforehand (as token readers do) is the record read
// from the text alone, and a refusal is the text's own, message and position alike.
template <json::Record T>
void check_preparsed_read(std::string_view text) {
  auto parsed = json::parse_text(text);
  auto direct = json::read_record<T>(text);
  auto via = json::read_record<T>(text, parsed ? &*parsed : nullptr);
  ZELK_FUZZ_CHECK(direct.has_value() == via.has_value(), "pre-parsed read disagrees");
  if (direct) {
    ZELK_FUZZ_CHECK(*direct == *via, "pre-parsed read gives another record");
  } else {
    ZELK_FUZZ_CHECK(direct.error().full() == via.error().full(), via.error().full());
  }
}

}  // namespace zelk::fuzz
