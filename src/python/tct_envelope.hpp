#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelk::py {

// A freshly minted TCT and its voucher as the JSON object {"tct":…,"grant_voucher":…}, compact,
// members in that order; the voucher is null when none was minted.
std::string write_tct_envelope(std::string_view tct, std::optional<std::string_view> grant_voucher);

}  // namespace zelk::py
