#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>

#include "formats/json/canonical.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/value.hpp"
#include "formats/json/writer.hpp"

namespace {

using zelk::json::Array;
using zelk::json::Object;
using zelk::json::Value;

// A typical TCT claims object as the minter builds it, members in declared order (which is not
// the canonical order, so sorting is exercised).
Value typical_tct_claims() {
  Object cnf;
  cnf.push_back_unchecked("jkt", Value("NzbLsXh8uDCcd-6MNwXF4W_7noWXFZAfHkxZsRGC9Xs"));
  Array grants;
  grants.push_back(Value("calendar.read"));
  grants.push_back(Value("calendar.write"));
  grants.push_back(Value("mail.send"));
  Object claims;
  claims.push_back_unchecked("ver", Value("zelk/0.2"));
  claims.push_back_unchecked("jti", Value("6f1c2a3e-8b4d-4e5f-9a0b-1c2d3e4f5a6b"));
  claims.push_back_unchecked("iss",
                             Value("aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo"));
  claims.push_back_unchecked("sub",
                             Value("aid:pubkey:d75a980182b10ab7d54bfed3c964073a0ee172f3daa6"));
  claims.push_back_unchecked("aud",
                             Value("aid:pubkey:d75a980182b10ab7d54bfed3c964073a0ee172f3daa6"));
  claims.push_back_unchecked("iat", Value(std::int64_t{1767225600}));
  claims.push_back_unchecked("exp", Value(std::int64_t{1767229200}));
  claims.push_back_unchecked("grants", Value(std::move(grants)));
  claims.push_back_unchecked("cnf", Value(std::move(cnf)));
  claims.push_back_unchecked("ext", Value(Object{}));
  return Value(std::move(claims));
}

void BM_CanonicalJsonTctClaims(benchmark::State& state) {
  const Value claims = typical_tct_claims();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto text = zelk::json::canonical_json(claims);
    bytes = text ? text->size() : 0;
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CanonicalJsonTctClaims);

void BM_WriteCompactTctClaims(benchmark::State& state) {
  const Value claims = typical_tct_claims();
  std::string out;
  for (auto _ : state) {
    out.clear();  // keeps the capacity, as a caller reusing its buffer would
    zelk::json::write_compact(claims, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_WriteCompactTctClaims);

// What a verifier does with a token payload: read the text, then write its canonical form.
void BM_ReadAndCanonicalizeTctClaims(benchmark::State& state) {
  const std::string text = zelk::json::to_compact_string(typical_tct_claims());
  for (auto _ : state) {
    auto value = zelk::json::parse_value(text);
    auto canonical = zelk::json::canonical_json(*value);
    benchmark::DoNotOptimize(canonical);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadAndCanonicalizeTctClaims);

}  // namespace
