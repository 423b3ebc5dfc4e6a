// The per-call context of the handshake methods, and ZelkAgent.new_session / new_responder.
#include "python/session.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/url/url.hpp"
#include "python/agent.hpp"
#include "python/clock.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

constexpr std::string_view kNoResolver =
    "no JWKS resolver configured for this session (pinned-key only)";

// The resolver of a session made without a JwksProvider: it has keys for no issuer.
class NoResolver final : public JwksResolver {
 public:
  [[nodiscard]] std::expected<std::vector<Jwk>, JwksResolverError> resolve(
      const url::Url&) const override {
    return std::unexpected(JwksResolverError::unavailable(std::string(kNoResolver)));
  }
};

const NoResolver g_no_resolver{};

constexpr Signature kNewSession{"ZelkAgent", "new_session", 0, {"jwks", "trust_anchors"}};
constexpr Signature kNewResponder{"ZelkAgent", "new_responder", 0, {"jwks", "trust_anchors"}};

// The given anchors as serialised URLs, in order; without them, the Manifest's own.
[[nodiscard]] Result<std::vector<std::string>> session_trust_anchors(
    const std::optional<std::vector<std::string>>& given, const Manifest& manifest) {
  if (!given) return manifest.accepted_trust_anchors;
  std::vector<std::string> anchors;
  anchors.reserve(given->size());
  for (const std::string& text : *given) {
    auto url = url::parse_url(text);
    if (!url)
      return fail(
          PyError::value_error("invalid trust anchor URL: " + std::string(url.error().message())));
    anchors.push_back(url->href());
  }
  return anchors;
}

template <class State>
[[nodiscard]] Result<Session<State>> make_session(BorrowedRef self, Call call,
                                                  const Signature& signature) {
  ZELK_PY_TRY(BoundArgs args, bind(signature, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  std::optional<SharedBorrow<JwksProviderCell>> provider;
  if (args.has_value(0)) {
    ZELK_PY_TRY(BorrowedRef jwks, arg(args, 0, to_jwks_provider));
    ZELK_PY_TRY(auto borrowed, borrow_shared<JwksProviderCell>(jwks));
    provider.emplace(std::move(borrowed));
  }
  ZELK_PY_TRY(std::optional<std::vector<std::string>> given, optional_arg(args, 1, to_text_list));
  if (!agent->manifest)
    return fail(PyError::runtime_error("call build_manifest() before creating a session"));
  Manifest manifest = *agent->manifest;
  ZELK_PY_TRY(std::vector<std::string> anchors, session_trust_anchors(given, manifest));
  HandshakeConfig config{
      .resolver = provider ? std::shared_ptr<const JwksState>((*provider)->state) : nullptr,
      .trust_anchors = std::move(anchors),
  };
  return Session<State>{.key = agent->key,
                        .manifest = std::move(manifest),
                        .config = std::move(config),
                        .state = State{}};
}

[[nodiscard]] Result<OwnedRef> new_session(BorrowedRef self, Call call) {
  ZELK_PY_TRY(auto session, make_session<InitiatorState>(self, call, kNewSession));
  return wrap_initiator_session(std::move(session));
}

[[nodiscard]] Result<OwnedRef> new_responder(BorrowedRef self, Call call) {
  ZELK_PY_TRY(auto session, make_session<ResponderState>(self, call, kNewResponder));
  return wrap_responder_session(std::move(session));
}

}  // namespace

template <class State>
Result<HandshakeContext> make_context(const Session<State>& session) {
  ZELK_PY_TRY(std::int64_t now, system_now_secs());
  // The session holds its provider's state, and the call holds the session.
  const JwksResolver& resolver = session.config.resolver
                                     ? static_cast<const JwksResolver&>(*session.config.resolver)
                                     : g_no_resolver;
  return HandshakeContext{.signing_key = *session.key,
                          .own_manifest = session.manifest,
                          .trust_anchors = session.config.trust_anchors,
                          .resolver = resolver,
                          .trust_store = nullptr,
                          .grant_policy = nullptr,
                          .tct_status_check = nullptr,
                          .now = now};
}

template Result<HandshakeContext> make_context(const Session<InitiatorState>&);
template Result<HandshakeContext> make_context(const Session<ResponderState>&);

PyMethodDef agent_new_session_method() {
  return method<new_session>(
      "new_session",
      "new_session($self, jwks=None, trust_anchors=None)\n--\n\n"
      "Starts an outbound handshake session (`InitiatorSession`) with a copy of this agent's\n"
      "Manifest, so `build_manifest` must have run. `jwks` is a `JwksProvider` through which\n"
      "OIDC peers are checked (without one only pinned-key peers pass); `trust_anchors` lists\n"
      "the OIDC issuer URLs accepted, by default the Manifest's accepted_trust_anchors.");
}

PyMethodDef agent_new_responder_method() {
  return method<new_responder>(
      "new_responder",
      "new_responder($self, jwks=None, trust_anchors=None)\n--\n\n"
      "Starts an inbound handshake session (`ResponderSession`); the arguments are those of\n"
      "`new_session`.");
}

}  // namespace zelk::py
