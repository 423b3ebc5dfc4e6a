// ZelkAgent.build_manifest: the agent's signed Manifest from the caller's description, cached in
// the agent for the sessions made later and returned as envelope JSON.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/base64url.hpp"
#include "formats/url/url.hpp"
#include "manifest/builder.hpp"
#include "python/agent.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

constexpr Signature kBuildManifest{
    "ZelkAgent",
    "build_manifest",
    3,
    {"display_name", "handshake_endpoint", "offered_caps", "required_caps", "ttl_secs",
     "identity_type", "oidc_issuer", "oidc_subject", "accepted_trust_anchors"}};

constexpr std::string_view kPinnedKey = "pinned_key";
constexpr std::string_view kOidc = "oidc";
// Not the builder's own default of a day: a Manifest published from Python lives an hour.
constexpr std::int64_t kDefaultTtlSecs = 3600;

// The arguments after conversion. The views point into the bound argument objects, which the
// call holds until it returns.
struct ManifestArgs {
  std::string_view display_name;
  std::string_view handshake_endpoint;
  std::vector<std::string> offered_caps;
  std::optional<std::vector<std::string>> required_caps;
  std::optional<std::int64_t> ttl_secs;
  std::string_view identity_type;
  std::optional<std::string_view> oidc_issuer;
  std::optional<std::string_view> oidc_subject;
  std::optional<std::vector<std::string>> accepted_trust_anchors;
};

// In signature order, so the first wrongly typed argument is the one reported.
[[nodiscard]] Result<ManifestArgs> convert_args(const BoundArgs& args) {
  ManifestArgs out;
  ZELK_PY_TRY(out.display_name, arg(args, 0, to_text));
  ZELK_PY_TRY(out.handshake_endpoint, arg(args, 1, to_text));
  ZELK_PY_TRY(out.offered_caps, arg(args, 2, to_text_list));
  ZELK_PY_TRY(out.required_caps, optional_arg(args, 3, to_text_list));
  ZELK_PY_TRY(out.ttl_secs, optional_arg(args, 4, to_i64));
  ZELK_PY_TRY(out.identity_type, arg_or(args, 5, to_text, kPinnedKey));
  ZELK_PY_TRY(out.oidc_issuer, optional_arg(args, 6, to_text));
  ZELK_PY_TRY(out.oidc_subject, optional_arg(args, 7, to_text));
  ZELK_PY_TRY(out.accepted_trust_anchors, optional_arg(args, 8, to_text_list));
  return out;
}

// `what` names the argument in the message: "invalid <what> URL: <failure>".
[[nodiscard]] Result<url::Url> parse_url_argument(std::string_view text, std::string_view what) {
  auto parsed = url::parse_url(text);
  if (!parsed) {
    std::string message = "invalid ";
    message += what;
    message += " URL: ";
    message += parsed.error().message();
    return fail(PyError::value_error(std::move(message)));
  }
  return std::move(*parsed);
}

// The identity hint of the chosen identity type, and the trust anchors that apply when the
// caller names none.
struct Identity {
  IdentityHint hint;
  std::vector<url::Url> default_anchors;
};

[[nodiscard]] Result<Identity> select_identity(const ManifestArgs& a, const SigningKey& key) {
  if (a.identity_type == kOidc) {
    if (!a.oidc_issuer)
      return fail(PyError::value_error("oidc_issuer is required when identity_type='oidc'"));
    if (!a.oidc_subject)
      return fail(PyError::value_error("oidc_subject is required when identity_type='oidc'"));
    ZELK_PY_TRY(url::Url issuer, parse_url_argument(*a.oidc_issuer, "oidc_issuer"));
    Identity identity;
    identity.hint.type = IdentityType::Oidc;
    identity.hint.subject = std::string(*a.oidc_subject);
    identity.hint.issuer = issuer.href();
    identity.default_anchors.push_back(std::move(issuer));
    return identity;
  }
  if (a.identity_type == kPinnedKey) {
    // The hint's public_key member carries a raw Ed25519 key only.
    if (key.suite() != KeySuite::Ed25519)
      return fail(PyError::runtime_error(
          "pinned_key identity_hint with a P-256 agent key is not supported; the manifest's "
          "identity_hint.public_key is Ed25519-only in v0.1"));
    Identity identity;
    identity.hint.type = IdentityType::PinnedKey;
    identity.hint.subject = std::string(a.display_name);
    identity.hint.public_key = b64url_encode(key.public_key());
    return identity;
  }
  std::string message = "unknown identity_type '";
  message += a.identity_type;
  message += "': expected 'pinned_key' or 'oidc'";
  return fail(PyError::value_error(std::move(message)));
}

