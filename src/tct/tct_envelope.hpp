#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelk {

// A TCT and its grant voucher handed to the agent they were issued to, as the compact JSON object
// {"tct":…,"grant_voucher":…}, members in that order; the voucher is null when there is none.
std::string write_tct_envelope(std::string_view tct, std::optional<std::string_view> grant_voucher);

}  // namespace zelk
