// P-256 signatures against Botan 2's ECDSA with RFC 6979 nonces, the signer this library used
// before: every signature must stay byte for byte what it was.
#include <botan/bigint.h>
#include <botan/ec_group.h>
#include <botan/ecdsa.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "crypto/keys.hpp"
#include "crypto/p256_curve.hpp"
#include "crypto/sha256.hpp"
#include "formats/bytes.hpp"

namespace zelk {
namespace {

using Scalar = std::array<std::uint8_t, 32>;

Signature64 botan_sign(const Scalar& scalar, ByteView message) {
  const Botan::EC_Group group("secp256r1");
  const Botan::ECDSA_PrivateKey key(Botan::system_rng(), group,
                                    Botan::BigInt(scalar.data(), scalar.size()));
  Botan::PK_Signer signer(key, Botan::system_rng(), "EMSA1(SHA-256)", Botan::IEEE_1363);
  const std::vector<std::uint8_t> out =
      signer.sign_message(message.data(), message.size(), Botan::system_rng());
  Signature64 sig{};
  std::copy(out.begin(), out.end(), sig.begin());
  return sig;
}

Scalar random_scalar(std::mt19937_64& rng) {
  for (;;) {
    Scalar s{};
    for (auto& byte : s) byte = static_cast<std::uint8_t>(rng());
    if (crypto_detail::p256_scalar_in_range(s)) return s;
  }
}

TEST(P256Signing, SameSignaturesAsTheBotanSignerForManyKeysAndMessages) {
  std::mt19937_64 rng(20261210);
  int high_s = 0;
  for (int i = 0; i < 60; ++i) {
    const Scalar scalar = random_scalar(rng);
    const SigningKey key = std::move(*SigningKey::p256_from_scalar(scalar));
    std::string message(static_cast<std::size_t>(rng() % 700), '\0');
    for (char& c : message) c = static_cast<char>(rng());
    const Signature64 sig = sign_bytes(key, as_bytes(message));
    EXPECT_EQ(sig, botan_sign(scalar, as_bytes(message))) << i;
    EXPECT_TRUE(verify_signature_bytes(key.verifying_key(), as_bytes(message), sig)) << i;
    // s above n/2 stays as it is: no normalisation.
    high_s += sig[32] >= 0x80 ? 1 : 0;
  }
  EXPECT_GT(high_s, 0);
}

TEST(P256Signing, ScalarsAtTheEdgesOfTheRange) {
  Scalar one{};
  one[31] = 1;
  Scalar top = crypto_detail::kP256Order;
  top[31] -= 1;  // n - 1
  Scalar two_128{};
  two_128[15] = 1;
  for (const Scalar& scalar : {one, top, two_128}) {
    const SigningKey key = std::move(*SigningKey::p256_from_scalar(scalar));
    for (const char* message : {"", "sample", "a longer message over several hash blocks ....."})
      EXPECT_EQ(sign_bytes(key, as_bytes(message)), botan_sign(scalar, as_bytes(message)))
          << message;
  }
}

}  // namespace
}  // namespace zelk
