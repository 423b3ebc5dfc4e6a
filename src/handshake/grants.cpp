#include "handshake/grants.hpp"

#include <algorithm>

namespace zelk {

std::vector<std::string> intersect_grants(const std::vector<std::string>& first,
                                          const std::vector<std::string>& second) {
  std::vector<std::string> out;
  for (const std::string& grant : first)
    if (std::ranges::find(second, grant) != second.end()) out.push_back(grant);
  return out;
}

}  // namespace zelk
