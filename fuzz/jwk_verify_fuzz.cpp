// Signature checks against an identity provider's keys. With the fixed keys: a genuine signature
// over the fuzzed signing input verifies under the key's own alg name only, and a signature with
// one bit changed, cut short or lengthened never does. With RSA key material taken from the input:
// every refusal is a signature refusal, never an unusable key, and nothing crashes.
#include <algorithm>

#include "crypto/jwk.hpp"
#include "fuzz_support.hpp"

namespace {

using namespace zelk;

void check_fixed(std::size_t which, std::string_view alg, std::string_view signing_input,
                 std::uint8_t flip) {
  const Jwk& key = fuzz::provider_jwks()[which];
  const std::string_view own = jwk_alg_name(key.alg());
  Bytes signature = fuzz::provider_sign(which, signing_input);
  const ByteView input = as_bytes(signing_input);
  ZELK_FUZZ_CHECK(verify_jws_with_jwk(key, own, input, signature).has_value(), signing_input);
  auto with_alg = verify_jws_with_jwk(key, alg, input, signature);
  ZELK_FUZZ_CHECK(with_alg.has_value() == (alg == own), alg);
  if (alg != own) {
    ZELK_FUZZ_CHECK(with_alg.error().kind == JwkVerifyError::Kind::AlgMismatch, alg);
  }
  Bytes changed = signature;
  changed[flip % changed.size()] ^= static_cast<std::uint8_t>(1u << (flip % 8));
  ZELK_FUZZ_CHECK(!verify_jws_with_jwk(key, own, input, changed).has_value(), "flipped bit");
  Bytes shorter(signature.begin(), signature.end() - 1);
  ZELK_FUZZ_CHECK(!verify_jws_with_jwk(key, own, input, shorter).has_value(), "short signature");
  signature.push_back(flip);
  ZELK_FUZZ_CHECK(!verify_jws_with_jwk(key, own, input, signature).has_value(), "long signature");
}

// n length (two bytes), n, e length (one byte), e, then the signature; the signing input is fixed.
void check_fuzzed_rsa(ByteView rest) {
  auto take = [&rest](std::size_t n) {
    n = std::min(n, rest.size());
    Bytes out(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n));
    rest = rest.subspan(n);
    return out;
  };
  const Bytes n_len = take(2);
  if (n_len.size() < 2) return;
  Bytes n = take((std::size_t{n_len[0]} << 8 | n_len[1]) % 1100);
  const Bytes e_len = take(1);
  if (e_len.empty()) return;
  Bytes e = take(e_len[0] % 16);
  const Bytes signature(rest.begin(), rest.end());
  const Jwk key = Jwk::rsa("k", std::move(n), std::move(e));
  auto checked = verify_jws_with_jwk(key, "RS256", as_bytes(std::string_view("h.p")), signature);
  if (!checked) {
    ZELK_FUZZ_CHECK(checked.error().kind == JwkVerifyError::Kind::SignatureInvalid,
                    checked.error().message());
  }
  // An Ed25519 or P-256 key from any 32 bytes is usable or refused, never a crash.
  if (signature.size() >= 64) {
    std::array<std::uint8_t, 32> x{}, y{};
    std::copy_n(signature.begin(), 32, x.begin());
    std::copy_n(signature.begin() + 32, 32, y.begin());
    (void)verify_jws_with_jwk(Jwk::ed25519(std::nullopt, x), "EdDSA",
                              as_bytes(std::string_view("h.p")), signature);
    (void)verify_jws_with_jwk(Jwk::p256(std::nullopt, x, y), "ES256",
                              as_bytes(std::string_view("h.p")), signature);
  }
}

}  // namespace

// First byte: the key (0 Ed25519, 1 P-256, 2 RSA, else RSA material from the input) and the bit to
// change; then the header alg, a newline, and the signing input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t which = data[0] % 4;
  const std::uint8_t flip = data[1];
  if (which == 3) {
    check_fuzzed_rsa(ByteView(data + 2, size - 2));
    return 0;
  }
  const std::string_view rest = fuzz::text_of(data + 2, size - 2);
  const std::size_t newline = rest.find('\n');
  if (newline == std::string_view::npos) return 0;
  check_fixed(which, rest.substr(0, newline), rest.substr(newline + 1), flip);
  return 0;
}
