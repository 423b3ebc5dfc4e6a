// Keys in static storage are destroyed at exit, possibly after the libraries have released their
// own state. The program passes when it signs with each key and then exits cleanly.
#include <cstdio>
#include <memory>
#include <optional>

#include "crypto/keys.hpp"

namespace {

using zelk::KeySuite;
using zelk::SigningKey;

// Made empty before any key exists, so it is destroyed after everything a key brings up.
std::optional<SigningKey>& early_holder() {
  static std::optional<SigningKey> holder;
  return holder;
}

const SigningKey& static_key(KeySuite suite) {
  static const SigningKey p256 = std::move(*zelk::generate_key(KeySuite::P256));
  static const SigningKey ed25519 = std::move(*zelk::generate_key(KeySuite::Ed25519));
  return suite == KeySuite::P256 ? p256 : ed25519;
}

std::shared_ptr<const SigningKey>& shared_holder() {
  static std::shared_ptr<const SigningKey> holder;
  return holder;
}

bool signs(const SigningKey& key) {
  const std::uint8_t message[] = {'m'};
  const zelk::Signature64 sig = zelk::sign_bytes(key, message);
  return zelk::verify_signature_bytes(key.verifying_key(), message, sig).has_value();
}

}  // namespace

int main() {
  early_holder();
  shared_holder();
  early_holder().emplace(std::move(*zelk::generate_key(KeySuite::P256)));
  shared_holder() =
      std::make_shared<const SigningKey>(std::move(*zelk::generate_key(KeySuite::P256)));
  const bool ok = signs(*early_holder()) && signs(*shared_holder()) &&
                  signs(static_key(KeySuite::P256)) && signs(static_key(KeySuite::Ed25519));
  if (!ok) {
    std::fputs("a key in static storage did not sign\n", stderr);
    return 1;
  }
  return 0;
}
