// URL parsing: a parsed URL's href parses to itself, and its components are the parts of the
// href they claim to be.
#include "formats/url/url.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelk;
  auto parsed = url::parse_url(fuzz::text_of(data, size));
  if (!parsed) {
    ZELK_FUZZ_CHECK(!parsed.error().message().empty(), "empty error text");
    return 0;
  }
  const std::string& href = parsed->href();
  auto again = url::parse_url(href);
  ZELK_FUZZ_CHECK(again.has_value(), href);
  ZELK_FUZZ_CHECK(again->href() == href, href + " -> " + again->href());
  ZELK_FUZZ_CHECK(href.starts_with(std::string(parsed->scheme()) + ":"), href);
  ZELK_FUZZ_CHECK(again->scheme() == parsed->scheme() && again->host() == parsed->host() &&
                      again->port() == parsed->port() && again->path() == parsed->path() &&
                      again->query() == parsed->query() && again->fragment() == parsed->fragment(),
                  href);
  if (auto fragment = parsed->fragment()) {
    ZELK_FUZZ_CHECK(href.ends_with("#" + std::string(*fragment)), href);
  }
  return 0;
}
