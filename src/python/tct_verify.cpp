// The one road of TCT verification from Python: take the token apart once, read its claims to
// learn the issuer, verify that same parsed token with the core verifier, then require the
// asked grant.
#include "python/tct_verify.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "core/aid.hpp"
#include "crypto/jws.hpp"
#include "formats/utf8.hpp"
#include "python/clock.hpp"
#include "python/revocation_set.hpp"
#include "tct/verify.hpp"

namespace zelk::py {
namespace {

[[nodiscard]] Result<Aid> expected_audience_aid(std::string_view text) {
  auto aid = parse_aid(text);
  if (aid) return std::move(*aid);
  std::string message = "bad expected_audience AID '";
  message += text;
  message += "': ";
  message += aid.error().message();
  return fail(PyError::value_error(std::move(message)));
}

// Code points the quoted list writes as \u{...}: controls, and the invisible format and
// separator characters that would otherwise hide inside a message.
bool unprintable(std::uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x2064) || cp == 0xFEFF;
}

void append_code_point_escape(std::string& out, std::uint32_t cp) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u{";
  int shift = 28;
  while (shift > 0 && ((cp >> shift) & 0xF) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
  out += '}';
}

// Not json::append_quoted_for_message, on purpose: the two fixed texts differ. This list is read
// by whoever asked for the missing grant, so it shows grants as typed and escapes only controls
// and the invisible characters of unprintable(); the JSON messages show any string unambiguously
// and also escape spaces other than U+0020, marks, private-use and unassigned code points. A byte
// that starts no sequence is \u{fffd} here, \x{h} of the byte there; and here overlong forms,
// surrogates and values past U+10FFFF decode as code points (so an overlong NUL is \0) where there
// each of their bytes is \x{h}. Grants come from the JSON reader, which yields valid UTF-8, so only
// the first difference shows in practice.
void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Sequence seq = decode_utf8<Utf8Policy::Lax>(text, i);
    const std::uint32_t cp = seq.cp;
    const std::size_t len = seq.valid ? seq.length : 1;
    if (!seq.valid) {
      append_code_point_escape(out, 0xFFFD);
    } else if (cp == '"') {
      out += "\\\"";
    } else if (cp == '\\') {
      out += "\\\\";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == 0) {
      out += "\\0";
    } else if (unprintable(cp)) {
      append_code_point_escape(out, cp);
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  out += '"';
}

}  // namespace

std::string missing_grant_message(std::string_view required_grant,
                                  std::span<const std::string> grants) {
  std::string out = "TCT does not grant '";
  out += required_grant;
  out += "'; grants: [";
  for (std::size_t i = 0; i < grants.size(); ++i) {
    if (i != 0) out += ", ";
    append_quoted(out, grants[i]);
  }
  out += ']';
  return out;
}

Result<ParsedTct> parse_tct(std::string_view token) {
  auto parsed = ParsedTct::parse(token);
  if (!parsed)
    return fail(PyError::value_error("malformed TCT compact JWS: " + parsed.error().message()));
  if (const auto& payload = parsed->jws().payload_bytes(); !payload)
    return fail(PyError::value_error("malformed TCT compact JWS: " + payload.error().message()));
  if (const auto& claims = parsed->claims(); !claims)
    return fail(PyError::value_error("invalid TCT claims: " + claims.error().full()));
  return std::move(*parsed);
}

Result<TctIdentity> verify_tct_and_grant(const Agent& agent, std::string_view token,
                                         std::string_view required_grant,
                                         std::optional<std::string_view> expected_audience,
                                         const RevokedJtiSet* revoked, std::string* aud_out) {
  ZELK_PY_TRY(ParsedTct parsed, parse_tct(token));
  std::optional<Aid> given_audience;
  if (expected_audience) {
    ZELK_PY_TRY(given_audience, expected_audience_aid(*expected_audience));
  }
  const Aid& audience = given_audience ? *given_audience : agent.key->aid();

  // Shares the caller's set for this one call instead of copying it.
  RevocationCheck check;
  if (revoked != nullptr) check = revocation_check_over(*revoked);

  ZELK_PY_TRY(std::int64_t now, system_now_secs());

  const TctVerifyOptions options{
      .issuer = parsed.claims()->iss,
      .expected_audience = audience,
      .now = now,
      .revocation = revoked != nullptr ? &check : nullptr,
  };
  auto verified = verify_tct_jws(parsed, options);
  if (!verified)
    return fail(PyError::runtime_error("TCT verification failed: " + verified.error().message()));

  TctClaims claims = std::move(*verified).take_claims();
  if (std::find(claims.grants.begin(), claims.grants.end(), required_grant) == claims.grants.end())
    return fail(PyError::runtime_error(missing_grant_message(required_grant, claims.grants)));
  if (aud_out != nullptr) *aud_out = claims.aud.text();
  return TctIdentity{
      .peer_aid = claims.iss.text(),
      .grants = std::move(claims.grants),
      .expires_at = claims.exp,
      .jti = claims.jti.to_string(),
  };
}

}  // namespace zelk::py
