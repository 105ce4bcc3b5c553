#include "CaseName.h"

#include <cstdio>
#include <utility>

namespace velmor::testing {

namespace {

// The words of the octets that are neither letters nor digits but common in the tests' texts.
constexpr std::pair<char, const char*> Words[] = {
    {' ', "Space"}, {'\t', "Tab"},         {'\r', "Cr"},        {'\n', "Lf"},    {'\0', "Nul"},
    {'-', "Minus"}, {'+', "Plus"},         {'$', "Dollar"},     {'.', "Dot"},    {',', "Comma"},
    {':', "Colon"}, {'/', "Slash"},        {'\\', "Backslash"}, {'=', "Equals"}, {'&', "Ampersand"},
    {'"', "Quote"}, {'?', "QuestionMark"}, {'@', "At"}};

bool IsNameOctet(unsigned char Octet) {
  return (Octet >= '0' && Octet <= '9') || (Octet >= 'A' && Octet <= 'Z') || (Octet >= 'a' && Octet <= 'z') ||
         Octet == '_';
}

}  // namespace

std::string CaseName(std::string_view Text) {
  if (Text.empty())
    return "Empty";
  std::string name;
  for (const char octet : Text) {
    if (IsNameOctet(static_cast<unsigned char>(octet))) {
      name += octet;
      continue;
    }
    const char* word = nullptr;
    for (const auto& [spelled, spelling] : Words) {
      if (spelled == octet)
        word = spelling;
    }
    if (word != nullptr) {
      name += word;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "X%02X", static_cast<unsigned char>(octet));
      name += hex;
    }
  }
  return name;
}

}  // namespace velmor::testing
