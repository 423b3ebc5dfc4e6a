#include <benchmark/benchmark.h>

#include <string_view>

#include "formats/url/url.hpp"

namespace {

// A typical endpoint: credentials-free https URL with path, query and fragment (60 bytes).
constexpr std::string_view kTypical =
    "https://agents.example.com:8443/v1/handshake?session=421#top";
// The same shape with a host that needs UTS #46 processing.
constexpr std::string_view kIdn = "https://b\u00FCcher.example/v1/handshake?session=421#top";

void BM_ParseTypicalHttpsUrl(benchmark::State& state) {
  for (auto _ : state) {
    auto url = zelk::url::parse_url(kTypical);
    benchmark::DoNotOptimize(url);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kTypical.size()));
}
BENCHMARK(BM_ParseTypicalHttpsUrl);

void BM_ParseIdnHostUrl(benchmark::State& state) {
  for (auto _ : state) {
    auto url = zelk::url::parse_url(kIdn);
    benchmark::DoNotOptimize(url);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kIdn.size()));
}
BENCHMARK(BM_ParseIdnHostUrl);

}  // namespace
