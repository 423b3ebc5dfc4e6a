// The JwksProvider class: the public keys of OIDC issuers, handed over by the caller (the module
// has no network client) and looked up by the handshake when it checks a peer's identity token.
#include "python/jwks_provider.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "formats/url/url.hpp"
#include "python/jwk_load.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"

namespace zelk::py {
namespace {

constexpr Signature kNew{"JwksProvider", "__new__", 0, {"keys"}};
constexpr Signature kUpsert{"JwksProvider", "upsert", 2, {"issuer", "keys"}};
constexpr Signature kRemove{"JwksProvider", "remove", 1, {"issuer"}};

constexpr std::string_view kPoisoned =
    "jwks mutex poisoned: poisoned lock: another task failed inside";

[[nodiscard]] Result<PoisonLock<IssuerKeyMap>::Guard> lock_map(const JwksState& state) {
  auto guard = state.map.lock_unless_poisoned();
  if (!guard) return fail(PyError::runtime_error(std::string(kPoisoned)));
  return std::move(*guard);
}

// Converts every key first and stores the list only when all were accepted, so a failed load
// leaves the map as it was. An existing entry for the same issuer is replaced whole.
[[nodiscard]] Result<void> load_issuer_jwks(const JwksState& state, std::string_view issuer,
                                            BorrowedRef list) {
  auto url = url::parse_url(issuer);
  if (!url)
    return fail(PyError::value_error("invalid issuer URL '" + std::string(issuer) +
                                     "': " + std::string(url.error().message())));
  ZELK_PY_TRY(std::vector<Jwk> keys, load_jwk_list(list));
  ZELK_PY_TRY(auto map, lock_map(state));
  (*map)[url->href()] = std::move(keys);
  return {};
}

// Keys of the constructor's dict: a str the interpreter can encode as UTF-8.
[[nodiscard]] Result<std::string_view> issuer_key(BorrowedRef key) {
  if (PyUnicode_Check(key.get())) {
    Py_ssize_t size = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(key.get(), &size))
      return std::string_view(text, static_cast<std::size_t>(size));
    PyErr_Clear();
  }
  return fail(PyError::value_error("JwksProvider keys must be issuer URL strings"));
}

// Whether the dict holds exactly the keys of `snapshot`, the very objects, in that order.
[[nodiscard]] bool holds_keys(BorrowedRef dict, BorrowedRef snapshot) {
  const Py_ssize_t size = PyList_Size(snapshot.get());
  Py_ssize_t position = 0;
  Py_ssize_t index = 0;
  PyObject* key = nullptr;
  while (PyDict_Next(dict.get(), &position, &key, nullptr)) {
    if (index == size || key != PyList_GetItem(snapshot.get(), index)) return false;
    ++index;
  }
  return index == size;
}

// The dict is walked over its own storage. Python code run by json.dumps could change it under
// the walk; that is a broken invariant of the caller's making and ends the constructor. The keys
// are taken once up front (their references keep every key object alive, so identity is a
// sound test): the walk must meet exactly those objects, in that order, and no others. That
// catches a swap or a delete plus an insert that keep the size, which a size check alone misses.
[[nodiscard]] Result<void> load_dict(const JwksState& state, BorrowedRef dict) {
  const OwnedRef snapshot = OwnedRef::steal(PyDict_Keys(dict.get()));
  if (!snapshot) return fail(PyError::fetch());
  const Py_ssize_t size = PyList_Size(snapshot.get());
  Py_ssize_t position = 0;
  Py_ssize_t index = 0;
  PyObject* raw_key = nullptr;
  PyObject* raw_value = nullptr;
  while (PyDict_Next(dict.get(), &position, &raw_key, &raw_value)) {
    if (index == size || raw_key != PyList_GetItem(snapshot.get(), index))
      return fail(PyError::panic("dictionary keys changed during iteration"));
    ++index;
    // Held by us: the entry may leave the dict while its keys are converted.
    const OwnedRef key = OwnedRef::incref(raw_key);
    const OwnedRef value = OwnedRef::incref(raw_value);
    ZELK_PY_TRY(std::string_view issuer, issuer_key(key.borrow()));
    if (!PyList_Check(value.get()))
      return fail(
          PyError::value_error("JwksProvider['" + std::string(issuer) + "'] must be a list"));
    ZELK_PY_CHECK(load_issuer_jwks(state, issuer, value.borrow()));
    if (PyDict_Size(dict.get()) != size)
      return fail(PyError::panic("dictionary changed size during iteration"));
  }
  // The walk can end early, or having met the snapshot's keys while the dict no longer holds them:
  // a change that makes the dict rebuild its storage moves the entries under the walk's position.
  if (index != size || !holds_keys(dict, snapshot.borrow()))
    return fail(PyError::panic("dictionary keys changed during iteration"));
  return {};
}

[[nodiscard]] Result<OwnedRef> jwks_provider_new(PyTypeObject*, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kNew, call));
  ZELK_PY_TRY(std::optional<BorrowedRef> keys, optional_arg(args, 0, to_dict));
  auto state = std::make_shared<JwksState>();
  if (keys) ZELK_PY_CHECK(load_dict(*state, *keys));
  return wrap<JwksProviderCell>(jwks_provider_class(), JwksProvider{std::move(state)});
}

