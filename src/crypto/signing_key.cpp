#include <botan/asn1_obj.h>
#include <botan/ec_group.h>
#include <botan/ecdsa.h>
#include <botan/mem_ops.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "crypto/invariant.hpp"
#include "crypto/keys.hpp"
#include "crypto/openssl_ptr.hpp"
#include "crypto/p256_curve.hpp"
#include "crypto/sodium_init.hpp"

namespace zelk {

// Botan is used for signing alone (it gives RFC 6979 nonces); the signer and its blinding values
// are prepared on first use and kept, so one key signs without setting up again. The mutex makes
// a shared const key safe to sign with from several threads.
struct SigningKey::P256State {
  // A new state, tracked until destroy(); Botan's secure-memory pool outlives every such state.
  static P256State* create(const Botan::AlgorithmIdentifier& algorithm,
                           const Botan::secure_vector<std::uint8_t>& der);
  // Releases the state unless exit has already released it.
  static void destroy(P256State* state) noexcept;
  static bool released_at_exit();

  P256State(const Botan::AlgorithmIdentifier& algorithm,
            const Botan::secure_vector<std::uint8_t>& der)
      : key(algorithm, der) {}

  Botan::ECDSA_PrivateKey key;
  std::mutex mutex;
  std::unique_ptr<Botan::PK_Signer> signer;

 private:
  struct Live;
  P256State* prev_ = nullptr;
  P256State* next_ = nullptr;
};

namespace {

// Set once the live states are released at exit; trivially destructible, so it stays readable.
std::atomic<bool> p256_states_released{false};

}  // namespace

// Botan unmaps its secure-memory pool at exit, and a key in static storage may be destroyed after
// that (its holder having been registered before the pool existed). Every Botan state is therefore
// listed here, and this list, made after the pool, is destroyed before it, taking the states that
// are still alive with it; keys destroyed later find nothing left to release.
struct SigningKey::P256State::Live {
  Live() { Botan::initialize_allocator(); }
  ~Live() {
    const std::lock_guard lock(mutex);
    p256_states_released.store(true);
    while (head != nullptr) {
      P256State* state = head;
      head = state->next_;
      delete state;
    }
  }

  static Live& instance() {
    static Live live;
    return live;
  }

