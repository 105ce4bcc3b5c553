#pragma once

#include <string>
#include <vector>

namespace velmor {

// The library's growable list of strings: property names, map entry names.
using PMStrings = std::vector<std::string>;

}  // namespace velmor