[[nodiscard]] Result<OwnedRef> jwks_provider_upsert(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kUpsert, call));
  ZELK_PY_TRY(auto provider, borrow_shared<JwksProviderCell>(self));
  ZELK_PY_TRY(std::string_view issuer, arg(args, 0, to_text));
  ZELK_PY_TRY(BorrowedRef keys, arg(args, 1, to_list));
  ZELK_PY_CHECK(load_issuer_jwks(*provider->state, issuer, keys));
  return py_none();
}

[[nodiscard]] Result<OwnedRef> jwks_provider_remove(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kRemove, call));
  ZELK_PY_TRY(auto provider, borrow_shared<JwksProviderCell>(self));
  ZELK_PY_TRY(std::string_view issuer, arg(args, 0, to_text));
  {
    // Byte for byte: only the normalised text, as issuers() reports it, names an entry.
    ZELK_PY_TRY(auto map, lock_map(*provider->state));
    map->erase(std::string(issuer));
  }
  return py_none();
}

[[nodiscard]] Result<OwnedRef> jwks_provider_issuers(BorrowedRef self) {
  ZELK_PY_TRY(auto provider, borrow_shared<JwksProviderCell>(self));
  std::vector<std::string> issuers;
  {
    ZELK_PY_TRY(auto map, lock_map(*provider->state));
    issuers.reserve(map->size());
    for (const auto& entry : *map) issuers.push_back(entry.first);
  }
  return py_str_list(issuers);
}

PyMethodDef g_jwks_provider_methods[] = {
    method<jwks_provider_upsert>("upsert",
                                 "upsert($self, issuer, keys)\n--\n\n"
                                 "Add or replace the JWKs for an issuer."),
    method<jwks_provider_remove>("remove",
                                 "remove($self, issuer)\n--\n\n"
                                 "Drop all keys for an issuer (no-op if not present)."),
    noargs_method<jwks_provider_issuers>("issuers",
                                         "issuers($self)\n--\n\n"
                                         "Return the issuer URLs currently registered."),
    kEndOfMethods,
};

}  // namespace

std::expected<std::vector<Jwk>, JwksResolverError> JwksState::resolve(
    const url::Url& issuer) const {
  auto guard = map.lock_unless_poisoned();
  if (!guard) return std::unexpected(JwksResolverError::unavailable(std::string(kPoisoned)));
  const auto found = (*guard)->find(issuer.href());
  if (found == (*guard)->end() || found->second.empty())
    return std::unexpected(JwksResolverError::not_trusted(issuer));
  return found->second;
}

PyClass& jwks_provider_class() {
  static PyClass cls({
      .name = "JwksProvider",
      .doc = "JwksProvider(keys=None)\n--\n\n"
             "In-memory OIDC JWKS provider — issuer URL → list of JWK dicts.\n"
             "\n"
             "The module has no network client: the caller fetches each issuer's key set itself\n"
             "and hands the parsed JWK dicts over, here or through `upsert`. The provider\n"
             "implements `JwksResolver`, so the handshake looks an OIDC peer's keys up through\n"
             "it; sessions made with a provider see its later changes.",
      .basicsize = static_cast<int>(sizeof(JwksProviderCell)),
      .constructor = constructor<jwks_provider_new>(),
      .dealloc = &dealloc<JwksProviderCell>,
      .methods = g_jwks_provider_methods,
      .getset = nullptr,
  });
  return cls;
}

}  // namespace zelk::py
