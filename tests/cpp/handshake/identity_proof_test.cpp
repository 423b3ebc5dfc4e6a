#include "handshake/identity_proof.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/aid.hpp"
#include "formats/base64url.hpp"
#include "handshake_fixture.hpp"

namespace zelk {
namespace {

const std::string kIdentity = "identity verification failed: ";
constexpr std::string_view kNonce = "AAECAwQFBgcICQoLDA0ODw";  // bytes 0..15
const Uuid kMessageId = *parse_uuid("0f8fad5b-d9cb-469f-a165-70867728950e");

class IdentityProof : public ::testing::Test {
 protected:
  SigningKey prover = test::ed_key(2);
  SigningKey verifier = test::ed_key(1);

  ProofBinding binding(const Aid& p, const Aid& v, std::int64_t timestamp = test::kNow,
                       std::string_view nonce = kNonce, Uuid id = kMessageId) const {
    return {.prover_aid = p,
            .verifier_aid = v,
            .message_id = id,
            .timestamp = timestamp,
            .nonce = nonce};
  }
  ProofBinding binding() const { return binding(prover.aid(), verifier.aid()); }

  IdentityDescriptor pinned_proof() const {
    auto d = build_identity_proof(PinnedKeyIdentity{"agent-2"}, binding(), prover);
    EXPECT_TRUE(d.has_value());
    return d ? *d : IdentityDescriptor{};
  }

  static std::string error_of(const IdentityDescriptor& d, const ProofBinding& b) {
    auto r = verify_pinned_identity(d, b);
    return r ? "(verified)" : r.error().message();
  }
};

TEST(PopNonce, SixteenFreshBytes) {
  auto a = new_pop_nonce();
  auto b = new_pop_nonce();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->size(), 22u);
  EXPECT_EQ(b64url_decode(*a)->size(), 16u);
  EXPECT_NE(*a, *b);
}

TEST_F(IdentityProof, SigningInputLayout) {
  const Aid& p = prover.aid();
  const Aid& v = verifier.aid();
  for (std::int64_t ts : {std::int64_t{0}, std::int64_t{-42}, std::int64_t{1700000000},
                          std::numeric_limits<std::int64_t>::min()}) {
    auto input = pinned_key_signing_input(binding(p, v, ts));
    ASSERT_TRUE(input.has_value());
    const std::string ts_text = std::to_string(ts);
    std::string expected = std::string("zelk-pinned-key-v1") + '\0' + p.text() + '\0' + v.text() +
                           '\0' + "0f8fad5b-d9cb-469f-a165-70867728950e" + '\0' + ts_text + '\0';
    for (int i = 0; i < 16; ++i) expected += static_cast<char>(i);
    EXPECT_EQ(as_text(*input), expected);
    EXPECT_EQ(input->size(), p.text().size() + v.text().size() + ts_text.size() + 75);
  }
  for (std::string_view bad : {"AAECAwQFBgcICQoLDA0ODw==", "AAECAwQFBgcICQoLDA0OD+", "A"}) {
    auto r = pinned_key_signing_input(binding(p, v, 0, bad));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), kIdentity + "pop_nonce is not valid base64url");
  }
}

TEST_F(IdentityProof, PinnedKeyDescriptor) {
  const IdentityDescriptor d = pinned_proof();
  EXPECT_EQ(d.type, IdentityType::PinnedKey);
  EXPECT_FALSE(d.issuer);
  EXPECT_EQ(d.subject, "agent-2");
  EXPECT_EQ(d.proof.size(), 86u);
  EXPECT_EQ(d.public_key, b64url_encode(prover.public_key()));
  EXPECT_FALSE(d.extensions);
  EXPECT_EQ(error_of(d, binding()), "(verified)");
}

TEST_F(IdentityProof, P256KeyCannotMakeAPinnedKeyProof) {
  const SigningKey p256 = test::p256_key(4);
  auto r = build_identity_proof(PinnedKeyIdentity{"x"}, binding(p256.aid(), verifier.aid()), p256);
  ASSERT_FALSE(r.has_value());
  const std::string detail =
      "pinned_key identity requires an Ed25519 signing key (v0.1 wire format encodes a 32-byte "
      "raw public key); use OIDC identity for P-256 agents";
  EXPECT_EQ(detail.size(), 139u);
  EXPECT_EQ(r.error().message(), kIdentity + detail);
}

