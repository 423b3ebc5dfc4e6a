#pragma once

#include <string>
#include <vector>

namespace zelk {

// The elements of `first` that occur in `second`, in the order of `first`, repeats kept.
// Grants compare as texts, byte for byte.
std::vector<std::string> intersect_grants(const std::vector<std::string>& first,
                                          const std::vector<std::string>& second);

}  // namespace zelk
