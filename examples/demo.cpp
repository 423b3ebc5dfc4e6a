// Reads a JSON text (the first argument, or a built-in claims object), prints its canonical form
// and the AID of a fixed Ed25519 public key.
#include <cstdio>
#include <string>

#include "core/aid.hpp"
#include "formats/json/canonical.hpp"
#include "formats/json/parse.hpp"

namespace {

constexpr const char* kSample =
    R"({"ver":"zelk/0.2","sub":"aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo",)"
    R"("grants":["read","write"],"exp":1700003600,"iat":1700000000,"ext":{"b":1e21,"a":0.000001}})";

// RFC 8032 section 7.1, test 1 public key.
constexpr unsigned char kPublicKey[32] = {
    0xd7, 0x5a, 0x98, 0x01, 0x82, 0xb1, 0x0a, 0xb7, 0xd5, 0x4b, 0xfe, 0xd3, 0xc9, 0x64, 0x07, 0x3a,
    0x0e, 0xe1, 0x72, 0xf3, 0xda, 0xa6, 0x23, 0x25, 0xaf, 0x02, 0x1a, 0x68, 0xf7, 0x07, 0x51, 0x1a};

}  // namespace

int main(int argc, char** argv) {
  const std::string text = argc > 1 ? argv[1] : kSample;
  auto value = zelk::json::parse_value(text);
  if (!value) {
    std::fprintf(stderr, "invalid JSON: %s\n", value.error().full().c_str());
    return 1;
  }
  auto canonical = zelk::json::canonical_json(*value);
  if (!canonical) {
    std::fprintf(stderr, "%s\n", canonical.error().message().c_str());
    return 1;
  }
  std::printf("canonical: %s\n", canonical->c_str());
  std::printf("aid:       %s\n", zelk::aid_from_ed25519_key(kPublicKey).c_str());
  return 0;
}
