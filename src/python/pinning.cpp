// SPKI pinning of TLS server certificates: the SHA-256 of a certificate's SubjectPublicKeyInfo,
// and a fixed set of such pins to compare a server's leaf certificate against.
#include "python/pinning.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "crypto/spki.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"

namespace zelk::py {
namespace {

constexpr Signature kNew{"SpkiPinVerifier", "__new__", 1, {"pins"}};
constexpr Signature kIsPinned{"SpkiPinVerifier", "is_pinned", 1, {"cert_der"}};
constexpr Signature kComputeSpkiHash{"", "compute_spki_hash", 1, {"cert_der"}};

[[nodiscard]] Result<Sha256Digest> spki_hash_of(ByteView cert_der) {
  auto digest = spki_sha256(cert_der);
  if (!digest)
    return fail(
        PyError::value_error("invalid X.509 certificate (DER): " + digest.error().message()));
  return *digest;
}

[[nodiscard]] Result<OwnedRef> compute_spki_hash(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kComputeSpkiHash, call));
  ZELK_PY_TRY(ByteView cert, arg(args, 0, to_bytes));
  ZELK_PY_TRY(Sha256Digest digest, spki_hash_of(cert));
  return py_bytes(digest);
}

// An integer from 0 to 255.
[[nodiscard]] Result<std::uint8_t> to_byte_value(BorrowedRef obj) {
  // An integer beyond a C long is as far out of range as 256 and is told the same way.
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(obj.get(), &overflow);
  if (value == -1 && PyErr_Occurred() != nullptr) return fail(PyError::fetch());
  if (overflow != 0 || value < 0 || value > 255)
    return fail(
        PyError::of(PyExc_OverflowError, "out of range integral type conversion attempted"));
  return static_cast<std::uint8_t>(value);
}

// One pin as given: bytes or bytearray copied, any other sequence read as byte values.
[[nodiscard]] Result<std::vector<std::uint8_t>> to_pin_bytes(BorrowedRef obj) {
  if (PyBytes_Check(obj.get())) {
    ZELK_PY_TRY(ByteView bytes, to_bytes(obj));
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }
  if (PyByteArray_Check(obj.get())) {
    const Py_ssize_t size = PyByteArray_Size(obj.get());
    if (size < 0) return fail(PyError::fetch());
    const auto* data = reinterpret_cast<const std::uint8_t*>(PyByteArray_AsString(obj.get()));
    return std::vector<std::uint8_t>(data, data + size);
  }
  // A sequence other than str of integers from 0 to 255.
  return to_sequence<std::uint8_t>(obj, to_byte_value);
}

[[nodiscard]] Result<std::vector<std::vector<std::uint8_t>>> to_pin_list(BorrowedRef obj) {
  return to_sequence<std::vector<std::uint8_t>>(obj, to_pin_bytes);
}

[[nodiscard]] Result<OwnedRef> spki_pin_verifier_new(PyTypeObject*, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kNew, call));
  // Every pin is converted before any length is tested.
  ZELK_PY_TRY(auto given, arg(args, 0, to_pin_list));
  SpkiPinVerifier verifier;
  verifier.pins.reserve(given.size());
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (given[i].size() != SpkiPin{}.size())
      return fail(PyError::value_error("pin at index " + std::to_string(i) +
                                       " must be exactly 32 bytes (got " +
                                       std::to_string(given[i].size()) + ")"));
    SpkiPin& pin = verifier.pins.emplace_back();
    std::memcpy(pin.data(), given[i].data(), pin.size());
  }
  return wrap<SpkiPinVerifierCell>(spki_pin_verifier_class(), std::move(verifier));
}

[[nodiscard]] Result<OwnedRef> spki_pin_verifier_is_pinned(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kIsPinned, call));
  ZELK_PY_TRY(auto verifier, borrow_shared<SpkiPinVerifierCell>(self));
  ZELK_PY_TRY(ByteView cert, arg(args, 0, to_bytes));
  ZELK_PY_TRY(Sha256Digest digest, spki_hash_of(cert));
  const bool pinned = std::ranges::find(verifier->pins, digest) != verifier->pins.end();
  return py_bool(pinned);
}

[[nodiscard]] Result<OwnedRef> spki_pin_verifier_len(BorrowedRef self) {
  ZELK_PY_TRY(auto verifier, borrow_shared<SpkiPinVerifierCell>(self));
  return py_uint(verifier->pins.size());
}

PyMethodDef g_spki_pin_verifier_methods[] = {
    method<spki_pin_verifier_is_pinned>(
        "is_pinned",
        "is_pinned($self, cert_der)\n--\n\n"
        "True when the SHA-256 of the SubjectPublicKeyInfo of the DER certificate `cert_der`\n"
        "equals one of the pins. Raises ValueError for bytes that are no certificate."),
    kEndOfMethods,
};

PyGetSetDef g_spki_pin_verifier_properties[] = {
    property<spki_pin_verifier_len>("len", "Number of pins currently held."),
    kEndOfProperties,
};

}  // namespace

PyClass& spki_pin_verifier_class() {
  static PyClass cls({
      .name = "SpkiPinVerifier",
      .doc = "SpkiPinVerifier(pins)\n--\n\n"
             "A fixed set of SPKI pins (each the 32-byte SHA-256 of a certificate's DER\n"
             "SubjectPublicKeyInfo) that a TLS client checks the server's leaf certificate\n"
             "against. Nothing else of the certificate is validated.",
      .basicsize = static_cast<int>(sizeof(SpkiPinVerifierCell)),
      .constructor = constructor<spki_pin_verifier_new>(),
      .dealloc = &dealloc<SpkiPinVerifierCell>,
      .methods = g_spki_pin_verifier_methods,
      .getset = g_spki_pin_verifier_properties,
  });
  return cls;
}

PyMethodDef& compute_spki_hash_function() {
  static PyMethodDef def = module_function<compute_spki_hash>(
      "compute_spki_hash",
      "compute_spki_hash(cert_der)\n--\n\n"
      "The SPKI pin of the DER certificate `cert_der`: the SHA-256 (32 bytes) of its complete\n"
      "DER SubjectPublicKeyInfo. Bytes after the certificate are ignored; anything that is\n"
      "not a DER certificate raises ValueError.");
  return def;
}

}  // namespace zelk::py
