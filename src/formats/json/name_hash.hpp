#pragma once

#include <cstddef>
#include <string_view>

namespace zelk::json {

// Hash of a member name for the name tables of large objects. Keyed with a per-process random
// key (SipHash-1-3), so that a text cannot be crafted to pile its names into one probe run and
// make reading it quadratic.
std::size_t hash_member_name(std::string_view name);

}  // namespace zelk::json
