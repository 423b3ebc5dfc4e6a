// OIDC identity tokens against a fixed provider key set. The lenient header and claims readers are
// checked text path against value path; then the header and claims are signed by the key the
// first byte names, so the claim checks after the signature are reached. An accepted token was
// signed by the key its header selects, under that key's alg, and its claims pass every check.
#include <cstdlib>

#include "crypto/jwk.hpp"
#include "formats/base64url.hpp"
#include "fuzz_support.hpp"
#include "handshake/jwks.hpp"
#include "handshake/oidc_claims.hpp"
#include "handshake/oidc_verify.hpp"
#include "handshake/payloads.hpp"

namespace {

using namespace zelk;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::string_view kIssuer = "https://idp.example/";
constexpr std::string_view kNonce = "bm9uY2U";

class FixedResolver final : public JwksResolver {
 public:
  mutable int calls = 0;
  std::expected<std::vector<Jwk>, JwksResolverError> resolve(const url::Url&) const override {
    ++calls;
    return fuzz::provider_jwks();
  }
};

template <typename T>
void check_lenient(std::string_view text,
                   std::expected<T, json::JsonError> (*decode)(std::string_view)) {
  fuzz::check_record_reader(text, decode, json::record_from_value<T>, json::record_to_value<T>);
  fuzz::check_preparsed_read<T>(text);
}

}  // namespace

// First byte: the signing key (0 Ed25519, 1 P-256, 2 RSA); then the header text, a newline and
// the claims text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t which = data[0] % 3;
  const std::string_view rest = fuzz::text_of(data + 1, size - 1);
  const std::size_t newline = rest.find('\n');
  if (newline == std::string_view::npos) return 0;
  const std::string_view header_text = rest.substr(0, newline);
  const std::string_view claims_text = rest.substr(newline + 1);
  check_lenient<JwtHeader>(header_text, decode_jwt_header);
  check_lenient<OidcClaims>(claims_text, decode_oidc_claims);

  std::string token = b64url_encode(as_bytes(header_text));
  token += '.';
  b64url_encode_append(as_bytes(claims_text), token);
  const Bytes signature = fuzz::provider_sign(which, token);
  token += '.';
  b64url_encode_append(signature, token);

  auto claims = decode_oidc_claims(claims_text);
  IdentityDescriptor descriptor{.type = IdentityType::Oidc,
                                .issuer = std::string(kIssuer),
                                .subject = claims ? claims->sub : "sub",
                                .proof = token,
                                .public_key = std::nullopt,
                                .extensions = std::nullopt};
  const std::string anchors[] = {std::string(kIssuer)};
  FixedResolver resolver;
  const Aid& me = fuzz::ed25519_key().aid();
  const Aid& subject = fuzz::peer_key().aid();
  const OidcVerifyContext context{.expected_audience = me.text(),
                                  .expected_nonce = kNonce,
                                  .trust_anchors = anchors,
                                  .resolver = resolver,
                                  .subject_aid = subject,
                                  .now = kNow};
  auto verified = verify_oidc_identity(descriptor, context);
  ZELK_FUZZ_CHECK(resolver.calls <= 1, token);
  if (!verified) return 0;

  auto header = decode_jwt_header(header_text);
  ZELK_FUZZ_CHECK(header && claims, token);
  const std::vector<Jwk>& keys = fuzz::provider_jwks();
  ZELK_FUZZ_CHECK(select_jwk(keys, header->kid) == &keys[which], token);
  ZELK_FUZZ_CHECK(header->alg == jwk_alg_name(keys[which].alg()), header->alg);
  ZELK_FUZZ_CHECK(claims->iss == kIssuer && claims->sub == descriptor.subject, token);
  ZELK_FUZZ_CHECK(aud_contains(claims->aud, me.text()), token);
  ZELK_FUZZ_CHECK(claims->exp > kNow, token);
  ZELK_FUZZ_CHECK(
      claims->iat >= kNow - kOidcIatToleranceSecs && claims->iat <= kNow + kOidcIatToleranceSecs,
      token);
  ZELK_FUZZ_CHECK(claims->nonce == kNonce, token);
  ZELK_FUZZ_CHECK(claims->cnf && claims->cnf->jkt == *aid_thumbprint(subject), token);
  // The same token carried with another trust anchor list is refused before any key is asked.
  FixedResolver unused;
  const OidcVerifyContext untrusted{.expected_audience = me.text(),
                                    .expected_nonce = kNonce,
                                    .trust_anchors = {},
                                    .resolver = unused,
                                    .subject_aid = subject,
                                    .now = kNow};
  ZELK_FUZZ_CHECK(!verify_oidc_identity(descriptor, untrusted) && unused.calls == 0, token);
  return 0;
}
