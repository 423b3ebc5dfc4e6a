// compute_aid_jkt: the RFC 7638 thumbprint of the key an AID names, the cnf.jkt value an
// identity provider binds into a token minted for that agent.
#include <string>
#include <string_view>

#include "core/aid.hpp"
#include "crypto/keys.hpp"
#include "python/manifest.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"

namespace zelk::py {
namespace {

constexpr Signature kComputeAidJkt{"", "compute_aid_jkt", 1, {"aid"}};

[[nodiscard]] Result<OwnedRef> compute_aid_jkt(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kComputeAidJkt, call));
  ZELK_PY_TRY(std::string_view text, arg(args, 0, to_text));
  auto aid = parse_aid(text);
  if (!aid) {
    std::string message = "invalid AID '";
    message += text;
    message += "': ";
    message += aid.error().message();
    return fail(PyError::value_error(std::move(message)));
  }
  auto key = verifying_key_from_aid(*aid);
  if (!key)
    return fail(PyError::value_error("AID has invalid key bytes: " + key.error().message()));
  auto jkt = jwk_thumbprint(*key);
  if (!jkt) return fail(PyError::value_error("jkt computation failed: " + jkt.error().message()));
  return py_str(*jkt);
}

}  // namespace

PyMethodDef& compute_aid_jkt_function() {
  static PyMethodDef def = module_function<compute_aid_jkt>(
      "compute_aid_jkt",
      "compute_aid_jkt(aid)\n--\n\n"
      "The RFC 7638 JWK thumbprint (43 base64url characters) of the public key that `aid`\n"
      "encodes: the `cnf.jkt` an identity provider puts into a token minted for that agent.");
  return def;
}

}  // namespace zelk::py
