#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ZQStompFrame.h"

namespace velmor::testing {

// A frame object with Command, the Headers added in order, and Body.
IStompFramePtr MakeFrame(const std::string& Command,
                         const std::vector<std::pair<std::string, std::string>>& Headers = {},
                         const std::string& Body = "");

}  // namespace velmor::testing