TEST_F(IdentityProof, ProofIsBoundToEachItem) {
  const IdentityDescriptor d = pinned_proof();
  const Aid prover_long = test::long_form(prover.aid());
  const SigningKey third = test::ed_key(3);
  const Uuid other_id = *parse_uuid("0f8fad5b-d9cb-469f-a165-70867728950f");
  const std::string other_nonce = "AQECAwQFBgcICQoLDA0ODw";
  const std::vector<std::pair<const char*, ProofBinding>> cases = {
      {"prover (same key, long form)", binding(prover_long, verifier.aid())},
      {"verifier", binding(prover.aid(), third.aid())},
      {"message id", binding(prover.aid(), verifier.aid(), test::kNow, kNonce, other_id)},
      {"timestamp", binding(prover.aid(), verifier.aid(), test::kNow + 1)},
      {"nonce", binding(prover.aid(), verifier.aid(), test::kNow, other_nonce)},
  };
  for (const auto& [what, b] : cases)
    EXPECT_EQ(error_of(d, b), kIdentity + "pinned_key signature invalid") << what;
}

TEST_F(IdentityProof, PinnedKeyRefusalsInOrder) {
  const IdentityDescriptor good = pinned_proof();
  auto with = [&](auto change) {
    IdentityDescriptor d = good;
    change(d);
    return d;
  };
  // An AID whose 32 bytes are no curve point.
  std::array<std::uint8_t, 32> not_point{};
  for (std::uint8_t b = 2; b < 255; ++b) {
    not_point[0] = b;
    if (!ed25519_key_from_bytes(not_point)) break;
  }
  const Aid off_curve = *parse_aid(aid_from_ed25519_key(not_point));
  const SigningKey p256 = test::p256_key(4);
  const std::string other_key = b64url_encode(test::ed_key(3).public_key());

  struct Case {
    const char* what;
    IdentityDescriptor d;
    ProofBinding b;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"P-256 prover", with([](auto& d) { d.public_key.reset(); }),
       binding(p256.aid(), verifier.aid()), "pinned_key requires an Ed25519 sender AID"},
      {"no public_key", with([](auto& d) { d.public_key.reset(); }), binding(),
       "pinned_key missing public_key"},
      {"padded public_key", with([](auto& d) { *d.public_key += "="; }), binding(),
       "public_key malformed base64url"},
      {"44 characters", with([](auto& d) { *d.public_key += "A"; }), binding(),
       "public_key must decode to 32 bytes"},
      {"another key", with([&](auto& d) { d.public_key = other_key; }), binding(),
       "public_key does not match sender AID"},
      {"no curve point", with([&](auto& d) { d.public_key = b64url_encode(not_point); }),
       binding(off_curve, verifier.aid()), "public_key not Ed25519"},
      {"bad nonce with bad proof", with([](auto& d) { d.proof = "x"; }),
       binding(prover.aid(), verifier.aid(), test::kNow, "!"), "pop_nonce is not valid base64url"},
      {"proof not signature text", with([](auto& d) { d.proof = "x"; }), binding(),
       "proof malformed"},
      {"proof with p256 prefix", with([](auto& d) { d.proof = "p256." + d.proof; }), binding(),
       "pinned_key signature invalid"},
      {"long-form prefix", with([](auto& d) { d.proof = "ed25519." + d.proof; }), binding(), ""},
  };
  for (const Case& c : cases) {
    const std::string expected = c.error.empty() ? "(verified)" : kIdentity + c.error;
    EXPECT_EQ(error_of(c.d, c.b), expected) << c.what;
  }
}

TEST_F(IdentityProof, OidcFormsNeedNoKeyAndCheckNoToken) {
  const SigningKey p256 = test::p256_key(4);
  std::vector<std::string> nonces;
  OidcMintedIdentity minted{test::url_of("https://IdP.example"), "alice",
                            [&nonces](std::string_view nonce) {
                              nonces.emplace_back(nonce);
                              return std::expected<std::string, std::string>("not.a.jwt");
                            }};
  auto d = build_identity_proof(minted, binding(), p256);
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(nonces, std::vector<std::string>{std::string(kNonce)});
  const IdentityDescriptor expected{IdentityType::Oidc, "https://idp.example/", "alice",
                                    "not.a.jwt",        std::nullopt,           std::nullopt};
  EXPECT_EQ(*d, expected);

  OidcIdentity fixed{test::url_of("https://idp.example/"), "alice", "not.a.jwt"};
  auto f = build_identity_proof(fixed, binding(), p256);
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(*f, expected);
}

TEST_F(IdentityProof, MinterFailuresAndPanics) {
  OidcMintedIdentity failing{test::url_of("https://idp.example/"), "alice", [](std::string_view) {
                               return std::expected<std::string, std::string>(
                                   std::unexpected("oidc_mint_jwt raised: ValueError: no"));
                             }};
  auto r = build_identity_proof(failing, binding(), prover);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(),
            kIdentity + "oidc mint_jwt callback failed: oidc_mint_jwt raised: ValueError: no");

  OidcMintedIdentity panicking{test::url_of("https://idp.example/"), "alice",
                               [](std::string_view) -> std::expected<std::string, std::string> {
                                 throw std::runtime_error("panic");
                               }};
  EXPECT_THROW((void)build_identity_proof(panicking, binding(), prover), std::runtime_error);
}

}  // namespace
}  // namespace zelk
