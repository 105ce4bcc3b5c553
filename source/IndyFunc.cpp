#include "IndyFunc.h"

#include "ZQText.h"

namespace velmor {

namespace {

// Splits Input at Position (a delimiter of Length octets starts there, or npos for none).
std::string CutAt(std::string& Input, std::string::size_type Position, std::string::size_type Length,
                  bool Delete) {
  if (Position == std::string::npos) {
    std::string result = Input;
    if (Delete) {
      Input.clear();
    }
    return result;
  }
  std::string result = Input.substr(0, Position);
  if (Delete) {
    Input.erase(0, Position + Length);
  }
  return result;
}

}  // namespace

std::string TakeUntilDelimiter(std::string& Input, const std::string& Delimiter, bool Delete,
                               bool CaseSensitive) {
  if (!CaseSensitive) {
    return TakeUntilDelimiterNoCase(Input, Delimiter, Delete);
  }
  const auto position = Delimiter.empty() ? std::string::npos : Input.find(Delimiter);
  return CutAt(Input, position, Delimiter.size(), Delete);
}

std::string TakeUntilDelimiterNoCase(std::string& Input, const std::string& Delimiter, bool Delete) {
  std::string::size_type position = std::string::npos;
  if (Delimiter.size() == 1 && Delimiter[0] == '\0') {
    position = Input.find(Delimiter);
  } else if (!Delimiter.empty()) {
    // ASCII upper-casing keeps every octet in place, so positions found in the copy hold for Input.
    position = UpperCaseAscii(Input).find(UpperCaseAscii(Delimiter));
  }
  return CutAt(Input, position, Delimiter.size(), Delete);
}

}  // namespace velmor
