#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace velmor {

// One argument of Format: a text for "%s" or an integer for "%d".
using TFormatArg = std::variant<std::string_view, int64_t>;

// Fills a message text: each "%s" or "%d" takes the next argument in order (a text argument given to
// "%d", or an integer given to "%s", is written as it is); "%%" writes one "%". Missing arguments leave
// the placeholder as it stands; extra arguments are ignored.
std::string Format(std::string_view pattern, std::initializer_list<TFormatArg> args);

// Reads an integer with the one rule used for every integer text in options and headers: optional
// leading blanks, an optional sign, then decimal digits, or hexadecimal digits after "$" or "0x" (lower-case
// x only: "0X10" gives Default). Leading zeros are decimal ("0042" is 42). Anything else (no digits, trailing
// characters, a value outside the signed 32-bit range) gives Default.
int32_t StrToIntDef(std::string_view text, int32_t Default);

// The same rule over the signed 64-bit range.
int64_t StrToInt64Def(std::string_view text, int64_t Default);

// True when the text is an integer under the rule above; the value goes to Value.
bool TryStrToInt(std::string_view text, int32_t& Value);

// True when the text is an integer under the rule above, whatever its size; the value goes to Value,
// and one beyond the signed 64-bit range as the nearer end of that range.
bool TryStrToIntClamped(std::string_view text, int64_t& Value);

// Blanks and control characters (octets up to and including the space), as trimming and the option-list
// rule see them.
inline bool IsBlankOrControl(char C) {
  return static_cast<unsigned char>(C) <= ' ';
}

// True when the text is empty or holds nothing but blanks and control characters (blank after trimming).
bool IsBlankText(std::string_view Text);

// Text without the blanks and control characters at either end.
std::string_view TrimBlanks(std::string_view Text);

// Text without the line breaks at its end, for showing it in a box or a label. Line breaks are CR, LF and
// the Unicode line and paragraph separators (U+2028, U+2029).
std::string_view TrimTrailingLineBreaks(std::string_view Text);

// Text as one line: trailing line breaks dropped, each run of line breaks inside it shown as one blank.
std::string SingleLine(std::string_view Text);

// True when Text begins with Prefix (compared exactly).
inline bool HasPrefix(std::string_view Text, std::string_view Prefix) {
  return Text.substr(0, Prefix.size()) == Prefix;
}

// ASCII-only case conversion and comparison (a-z against A-Z); other octets stay as they are.
std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);

}  // namespace velmor
