#include "tct/tct_envelope.hpp"

#include "formats/json/writer.hpp"

namespace zelk {

std::string write_tct_envelope(std::string_view tct,
                               std::optional<std::string_view> grant_voucher) {
  std::string out;
  out.reserve(tct.size() + (grant_voucher ? grant_voucher->size() : 4) + 32);
  out += R"({"tct":)";
  json::write_json_string(tct, out);
  out += R"(,"grant_voucher":)";
  if (grant_voucher)
    json::write_json_string(*grant_voucher, out);
  else
    out += "null";
  out += '}';
  return out;
}

}  // namespace zelk