// Given anchors replace the default list entirely; the first that does not parse is reported.
[[nodiscard]] Result<std::vector<url::Url>> trust_anchors(const ManifestArgs& a,
                                                          Identity& identity) {
  if (!a.accepted_trust_anchors) return std::move(identity.default_anchors);
  std::vector<url::Url> anchors;
  anchors.reserve(a.accepted_trust_anchors->size());
  for (const std::string& text : *a.accepted_trust_anchors) {
    ZELK_PY_TRY(url::Url anchor, parse_url_argument(text, "accepted_trust_anchors"));
    anchors.push_back(std::move(anchor));
  }
  return anchors;
}

[[nodiscard]] Result<OwnedRef> build_manifest(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kBuildManifest, call));
  ZELK_PY_TRY(auto agent, borrow_exclusive<AgentCell>(self));
  ZELK_PY_TRY(ManifestArgs a, convert_args(args));

  ZELK_PY_TRY(url::Url endpoint, parse_url_argument(a.handshake_endpoint, "handshake_endpoint"));
  const SigningKey& key = *agent->key;
  ZELK_PY_TRY(Identity identity, select_identity(a, key));

  ManifestBuilder builder(key);
  builder.set_display_name(std::string(a.display_name))
      .set_handshake_endpoint(endpoint)
      .add_accepted_identity_type(std::string(a.identity_type))
      .set_ttl_secs(a.ttl_secs.value_or(kDefaultTtlSecs));
  ZELK_PY_TRY(std::vector<url::Url> anchors, trust_anchors(a, identity));
  builder.set_identity_hint(std::move(identity.hint));
  for (const url::Url& anchor : anchors) builder.add_accepted_trust_anchor(anchor);
  for (std::string& cap : a.offered_caps) builder.add_offered_capability(std::move(cap));
  if (a.required_caps)
    for (std::string& cap : *a.required_caps) builder.add_required_peer_capability(std::move(cap));

  auto manifest = build_signed_manifest(std::move(builder));
  if (!manifest)
    return fail(PyError::runtime_error("manifest build failed: " + manifest.error().message()));
  // Written only now that the build has succeeded, so a failed call keeps the earlier Manifest.
  agent->manifest = std::move(*manifest);
  return py_str(encode_manifest_envelope(*agent->manifest));
}

}  // namespace

PyMethodDef agent_build_manifest_method() {
  return method<build_manifest>(
      "build_manifest",
      "build_manifest($self, display_name, handshake_endpoint, offered_caps, required_caps=None, "
      "ttl_secs=None, identity_type=\"pinned_key\", oidc_issuer=None, oidc_subject=None, "
      "accepted_trust_anchors=None)\n--\n\n"
      "Builds and signs this agent's Manifest, keeps it for the sessions made afterwards and\n"
      "returns it as ManifestEnvelope JSON.\n"
      "\n"
      "`handshake_endpoint`, `oidc_issuer` and every trust anchor are URLs, stored in their\n"
      "normalised form. `identity_type` is \"pinned_key\" (an Ed25519 agent only; the hint\n"
      "carries the agent's public key) or \"oidc\" (needs `oidc_issuer` and `oidc_subject`;\n"
      "the issuer is then the default trust anchor). The Manifest is valid for `ttl_secs`\n"
      "seconds, 3600 by default.");
}

}  // namespace zelk::py
