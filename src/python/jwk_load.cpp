#include "python/jwk_load.hpp"

#include <string>
#include <utility>

#include "formats/base64url.hpp"
#include "formats/json/parse.hpp"
#include "python/runtime/convert.hpp"

namespace zelk::py {
namespace {

[[nodiscard]] std::unexpected<JwkError> malformed(std::string detail) {
  return std::unexpected(JwkError{JwkError::Kind::Malformed, std::move(detail)});
}

[[nodiscard]] std::unexpected<JwkError> unsupported(std::string detail) {
  return std::unexpected(JwkError{JwkError::Kind::Unsupported, std::move(detail)});
}

const std::string* string_member(const json::Object& object, std::string_view name) {
  const json::Value* value = object.find(name);
  return value != nullptr && value->is_string() ? &value->as_string() : nullptr;
}

// x, y, n and e: a string in strict unpadded base64url.
[[nodiscard]] std::expected<Bytes, JwkError> byte_member(const json::Object& object,
                                                         std::string_view name) {
  const std::string* text = string_member(object, name);
  if (text == nullptr) return malformed("jwk missing " + std::string(name));
  auto bytes = b64url_decode(*text);
  if (!bytes) return malformed(std::string(name) + ": " + std::string(bytes.error().message()));
  return std::move(*bytes);
}

// A coordinate of exactly 32 bytes; `what` names it in the message ("EC x").
[[nodiscard]] std::expected<Bytes, JwkError> coordinate(const json::Object& object,
                                                        std::string_view name,
                                                        std::string_view what) {
  auto bytes = byte_member(object, name);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (bytes->size() != 32)
    return malformed(std::string(what) + " must decode to 32 bytes, got " +
                     std::to_string(bytes->size()));
  return std::move(*bytes);
}

std::span<const std::uint8_t, 32> first32(const Bytes& bytes) {
  return std::span<const std::uint8_t, 32>(bytes.data(), 32);
}

// The "crv" text, empty when it is missing or not a string.
std::string_view curve(const json::Object& object) {
  const std::string* crv = string_member(object, "crv");
  return crv != nullptr ? std::string_view(*crv) : std::string_view();
}

// json.dumps(element), with the interpreter's json module; its failures pass through unchanged.
[[nodiscard]] Result<OwnedRef> dumps(BorrowedRef element) {
  OwnedRef json_module = OwnedRef::steal(PyImport_ImportModule("json"));
  if (!json_module) return fail(PyError::fetch());
  OwnedRef fn = OwnedRef::steal(PyObject_GetAttrString(json_module.get(), "dumps"));
  if (!fn) return fail(PyError::fetch());
  OwnedRef text = OwnedRef::steal(PyObject_CallFunctionObjArgs(fn.get(), element.get(), nullptr));
  if (!text) return fail(PyError::fetch());
  return text;
}

[[nodiscard]] Result<Jwk> load_one(BorrowedRef element, std::size_t index) {
  const std::string at = "JWK at index " + std::to_string(index);
  if (!PyDict_Check(element.get())) return fail(PyError::value_error(at + " must be a dict"));
  ZELK_PY_TRY(OwnedRef text_obj, dumps(element));
  ZELK_PY_TRY(std::string_view text, to_text(text_obj.borrow()));
  // NaN, Infinity and lone surrogate escapes are what json.dumps writes and strict JSON refuses.
  auto value = json::parse_value(text);
  if (!value)
    return fail(PyError::runtime_error("could not re-parse JWK JSON: " + value.error().full()));
  auto jwk = jwk_from_value(*value);
  if (!jwk) return fail(PyError::value_error(at + " invalid: " + jwk.error().message()));
  return std::move(*jwk);
}

}  // namespace

std::string JwkError::message() const {
  return (kind == Kind::Unsupported ? "unsupported JWK: " : "malformed JWK: ") + detail;
}

std::expected<Jwk, JwkError> jwk_from_value(const json::Value& value) {
  static const json::Object kEmpty;
  const json::Object& object = value.is_object() ? value.as_object() : kEmpty;
  std::optional<std::string> kid;
  if (const std::string* text = string_member(object, "kid")) kid = *text;
  const std::string* kty = string_member(object, "kty");
  if (kty == nullptr) return malformed("jwk missing kty");

  if (*kty == "EC") {
    const std::string_view crv = curve(object);
    if (crv != "P-256") return unsupported("EC crv=" + std::string(crv));
    auto x = coordinate(object, "x", "EC x");
    if (!x) return std::unexpected(std::move(x.error()));
    auto y = coordinate(object, "y", "EC y");
    if (!y) return std::unexpected(std::move(y.error()));
    return Jwk::p256(std::move(kid), first32(*x), first32(*y));
  }
  if (*kty == "OKP") {
    const std::string_view crv = curve(object);
    if (crv != "Ed25519") return unsupported("OKP crv=" + std::string(crv));
    auto x = coordinate(object, "x", "OKP x");
    if (!x) return std::unexpected(std::move(x.error()));
    return Jwk::ed25519(std::move(kid), first32(*x));
  }
  if (*kty == "RSA") {
    auto n = byte_member(object, "n");
    if (!n) return std::unexpected(std::move(n.error()));
    auto e = byte_member(object, "e");
    if (!e) return std::unexpected(std::move(e.error()));
    return Jwk::rsa(std::move(kid), std::move(*n), std::move(*e));
  }
  return unsupported("kty=" + *kty);
}

Result<std::vector<Jwk>> load_jwk_list(BorrowedRef list) {
  // Python code run by json.dumps may shrink the list: its length is read again at every step,
  // and each element is held by a reference of our own while it is converted.
  const Py_ssize_t initial = PyList_Size(list.get());
  std::vector<Jwk> keys;
  if (initial > 0) keys.reserve(static_cast<std::size_t>(initial));
  for (Py_ssize_t i = 0; i < initial && i < PyList_Size(list.get()); ++i) {
    OwnedRef element = OwnedRef::incref(PyList_GetItem(list.get(), i));
    if (!element) return fail(PyError::fetch());
    ZELK_PY_TRY(Jwk key, load_one(element.borrow(), static_cast<std::size_t>(i)));
    keys.push_back(std::move(key));
  }
  return keys;
}

}  // namespace zelk::py
