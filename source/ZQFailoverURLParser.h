#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ZQURI.h"

namespace velmor {

// Fixed-point values count units of 1/10000: 2.0 is 20000.
inline constexpr int64_t FixedPointScale = 10000;

// The reconnect options of a failover URL ("failover:(url1,url2)?options").
struct TZQFailoverOptions {
  // Sleep after the first failed attempt, ms.
  uint32_t InitialReconnectDelay = 10;
  // Upper bound of the grown delay, ms (the first sleep is not bounded by it).
  uint32_t MaxReconnectDelay = 30000;
  // Factor applied to the delay after each sleep, fixed-point.
  int64_t BackOffMultiplier = 2 * FixedPointScale;
  // Reconnects allowed after the first attempt; -1 = no limit, 0 = none.
  int32_t MaxReconnectAttempts = -1;
  // Pick brokers at random instead of in list order.
  bool Randomize = true;
};

// The option names a failover URL accepts, in the order of TZQFailoverOptions.
inline constexpr std::array<std::string_view, 5> FailoverOptionNames = {
    "initialReconnectDelay", "maxReconnectDelay", "backOffMultiplier", "maxReconnectAttempts", "randomize"};

// Reads a decimal number with "." as decimal separator (never a locale's), no thousands separator, an
// optional sign and exponent and blanks around it, as a fixed-point value rounded half to even. False
// when the text is no such number or the value does not fit.
bool TryReadFixedPoint(std::string_view Text, int64_t& Value);

// Value × Factor, both fixed-point, rounded to the nearest 1/10000 (halves to even); saturates at the
// limits of int64_t instead of overflowing.
int64_t MultiplyFixedPoint(int64_t Value, int64_t Factor);

// Splits a failover URL into its reconnect options and one IURI per broker entry. Lives for one parse.
class TZQFailoverURLParser final {
 public:
  // Stores the URL and the port for entries that name none; parses nothing yet.
  TZQFailoverURLParser(std::string URL, int32_t DefaultPort);

  // ParseOptions of the URL, then ParseURLs.
  void Parse();

  const TZQFailoverOptions& GetOptions() const { return FOptions; }
  // The broker entries in written order.
  const std::vector<IURIPtr>& GetURIs() const { return FURIs; }

  // The reconnect options of URL: defaults, overridden by the options after the last ")". Raises
  // EMQException "unknown option: <item>" for an option name that is not one of FailoverOptionNames,
  // EConfigurationException "Failover option "<name>" has an invalid value: "<value>"" for a value that
  // does not read as the option's integer, decimal or Boolean, and ERangeError for a negative delay.
  static TZQFailoverOptions ParseOptions(const std::string& URL);
  // Raises EMQException "unknown option: <item>" at the first item whose name is not a failover option
  // (names compared without regard to case).
  static void ValidateOptions(const std::vector<std::string>& Items);
  // The text after the character that follows the last ")" (normally "?"); empty without ")".
  static std::string GetOptionsText(const std::string& URL);
  // Fills the entries: "failover:(" dropped, the text cut before the last ")", split at every comma that
  // is immediately followed by "stomp" (any case), each part parsed as a broker URL.
  void ParseURLs();

 private:
  int32_t FDefaultPort;
  std::string FURL;
  TZQFailoverOptions FOptions;
  std::vector<IURIPtr> FURIs;
};

}  // namespace velmor
