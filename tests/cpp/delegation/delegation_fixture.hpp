#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../tct/tct_test_util.hpp"
#include "delegation/claims.hpp"
#include "formats/json/canonical.hpp"
#include "tct/claims.hpp"

namespace zelk::test {

inline constexpr std::string_view kSrcJti = "0f8fad5b-d9cb-469f-a165-70867728950e";

inline Uuid uuid(std::string_view text) {
  return *parse_uuid(text);
}

// A grantor that issued `alice` a voucher, alice, and the agents she and they delegate to.
// Tokens are built by the library's own signer unless a test forges one from edited text.
struct Parties {
  SigningKey grantor = ed_key(1);
  SigningKey alice = ed_key(2);
  SigningKey bob = ed_key(3);
  SigningKey carol = ed_key(4);
  SigningKey dave = ed_key(6);
  SigningKey p256 = p256_key(5);

  GrantVoucherClaims voucher_claims(const SigningKey& to) const {
    return {.ver = "zelk/0.2",
            .iss = grantor.aid(),
            .sub = to.aid(),
            .grants = {"read", "write", "admin"},
            .iat = kNow - 60,
            .exp = kNow + 600,
            .src_jti = uuid(kSrcJti),
            .ext = std::nullopt};
  }
  std::string voucher(const GrantVoucherClaims& claims, const SigningKey* signer = nullptr) const {
    return *encode_grant_voucher_jws(signer ? *signer : grantor, claims);
  }
  std::string voucher() const { return voucher(voucher_claims(alice)); }

  // A hop from `from` to `to`, addressed to the grantor.
  DelegationClaims hop(const SigningKey& from, const SigningKey& to,
                       std::vector<std::string> scope = {"read"}) const {
    DelegationClaims c;
    c.ver = "zelk/0.2";
    c.iss = from.aid();
    c.sub = to.aid();
    c.aud = grantor.aid();
    c.scope = std::move(scope);
    c.exp = kNow + 300;
    c.cnf.jkt = *jwk_thumbprint(to.verifying_key());
    return c;
  }
  // The single hop alice -> bob carrying alice's voucher.
  DelegationClaims first_hop() const {
    DelegationClaims c = hop(alice, bob);
    c.voucher = voucher();
    return c;
  }
  static std::string sign(const SigningKey& signer, const DelegationClaims& claims) {
    return *build_delegation_token(signer, claims);
  }
};

inline std::string canonical_payload(const DelegationClaims& claims) {
  return *json::canonical_json(delegation_claims_to_value(claims));
}

// A token over an edited payload text, as a foreign encoder could send it.
inline std::string forge_delegation(const SigningKey& signer, std::string_view payload,
                                    std::string_view typ = kDelegationTyp) {
  return forge_typed(signer, typ, payload);
}

// `text` with `member` (a "name":value pair) inserted as the object's first member.
inline std::string with_first_member(std::string text, std::string_view member) {
  text.insert(1, std::string(member) + ",");
  return text;
}

}  // namespace zelk::test
