#pragma once

// Names of the cases of parameterized suites. ctest lists every case by its name, so a case needs one
// that is stable and readable; gtest allows only letters, digits and underscores in it.

#include <string>
#include <string_view>

namespace velmor::testing {

// Text spelled as a case name: letters and digits stay, every other octet becomes a word ("-42" gives
// "Minus42", " true" gives "Spacetrue", "\t\r\n" gives "TabCrLf", an octet without a word "X1F"); the
// empty text gives "Empty".
std::string CaseName(std::string_view Text);

// Names a case by the Name member of its parameter.
inline constexpr auto ByName = [](const auto& Info) { return std::string(Info.param.Name); };

// Names a case by the Text member of its parameter, spelled by CaseName.
inline constexpr auto ByText = [](const auto& Info) { return CaseName(Info.param.Text); };

}  // namespace velmor::testing
