#include "python/results.hpp"

#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"

namespace zelk::py {
namespace {

// Each read makes new objects from the stored field, so a returned list can be changed freely.
template <class CellT, auto Field>
[[nodiscard]] Result<OwnedRef> read_text(BorrowedRef self) {
  return py_str(frozen_value<CellT>(self).*Field);
}

template <class CellT, auto Field>
[[nodiscard]] Result<OwnedRef> read_list(BorrowedRef self) {
  return py_str_list(frozen_value<CellT>(self).*Field);
}

template <class CellT, auto Field>
[[nodiscard]] Result<OwnedRef> read_int(BorrowedRef self) {
  return py_int(frozen_value<CellT>(self).*Field);
}

PyGetSetDef g_tct_identity_properties[] = {
    property<read_text<TctIdentityCell, &TctIdentity::peer_aid>>(
        "peer_aid", "AID of the agent that issued (and is bound by) the TCT."),
    property<read_list<TctIdentityCell, &TctIdentity::grants>>(
        "grants", "Capability grants the TCT authorizes."),
    property<read_int<TctIdentityCell, &TctIdentity::expires_at>>("expires_at",
                                                                  "Expiry, Unix seconds."),
    property<read_text<TctIdentityCell, &TctIdentity::jti>>("jti",
                                                            "TCT unique identifier (`jti`)."),
    kEndOfProperties,
};

PyGetSetDef g_delegation_verified_properties[] = {
    property<read_text<DelegationVerifiedCell, &DelegationVerified::delegator>>(
        "delegator",
        "AID of the ultimate grantor: the first issuer of the chain, who issued the TCT and its "
        "grant voucher (already checked to be the verifier)."),
    property<read_text<DelegationVerifiedCell, &DelegationVerified::delegatee>>(
        "delegatee", "AID of the recipient, who is to receive a fresh TCT (the token's `sub`)."),
    property<read_text<DelegationVerifiedCell, &DelegationVerified::issued_by>>(
        "issued_by", "AID of the agent that issued the delegation (the token's `iss`)."),
    property<read_list<DelegationVerifiedCell, &DelegationVerified::grants>>(
        "grants", "Delegated capabilities, always a subset of the source voucher's grants."),
    property<read_int<DelegationVerifiedCell, &DelegationVerified::expires_at>>(
        "expires_at", "Expiry of the delegation token itself, Unix seconds."),
    property<read_text<DelegationVerifiedCell, &DelegationVerified::cnf>>(
        "cnf",
        "The delegatee's `cnf.jkt`: RFC 7638 JWK thumbprint of its key (redundant with the key "
        "in the `delegatee` AID)."),
    kEndOfProperties,
};

}  // namespace

PyClass& tct_identity_class() {
  static PyClass cls({
      .name = "TctIdentity",
      .doc = "The verified peer identity carried by a TCT.",
      .basicsize = static_cast<int>(sizeof(TctIdentityCell)),
      .constructor = nullptr,
      .dealloc = &dealloc<TctIdentityCell>,
      .methods = nullptr,
      .getset = g_tct_identity_properties,
  });
  return cls;
}

PyClass& delegation_verified_class() {
  static PyClass cls({
      .name = "DelegationVerified",
      .doc = "Salient fields of a verified delegation token, returned to Python after\n"
             "`verify_delegation` succeeds.",
      .basicsize = static_cast<int>(sizeof(DelegationVerifiedCell)),
      .constructor = nullptr,
      .dealloc = &dealloc<DelegationVerifiedCell>,
      .methods = nullptr,
      .getset = g_delegation_verified_properties,
  });
  return cls;
}

Result<OwnedRef> wrap_tct_identity(TctIdentity value) {
  return wrap<TctIdentityCell>(tct_identity_class(), std::move(value));
}

Result<OwnedRef> wrap_delegation_verified(DelegationVerified value) {
  return wrap<DelegationVerifiedCell>(delegation_verified_class(), std::move(value));
}

Result<const DelegationVerified*> to_delegation_verified(BorrowedRef obj) {
  ZELK_PY_TRY(BorrowedRef checked, to_instance(obj, delegation_verified_class()));
  return &frozen_value<DelegationVerifiedCell>(checked);
}

}  // namespace zelk::py
