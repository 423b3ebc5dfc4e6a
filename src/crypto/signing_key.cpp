#include <botan/bigint.h>
#include <botan/ec_group.h>
#include <botan/ecdsa.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>
#include <sodium.h>

#include <algorithm>

#include "crypto/invariant.hpp"
#include "crypto/keys.hpp"
#include "crypto/p256_curve.hpp"
#include "crypto/sodium_init.hpp"

namespace zelk {

struct SigningKey::P256State {
  Botan::ECDSA_PrivateKey key;
};

namespace {

using crypto_detail::invariant_failure;

const Botan::EC_Group& botan_p256() {
  static const Botan::EC_Group group("secp256r1");
  return group;
}

// The big-endian order reversed once for sodium_compare, which reads little-endian numbers.
constexpr std::array<std::uint8_t, 32> kOrderLittleEndian = [] {
  std::array<std::uint8_t, 32> le{};
  for (std::size_t i = 0; i < 32; ++i) le[i] = crypto_detail::kP256Order[31 - i];
  return le;
}();

// 0 < d < n, decided without branching on the scalar's bytes.
bool scalar_in_range(std::span<const std::uint8_t, 32> be) {
  std::array<std::uint8_t, 32> le{};
  for (std::size_t i = 0; i < 32; ++i) le[i] = be[31 - i];
  const int nonzero = 1 - sodium_is_zero(le.data(), le.size());
  // sodium_compare gives -1, 0 or 1; the sign bit alone says "below".
  const int below = (sodium_compare(le.data(), kOrderLittleEndian.data(), le.size()) >> 8) & 1;
  sodium_memzero(le.data(), le.size());
  return (nonzero & below) == 1;
}

Aid own_aid(std::string text) {
  auto aid = parse_aid_owned(std::move(text));
  if (!aid) invariant_failure("a derived public key did not form an AID");
  return std::move(*aid);
}

}  // namespace

SigningKey::SigningKey(KeySuite suite, Aid aid, VerifyingKey pub)
    : suite_(suite), aid_(std::move(aid)), public_(std::move(pub)) {}

SigningKey::SigningKey(SigningKey&& other) noexcept
    : suite_(other.suite_),
      ed25519_secret_(other.ed25519_secret_),
      p256_scalar_(other.p256_scalar_),
      p256_(std::move(other.p256_)),
      aid_(std::move(other.aid_)),
      public_(std::move(other.public_)) {
  other.wipe();
}

SigningKey::~SigningKey() {
  wipe();
}

void SigningKey::wipe() noexcept {
  sodium_memzero(ed25519_secret_.data(), ed25519_secret_.size());
  // The scalar field must never hold zero: overwrite it with zero, then with the value one.
  sodium_memzero(p256_scalar_.data(), p256_scalar_.size());
  volatile std::uint8_t* last = &p256_scalar_[31];
  *last = 1;
  // Botan keeps its copy in secure memory and scrubs it on release.
  p256_.reset();
}

SigningKey SigningKey::ed25519_from_seed(std::span<const std::uint8_t, 32> seed) {
  crypto_detail::ensure_sodium();
  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> pk{};
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> sk{};
  if (crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data()) != 0)
    invariant_failure("Ed25519 key derivation failed");
  auto pub = ed25519_key_from_bytes(pk);
  if (!pub) invariant_failure("a derived Ed25519 key is not a curve point");
  SigningKey key(KeySuite::Ed25519, own_aid(aid_from_ed25519_key(pk)), std::move(*pub));
  key.ed25519_secret_ = sk;
  sodium_memzero(sk.data(), sk.size());
  return key;
}

std::expected<SigningKey, CryptoError> SigningKey::p256_from_scalar(
    std::span<const std::uint8_t, 32> scalar) {
  crypto_detail::ensure_sodium();
  if (!scalar_in_range(scalar))
    return std::unexpected(CryptoError::public_key(kSignatureErrorText));
  try {
    const Botan::BigInt x(scalar.data(), scalar.size());
    auto state = std::make_unique<P256State>(
        P256State{Botan::ECDSA_PrivateKey(Botan::system_rng(), botan_p256(), x)});
    const std::vector<std::uint8_t> point =
        state->key.public_point().encode(Botan::PointGFp::COMPRESSED);
    auto pub = p256_key_from_sec1(point);
    if (!pub) invariant_failure("a derived P-256 point was refused");
    SigningKey key(KeySuite::P256, own_aid(aid_from_p256_key(point)), std::move(*pub));
    std::copy(scalar.begin(), scalar.end(), key.p256_scalar_.begin());
    key.p256_ = std::move(state);
    return key;
  } catch (const std::exception&) {
    invariant_failure("P-256 key construction failed");
  }
}

std::expected<SigningKey, RandomError> generate_ed25519_key() {
  std::array<std::uint8_t, 32> seed{};
  if (auto ok = random_bytes(seed); !ok) return std::unexpected(ok.error());
  SigningKey key = SigningKey::ed25519_from_seed(seed);
  sodium_memzero(seed.data(), seed.size());
  return key;
}

std::expected<SigningKey, RandomError> generate_p256_key() {
  std::array<std::uint8_t, 32> scalar{};
  for (;;) {
    if (auto ok = random_bytes(scalar); !ok) {
      sodium_memzero(scalar.data(), scalar.size());
      return std::unexpected(ok.error());
    }
    // Out-of-range draws (zero or not below n) are drawn again.
    auto key = SigningKey::p256_from_scalar(scalar);
    sodium_memzero(scalar.data(), scalar.size());
    if (key) return std::move(*key);
  }
}

std::expected<SigningKey, RandomError> generate_key(KeySuite suite) {
  return suite == KeySuite::P256 ? generate_p256_key() : generate_ed25519_key();
}

Signature64 sign_bytes(const SigningKey& key, ByteView message) {
  Signature64 sig{};
  if (key.suite_ == KeySuite::Ed25519) {
    unsigned long long len = 0;
    if (crypto_sign_detached(sig.data(), &len, message.data(), message.size(),
                             key.ed25519_secret_.data()) != 0 ||
        len != sig.size())
      invariant_failure("signature operation failed");
    return sig;
  }
  if (!key.p256_) invariant_failure("signing with a released key");
  try {
    // The nonce follows RFC 6979 with HMAC-SHA-256; the generator only blinds the arithmetic.
    Botan::PK_Signer signer(key.p256_->key, Botan::system_rng(), "EMSA1(SHA-256)",
                            Botan::IEEE_1363);
    const std::vector<std::uint8_t> out =
        signer.sign_message(message.data(), message.size(), Botan::system_rng());
    if (out.size() != sig.size()) invariant_failure("signature operation failed");
    std::copy(out.begin(), out.end(), sig.begin());
  } catch (const std::exception&) {
    invariant_failure("signature operation failed");
  }
  return sig;
}

}  // namespace zelk