  std::mutex mutex;
  P256State* head = nullptr;
};

SigningKey::P256State* SigningKey::P256State::create(
    const Botan::AlgorithmIdentifier& algorithm, const Botan::secure_vector<std::uint8_t>& der) {
  if (p256_states_released.load()) crypto_detail::invariant_failure("P-256 key made during exit");
  Live& live = Live::instance();
  auto* state = new P256State(algorithm, der);
  const std::lock_guard lock(live.mutex);
  state->next_ = live.head;
  if (live.head != nullptr) live.head->prev_ = state;
  live.head = state;
  return state;
}

void SigningKey::P256State::destroy(P256State* state) noexcept {
  if (state == nullptr || p256_states_released.load()) return;
  Live& live = Live::instance();
  {
    const std::lock_guard lock(live.mutex);
    if (p256_states_released.load()) return;
    (state->prev_ != nullptr ? state->prev_->next_ : live.head) = state->next_;
    if (state->next_ != nullptr) state->next_->prev_ = state->prev_;
  }
  delete state;
}

bool SigningKey::P256State::released_at_exit() {
  return p256_states_released.load();
}

namespace {

using crypto_detail::invariant_failure;

const EC_GROUP* openssl_p256() {
  static EC_GROUP* const group =
      EC_GROUP_new_by_curve_name_ex(nullptr, nullptr, NID_X9_62_prime256v1);
  if (group == nullptr) invariant_failure("P-256 group is not available");
  return group;
}

// id-ecPublicKey with the named curve secp256r1, as Botan reads it for a private key.
const Botan::AlgorithmIdentifier& botan_p256_algorithm() {
  static const Botan::AlgorithmIdentifier id(
      Botan::OID({1, 2, 840, 10045, 2, 1}),
      std::vector<std::uint8_t>{0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07});
  return id;
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

struct P256Point {
  std::array<std::uint8_t, 33> compressed{};
  std::array<std::uint8_t, 65> uncompressed{};
};

// d·G in OpenSSL (constant time for the generator, as its own key generation does it), taken to
// affine coordinates once and written in both SEC1 forms.
P256Point p256_public_point(std::span<const std::uint8_t, 32> scalar) {
  const EC_GROUP* group = openssl_p256();
  ossl::UniquePtr<BIGNUM> d(BN_secure_new());
  ossl::UniquePtr<EC_POINT> point(EC_POINT_new(group));
  ossl::UniquePtr<BN_CTX> ctx(BN_CTX_secure_new());
  ossl::UniquePtr<BIGNUM> x(BN_new());
  ossl::UniquePtr<BIGNUM> y(BN_new());
  if (!d || !point || !ctx || !x || !y) invariant_failure("out of memory");
  BN_set_flags(d.get(), BN_FLG_CONSTTIME);
  P256Point out;
  std::uint8_t* const xy = out.uncompressed.data() + 1;
  const bool ok =
      BN_bin2bn(scalar.data(), static_cast<int>(scalar.size()), d.get()) != nullptr &&
      EC_POINT_mul(group, point.get(), d.get(), nullptr, nullptr, ctx.get()) == 1 &&
      EC_POINT_get_affine_coordinates(group, point.get(), x.get(), y.get(), ctx.get()) == 1 &&
      BN_bn2binpad(x.get(), xy, 32) == 32 && BN_bn2binpad(y.get(), xy + 32, 32) == 32;
  BN_clear(d.get());
  if (!ok) invariant_failure("P-256 public key derivation failed");
  out.uncompressed[0] = 0x04;
  out.compressed[0] = static_cast<std::uint8_t>(0x02 | (xy[63] & 1));  // the parity of y
  std::copy(xy, xy + 32, out.compressed.begin() + 1);
  return out;
}

// The RFC 5915 ECPrivateKey with its public key, so that Botan takes the point as given instead of
// multiplying again: SEQUENCE { 1, OCTET STRING d, [1] BIT STRING point }.
Botan::secure_vector<std::uint8_t> ec_private_key_der(std::span<const std::uint8_t, 32> scalar,
                                                      const std::array<std::uint8_t, 65>& point) {
  Botan::secure_vector<std::uint8_t> der;
  der.reserve(109);
  der.insert(der.end(), {0x30, 0x6B, 0x02, 0x01, 0x01, 0x04, 0x20});
  der.insert(der.end(), scalar.begin(), scalar.end());
  der.insert(der.end(), {0xA1, 0x44, 0x03, 0x42, 0x00});
  der.insert(der.end(), point.begin(), point.end());
  return der;
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
  P256State::destroy(p256_.release());
}

SigningKey SigningKey::ed25519_from_seed(std::span<const std::uint8_t, 32> seed) {
  crypto_detail::ensure_sodium();
  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> pk{};
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> sk{};
  if (crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data()) != 0)
    invariant_failure("Ed25519 key derivation failed");
  // Derived from a seed, the key is a curve point by construction: no decoding to check it.
  SigningKey key(KeySuite::Ed25519, own_aid(aid_from_ed25519_key(pk)),
                 crypto_detail::ed25519_key_from_derived(pk));
  key.ed25519_secret_ = sk;
  sodium_memzero(sk.data(), sk.size());
  return key;
}

std::expected<SigningKey, CryptoError> SigningKey::p256_from_scalar(
    std::span<const std::uint8_t, 32> scalar) {
  crypto_detail::ensure_sodium();
  if (!scalar_in_range(scalar))
    return std::unexpected(CryptoError::public_key(kSignatureErrorText));
  // The public point is computed once, by OpenSSL; Botan receives it with the scalar.
  const P256Point point = p256_public_point(scalar);
  SigningKey key(KeySuite::P256, own_aid(aid_from_p256_key(point.compressed)),
                 crypto_detail::p256_key_from_derived(point.compressed, point.uncompressed));
  try {
    key.p256_.reset(
        P256State::create(botan_p256_algorithm(), ec_private_key_der(scalar, point.uncompressed)));
  } catch (const std::exception&) {
    invariant_failure("P-256 key construction failed");
  }
  std::copy(scalar.begin(), scalar.end(), key.p256_scalar_.begin());
  return key;
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
  if (!key.p256_ || SigningKey::P256State::released_at_exit())
    invariant_failure("signing with a released key");
  SigningKey::P256State& state = *key.p256_;
  const std::lock_guard lock(state.mutex);
  try {
    // The nonce follows RFC 6979 with HMAC-SHA-256; the generator only blinds the arithmetic.
    if (!state.signer)
      state.signer = std::make_unique<Botan::PK_Signer>(state.key, Botan::system_rng(),
                                                        "EMSA1(SHA-256)", Botan::IEEE_1363);
    const std::vector<std::uint8_t> out =
        state.signer->sign_message(message.data(), message.size(), Botan::system_rng());
    if (out.size() != sig.size()) invariant_failure("signature operation failed");
    std::copy(out.begin(), out.end(), sig.begin());
  } catch (const std::exception&) {
    // A signer stopped half-way may hold part of a message: it is not used again.
    state.signer.reset();
    invariant_failure("signature operation failed");
  }
  return sig;
}

}  // namespace zelk
