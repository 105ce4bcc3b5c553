#pragma once

#include <string>

namespace velmor {

// Cuts Input at the first occurrence of Delimiter and returns the text before it. When the delimiter
// is not found (an empty delimiter is never found) the whole input is returned. With Delete set, Input
// becomes the text after the delimiter, or empty when there was none. CaseSensitive off compares
// ASCII letters without regard to case (see TakeUntilDelimiterNoCase).
std::string TakeUntilDelimiter(std::string& Input, const std::string& Delimiter, bool Delete = true,
                               bool CaseSensitive = true);

// The case-insensitive form: a-z match A-Z, other octets compare as they are. Result and remaining
// input are cut from Input itself, so both keep their case.
std::string TakeUntilDelimiterNoCase(std::string& Input, const std::string& Delimiter, bool Delete = true);

}  // namespace velmor
