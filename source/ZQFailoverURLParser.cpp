#include "ZQFailoverURLParser.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <utility>

#include "ZQAbstractCommAdapter.h"
#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

namespace {

constexpr int64_t Int64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t Int64Min = std::numeric_limits<int64_t>::min();
constexpr uint64_t UInt64Max = std::numeric_limits<uint64_t>::max();

bool IsDigit(char C) {
  return C >= '0' && C <= '9';
}

// A decimal number as written: sign, significant digits and the power of ten they are scaled by.
struct TDecimal {
  bool Negative = false;
  std::string Digits;
  int64_t Exponent = 0;

  bool IsZero() const {
    return std::all_of(Digits.begin(), Digits.end(), [](char C) { return C == '0'; });
  }
};

// Blanks, sign, digits with an optional ".", an optional exponent "e"/"E" with sign, blanks. At least one
// digit before the exponent.
std::optional<TDecimal> ReadDecimal(std::string_view Text) {
  Text = TrimBlanks(Text);
  TDecimal result;
  size_t pos = 0;
  if (pos < Text.size() && (Text[pos] == '+' || Text[pos] == '-')) {
    result.Negative = Text[pos] == '-';
    ++pos;
  }
  int64_t fractionDigits = 0;
  bool seenPoint = false;
  for (; pos < Text.size(); ++pos) {
    if (IsDigit(Text[pos])) {
      result.Digits += Text[pos];
      if (seenPoint)
        ++fractionDigits;
    } else if (Text[pos] == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (result.Digits.empty())
    return std::nullopt;
  int64_t exponent = 0;
  if (pos < Text.size() && (Text[pos] == 'e' || Text[pos] == 'E')) {
    ++pos;
    bool negativeExponent = false;
    if (pos < Text.size() && (Text[pos] == '+' || Text[pos] == '-')) {
      negativeExponent = Text[pos] == '-';
      ++pos;
    }
    if (pos >= Text.size() || !IsDigit(Text[pos]))
      return std::nullopt;
    for (; pos < Text.size() && IsDigit(Text[pos]); ++pos) {
      // Far beyond any value that fits; saturating keeps the arithmetic below defined.
      exponent = std::min<int64_t>(exponent * 10 + (Text[pos] - '0'), 1'000'000'000);
    }
    if (negativeExponent)
      exponent = -exponent;
  }
  if (pos != Text.size())
    return std::nullopt;
  result.Exponent = exponent - fractionDigits;
  return result;
}

// Accumulates decimal digits; false on overflow of uint64_t.
bool AccumulateDigits(std::string_view Digits, uint64_t& Value) {
  for (const char c : Digits) {
    const auto digit = static_cast<uint64_t>(c - '0');
    if (Value > (UInt64Max - digit) / 10)
      return false;
    Value = Value * 10 + digit;
  }
  return true;
}

// |Value| as fixed-point, rounded half to even; nullopt when it exceeds Int64Max.
std::optional<int64_t> ScaleToFixedPoint(const TDecimal& Value) {
  std::string_view digits = Value.Digits;
  while (!digits.empty() && digits.front() == '0')
    digits.remove_prefix(1);
  if (digits.empty())
    return 0;
  // Exponent is bounded by ReadDecimal's saturation plus the digit count, far from overflowing here.
  const int64_t shift = Value.Exponent + 4;
  uint64_t magnitude = 0;
  if (shift >= 0) {
    if (shift > 19 || !AccumulateDigits(digits, magnitude))
      return std::nullopt;
    for (int64_t i = 0; i < shift; ++i) {
      if (magnitude > UInt64Max / 10)
        return std::nullopt;
      magnitude *= 10;
    }
  } else {
    const auto dropped = static_cast<uint64_t>(-shift);
    if (dropped > digits.size())
      return 0;  // below 0.1 units: rounds to 0
    const std::string_view whole = digits.substr(0, digits.size() - dropped);
    const std::string_view rest = digits.substr(digits.size() - dropped);
    if (!AccumulateDigits(whole, magnitude))
      return std::nullopt;
    bool up = false;
    if (rest.front() > '5') {
      up = true;
    } else if (rest.front() == '5') {
      const bool moreThanHalf = std::any_of(rest.begin() + 1, rest.end(), [](char C) { return C != '0'; });
      up = moreThanHalf || (magnitude % 2 == 1);
    }
    if (up) {
      if (magnitude == UInt64Max)
        return std::nullopt;
      ++magnitude;
    }
  }
  if (magnitude > static_cast<uint64_t>(Int64Max))
    return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

// The first item named Name (any case), or nullptr when there is none.
const std::string* FindItem(const std::vector<std::string>& Items, std::string_view Name) {
  for (const auto& item : Items) {
    if (SameTextAscii(OptionName(item), Name))
      return &item;
  }
  return nullptr;
}

// A value that does not read would otherwise leave a default silently (for the attempts: no limit).
[[noreturn]] void RaiseInvalidValue(const std::string& Item) {
  throw EConfigurationException(Format("Failover option \"%s\" has an invalid value: \"%s\"",
                                       {OptionName(Item), OptionItemValue(Item)}));
}

// An integer option; Default when absent.
int32_t ReadInteger(const std::vector<std::string>& Items, std::string_view Name, int32_t Default) {
  const std::string* item = FindItem(Items, Name);
  if (item == nullptr)
    return Default;
  int32_t value = 0;
  if (!TryStrToInt(OptionItemValue(*item), value))
    RaiseInvalidValue(*item);
  return value;
}

// "initialReconnectDelay", "maxReconnectDelay": an integer that is not negative.
uint32_t ReadDelay(const std::vector<std::string>& Items, std::string_view Name, uint32_t Default) {
  const int32_t value = ReadInteger(Items, Name, static_cast<int32_t>(Default));
  if (value < 0)
    throw ERangeError("Range check error");
  return static_cast<uint32_t>(value);
}

// "true"/"false" in any case, or a number: zero is false, anything else true.
std::optional<bool> ReadBoolean(const std::string& Text) {
  if (SameTextAscii(Text, "true"))
    return true;
  if (SameTextAscii(Text, "false"))
    return false;
  if (int32_t number = 0; TryStrToInt(Text, number))
    return number != 0;
  if (const auto decimal = ReadDecimal(Text))
    return !decimal->IsZero();
  return std::nullopt;
}

// Position of the first "stomp" (any case) that directly follows a comma at or after From, pointing at
// the comma; npos when there is none.
size_t FindEntryBreak(const std::string& Text, size_t From) {
  constexpr std::string_view scheme = "stomp";
  for (size_t comma = Text.find(',', From); comma != std::string::npos; comma = Text.find(',', comma + 1)) {
    if (SameTextAscii(std::string_view(Text).substr(comma + 1, scheme.size()), scheme))
      return comma;
  }
  return std::string::npos;
}

}  // namespace

bool TryReadFixedPoint(std::string_view Text, int64_t& Value) {
  const auto decimal = ReadDecimal(Text);
  if (!decimal)
    return false;
  const auto magnitude = ScaleToFixedPoint(*decimal);
  if (!magnitude)
    return false;
  Value = decimal->Negative ? -*magnitude : *magnitude;
  return true;
}

int64_t MultiplyFixedPoint(int64_t Value, int64_t Factor) {
  if (Value == 0 || Factor == 0)
    return 0;
  const bool negative = (Value < 0) != (Factor < 0);
  // Magnitudes as unsigned so that Int64Min has one too.
  const uint64_t a = Value < 0 ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
  const uint64_t b = Factor < 0 ? 0 - static_cast<uint64_t>(Factor) : static_cast<uint64_t>(Factor);
  // a × b / Scale = (qa × Scale + ra) × b / Scale = qa × b + ra × b / Scale, where ra × b may still be
  // wide: split b the same way. Every partial product is checked against saturation.
  const uint64_t scale = FixedPointScale;
  const uint64_t qa = a / scale;
  const uint64_t ra = a % scale;
  const uint64_t qb = b / scale;
  const uint64_t rb = b % scale;
  const uint64_t limit = static_cast<uint64_t>(Int64Max);
  auto saturated = [&] { return negative ? Int64Min : Int64Max; };
  // qa × qb × Scale
  if (qa != 0 && qb > limit / qa)
    return saturated();
  uint64_t whole = qa * qb;
  if (whole > limit / scale)
    return saturated();
  whole *= scale;
  // qa × rb + ra × qb (each below limit when the first check passed for the larger parts)
  if (qa != 0 && rb > limit / qa)
    return saturated();
  if (qb != 0 && ra > limit / qb)
    return saturated();
  const uint64_t cross1 = qa * rb;
  const uint64_t cross2 = ra * qb;
  if (cross1 > limit - whole)
    return saturated();
  whole += cross1;
  if (cross2 > limit - whole)
    return saturated();
  whole += cross2;
  // ra × rb / Scale, rounded half to even together with the whole part.
  const uint64_t low = ra * rb;  // below Scale², fits easily
  whole += low / scale;
  const uint64_t remainder = low % scale;
  if (remainder > scale / 2 || (remainder == scale / 2 && whole % 2 == 1))
    ++whole;
  if (whole > limit)
    return saturated();
  return negative ? -static_cast<int64_t>(whole) : static_cast<int64_t>(whole);
}

TZQFailoverURLParser::TZQFailoverURLParser(std::string URL, int32_t DefaultPort)
    : FDefaultPort(DefaultPort), FURL(std::move(URL)) {}

void TZQFailoverURLParser::Parse() {
  FOptions = ParseOptions(FURL);
  ParseURLs();
}

std::string TZQFailoverURLParser::GetOptionsText(const std::string& URL) {
  const auto bracket = URL.rfind(')');
  if (bracket == std::string::npos || bracket + 2 > URL.size())
    return {};
  return URL.substr(bracket + 2);
}

void TZQFailoverURLParser::ValidateOptions(const std::vector<std::string>& Items) {
  for (const auto& item : Items) {
    const std::string name = OptionName(item);
    const bool known = std::any_of(FailoverOptionNames.begin(), FailoverOptionNames.end(),
                                   [&](std::string_view Known) { return SameTextAscii(name, Known); });
    if (!known)
      throw EMQException("unknown option: " + item);
  }
}

TZQFailoverOptions TZQFailoverURLParser::ParseOptions(const std::string& URL) {
  TZQFailoverOptions options;
  const std::string text = GetOptionsText(URL);
  if (text.empty())
    return options;
  const std::vector<std::string> items = SplitOptionList(text, '&');
  ValidateOptions(items);
  options.InitialReconnectDelay = ReadDelay(items, FailoverOptionNames[0], options.InitialReconnectDelay);
  options.MaxReconnectDelay = ReadDelay(items, FailoverOptionNames[1], options.MaxReconnectDelay);
  if (const std::string* item = FindItem(items, FailoverOptionNames[2])) {
    if (!TryReadFixedPoint(OptionItemValue(*item), options.BackOffMultiplier))
      RaiseInvalidValue(*item);
  }
  options.MaxReconnectAttempts = ReadInteger(items, FailoverOptionNames[3], options.MaxReconnectAttempts);
  if (const std::string* item = FindItem(items, FailoverOptionNames[4])) {
    const std::optional<bool> randomize = ReadBoolean(OptionItemValue(*item));
    if (!randomize)
      RaiseInvalidValue(*item);
    options.Randomize = *randomize;
  }
  return options;
}

void TZQFailoverURLParser::ParseURLs() {
  constexpr std::string_view prefix = "failover:(";
  std::string text = FURL;
  const std::string upper = UpperCaseAscii(text);
  if (const auto start = upper.find(UpperCaseAscii(prefix)); start != std::string::npos) {
    text.erase(start, prefix.size());
  }
  if (const auto bracket = text.rfind(')'); bracket != std::string::npos) {
    text.erase(bracket);
  }
  FURIs.clear();
  size_t begin = 0;
  for (;;) {
    const size_t end = FindEntryBreak(text, begin);
    FURIs.push_back(CreateURI(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin),
                              FDefaultPort));
    if (end == std::string::npos)
      break;
    begin = end + 1;
  }
}

}  // namespace velmor
