// The TctStore class: its constructor and the two methods that look at the cache as a whole.
#include <cstdint>

#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"
#include "python/tct_cache.hpp"

namespace zelk::py {
namespace {

constexpr Signature kNew{"TctStore", "__new__", 1, {"max_entries"}};

[[nodiscard]] Result<OwnedRef> tct_store_new(PyTypeObject*, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kNew, call));
  ZELK_PY_TRY(std::uint64_t max_entries, arg(args, 0, to_u64));
  if (max_entries == 0) return fail(PyError::value_error("max_entries must be >= 1"));
  // Nothing is reserved up front: a huge bound costs nothing until entries arrive.
  return wrap<TctStoreCell>(tct_store_class(), TctStore{.max_entries = max_entries, .cache = {}});
}

[[nodiscard]] Result<OwnedRef> tct_store_len(BorrowedRef self) {
  ZELK_PY_TRY(auto store, borrow_shared<TctStoreCell>(self));
  std::size_t count = 0;
  {
    ZELK_PY_TRY(auto cache, store->cache.lock(kTctStoreLockName));
    count = cache->entries.size();
  }
  return py_uint(count);
}

[[nodiscard]] Result<OwnedRef> tct_store_clear(BorrowedRef self) {
  ZELK_PY_TRY(auto store, borrow_shared<TctStoreCell>(self));
  {
    ZELK_PY_TRY(auto cache, store->cache.lock(kTctStoreLockName));
    cache->entries.clear();  // keeps its buckets
    cache->order.clear();
  }
  return py_none();
}

PyMethodDef g_tct_store_methods[] = {
    noargs_method<tct_store_len>("len",
                                 "len($self)\n--\n\n"
                                 "Number of verifications currently cached."),
    noargs_method<tct_store_clear>("clear",
                                   "clear($self)\n--\n\n"
                                   "Drops every cached verification."),
    kEndOfMethods,
};

}  // namespace

PyClass& tct_store_class() {
  static PyClass cls({
      .name = "TctStore",
      .doc = "TctStore(max_entries)\n--\n\n"
             "A bounded cache of successful TCT verifications, keyed by the SHA-256 of the exact\n"
             "token text, for `ZelkAgent.verify_tct_cached`. A repeated token skips the signature\n"
             "check; revocation, audience, expiry and the required grant are checked on every\n"
             "call. The oldest entry is evicted first once `max_entries` are held. A store\n"
             "belongs to no agent and may serve several.",
      .basicsize = static_cast<int>(sizeof(TctStoreCell)),
      .constructor = constructor<tct_store_new>(),
      .dealloc = &dealloc<TctStoreCell>,
      .methods = g_tct_store_methods,
      .getset = nullptr,
  });
  return cls;
}

}  // namespace zelk::py
