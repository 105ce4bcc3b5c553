#include "ZQText.h"

#include <algorithm>
#include <limits>

namespace velmor {

std::string Format(std::string_view pattern, std::initializer_list<TFormatArg> args) {
  std::string result;
  result.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      const char conversion = pattern[i + 1];
      if (conversion == '%') {
        result += '%';
        ++i;
        continue;
      }
      if ((conversion == 's' || conversion == 'd') && next != args.end()) {
        if (const auto* text = std::get_if<std::string_view>(&*next)) {
          result += *text;
        } else {
          result += std::to_string(std::get<int64_t>(*next));
        }
        ++next;
        ++i;
        continue;
      }
    }
    result += c;
  }
  return result;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Parses under the integer rule within [min, max]; false for anything the rule does not accept. With
// Clamp, a value beyond the range gives the nearer end of it instead.
bool ParseInteger(std::string_view text, int64_t min, int64_t max, int64_t& out, bool Clamp = false) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && text[i + 1] == 'x') {
    base = 16;
    i += 2;
  }
  if (i >= text.size())
    return false;
  // Accumulate as a negative magnitude so that the most negative value fits.
  const int64_t lowest = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  bool beyond = false;
  for (; i < text.size(); ++i) {
    const int digit =
        base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0)
      return false;
    if (beyond || value < (lowest + digit) / base) {
      beyond = true;
      continue;
    }
    value = value * base - digit;
  }
  if (!negative) {
    beyond = beyond || value == lowest;
    if (!beyond)
      value = -value;
  }
  if (beyond || value < min || value > max) {
    if (!Clamp)
      return false;
    value = negative ? min : max;
  }
  out = value;
  return true;
}

}  // namespace

int32_t StrToIntDef(std::string_view text, int32_t Default) {
  int64_t value = 0;
  if (!ParseInteger(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), value)) {
    return Default;
  }
  return static_cast<int32_t>(value);
}

int64_t StrToInt64Def(std::string_view text, int64_t Default) {
  int64_t value = 0;
  if (!ParseInteger(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), value)) {
    return Default;
  }
  return value;
}

bool TryStrToInt(std::string_view text, int32_t& Value) {
  int64_t value = 0;
  if (!ParseInteger(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), value)) {
    return false;
  }
  Value = static_cast<int32_t>(value);
  return true;
}

bool TryStrToIntClamped(std::string_view text, int64_t& Value) {
  return ParseInteger(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), Value,
                      true);
}

bool IsBlankText(std::string_view Text) {
  return std::all_of(Text.begin(), Text.end(), IsBlankOrControl);
}

std::string_view TrimBlanks(std::string_view Text) {
  while (!Text.empty() && IsBlankOrControl(Text.front()))
    Text.remove_prefix(1);
  while (!Text.empty() && IsBlankOrControl(Text.back()))
    Text.remove_suffix(1);
  return Text;
}

namespace {

constexpr std::string_view LineSeparator = "\xE2\x80\xA8";
constexpr std::string_view ParagraphSeparator = "\xE2\x80\xA9";

// Length in octets of the line break that Text begins with, 0 when it begins with none.
size_t LeadingLineBreakLength(std::string_view Text) {
  if (!Text.empty() && (Text.front() == '\r' || Text.front() == '\n'))
    return 1;
  if (HasPrefix(Text, LineSeparator) || HasPrefix(Text, ParagraphSeparator))
    return LineSeparator.size();
  return 0;
}

}  // namespace

std::string_view TrimTrailingLineBreaks(std::string_view Text) {
  while (!Text.empty()) {
    if (Text.back() == '\r' || Text.back() == '\n') {
      Text.remove_suffix(1);
    } else if (Text.ends_with(LineSeparator) || Text.ends_with(ParagraphSeparator)) {
      Text.remove_suffix(LineSeparator.size());
    } else {
      break;
    }
  }
  return Text;
}

std::string SingleLine(std::string_view Text) {
  Text = TrimTrailingLineBreaks(Text);
  std::string Result;
  Result.reserve(Text.size());
  while (!Text.empty()) {
    size_t Length = LeadingLineBreakLength(Text);
    if (Length == 0) {
      Result.push_back(Text.front());
      Text.remove_prefix(1);
      continue;
    }
    Result.push_back(' ');
    for (; Length != 0; Length = LeadingLineBreakLength(Text))
      Text.remove_prefix(Length);
  }
  return Result;
}

std::string UpperCaseAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string LowerCaseAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z')
      x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z')
      y = static_cast<char>(y - 'a' + 'A');
    if (x != y)
      return false;
  }
  return true;
}

}  // namespace velmor
