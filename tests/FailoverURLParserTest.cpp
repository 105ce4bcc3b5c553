#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <locale>
#include <string>
#include <vector>

#include "ZQExceptions.h"
#include "ZQFailoverURLParser.h"

namespace velmor {
namespace {

TZQFailoverOptions OptionsOf(const std::string& Query) {
  return TZQFailoverURLParser::ParseOptions("failover:(stomp://a:1,stomp://b:2)?" + Query);
}

std::string ErrorOf(const std::string& URL) {
  try {
    TZQFailoverURLParser parser(URL, 61613);
    parser.Parse();
  } catch (const EMQException& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(FailoverURLParserTest, UrlWithoutOptionsGivesAllDefaults) {
  for (const std::string url : {"failover:(stomp://a:1)", "failover:(stomp://a:1)?",
                                "failover:(stomp://a:1)x", "failover:stomp://a:1"}) {
    const TZQFailoverOptions options = TZQFailoverURLParser::ParseOptions(url);
    EXPECT_EQ(options.InitialReconnectDelay, 10u) << url;
    EXPECT_EQ(options.MaxReconnectDelay, 30000u) << url;
    EXPECT_EQ(options.BackOffMultiplier, 20000) << url;
    EXPECT_EQ(options.MaxReconnectAttempts, -1) << url;
    EXPECT_TRUE(options.Randomize) << url;
  }
}

TEST(FailoverURLParserTest, ReadsAllFiveOptions) {
  const TZQFailoverOptions options = OptionsOf(
      "initialReconnectDelay=100&maxReconnectDelay=5000&backOffMultiplier=1.5&maxReconnectAttempts=3&"
      "randomize="
      "false");
  EXPECT_EQ(options.InitialReconnectDelay, 100u);
  EXPECT_EQ(options.MaxReconnectDelay, 5000u);
  EXPECT_EQ(options.BackOffMultiplier, 15000);
  EXPECT_EQ(options.MaxReconnectAttempts, 3);
  EXPECT_FALSE(options.Randomize);
}

TEST(FailoverURLParserTest, OptionNamesIgnoreCase) {
  const TZQFailoverOptions options =
      OptionsOf("RANDOMIZE=FALSE&MAXRECONNECTATTEMPTS=4&initialreconnectdelay=7");
  EXPECT_FALSE(options.Randomize);
  EXPECT_EQ(options.MaxReconnectAttempts, 4);
  EXPECT_EQ(options.InitialReconnectDelay, 7u);
}

TEST(FailoverURLParserTest, FirstOfARepeatedNameCounts) {
  EXPECT_EQ(OptionsOf("maxReconnectAttempts=2&MaxReconnectAttempts=9").MaxReconnectAttempts, 2);
  EXPECT_FALSE(OptionsOf("randomize=false&randomize=true").Randomize);
}

TEST(FailoverURLParserTest, TheCharacterAfterTheLastBracketIsSkippedWhateverItIs) {
  EXPECT_EQ(TZQFailoverURLParser::GetOptionsText("failover:(stomp://a)?randomize=false"), "randomize=false");
  EXPECT_EQ(TZQFailoverURLParser::GetOptionsText("failover:(stomp://a)#randomize=false"), "randomize=false");
  EXPECT_EQ(TZQFailoverURLParser::GetOptionsText("failover:(stomp://a)"), "");
  EXPECT_EQ(TZQFailoverURLParser::GetOptionsText("no bracket?randomize=false"), "");
}

TEST(FailoverURLParserTest, UnknownOptionFailsWithTheWholeItem) {
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?randomize=false&timeout=5"), "unknown option: timeout=5");
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?randomizer"), "unknown option: randomizer");
  // A broker URL option belongs inside the brackets.
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?send.receipt=true"), "unknown option: send.receipt=true");
  // A trailing "&" adds an empty item, which has no valid name.
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?randomize=false&"), "unknown option: ");
}

TEST(FailoverURLParserTest, NegativeDelayIsARangeError) {
  EXPECT_THROW(OptionsOf("initialReconnectDelay=-1"), ERangeError);
  EXPECT_THROW(OptionsOf("maxReconnectDelay=-20"), ERangeError);
}

struct IntegerCase {
  const char* Text;
  uint32_t Delay;
  int32_t Attempts;
};

TEST(FailoverURLParserTest, IntegerOptionsFollowTheIntegerRule) {
  const std::vector<IntegerCase> cases = {{"25", 25, 25},  {"025", 25, 25}, {"0x10", 16, 16},
                                          {"$10", 16, 16}, {"+7", 7, 7},    {"0", 0, 0}};
  for (const IntegerCase& c : cases) {
    const std::string text = c.Text;
    EXPECT_EQ(OptionsOf("initialReconnectDelay=" + text).InitialReconnectDelay, c.Delay) << text;
    EXPECT_EQ(OptionsOf("maxReconnectAttempts=" + text).MaxReconnectAttempts, c.Attempts) << text;
  }
}

struct MultiplierCase {
  const char* Text;
  int64_t Fixed;
};

TEST(FailoverURLParserTest, MultiplierIsADecimalWithPointRoundedHalfToEven) {
  const std::vector<MultiplierCase> cases = {
      {"1.5", 15000},      {"2", 20000},
      {"1.25", 12500},     {"1.5e0", 15000},
      {"15E-1", 15000},    {"0.015e2", 15000},
      {".5", 5000},        {"3.", 30000},
      {"-1.5", -15000},    {"+1.5", 15000},
      {"1.00005", 10000},  {"1.00015", 10002},
      {"1.000051", 10001}, {"1.00004999", 10000},
      {"0.00005", 0},      {"0.00015", 2},
      {"1e-9", 0},         {"922337203685477.5807", std::numeric_limits<int64_t>::max()}};
  for (const MultiplierCase& c : cases) {
    EXPECT_EQ(OptionsOf(std::string("backOffMultiplier=") + c.Text).BackOffMultiplier, c.Fixed) << c.Text;
  }
}

TEST(FailoverURLParserTest, QuotedItemsMayHoldBlanks) {
  // Outside quotes a blank ends an item, so blanks around a value need a quoted item.
  EXPECT_EQ(OptionsOf("\"backOffMultiplier= 1.25 \"").BackOffMultiplier, 12500);
  EXPECT_EQ(OptionsOf("\"initialReconnectDelay=  25\"").InitialReconnectDelay, 25u);
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?backOffMultiplier= 1.25"), "unknown option: 1.25");
}

// Decimal comma and a thousands separator, as many locales have.
class CommaDecimal final : public std::numpunct<char> {
 protected:
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(FailoverURLParserTest, MultiplierIgnoresTheLocale) {
  // A C locale with a decimal comma where one is installed, and always a C++ global locale with one.
  const char* current = std::setlocale(LC_NUMERIC, nullptr);
  const std::string savedC = current ? current : "C";
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr)
      break;
  }
  // The locale owns and frees the facet.
  const std::locale savedCpp = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  const int64_t point = OptionsOf("backOffMultiplier=1.5").BackOffMultiplier;
  const std::string comma = ErrorOf("failover:(stomp://a:1)?backOffMultiplier=1,5");
  std::locale::global(savedCpp);
  std::setlocale(LC_NUMERIC, savedC.c_str());
  EXPECT_EQ(point, 15000);
  EXPECT_EQ(comma, "Failover option \"backOffMultiplier\" has an invalid value: \"1,5\"");
}

struct RandomizeCase {
  const char* Text;
  bool Value;
};

TEST(FailoverURLParserTest, RandomizeIsTrueFalseOrANumber) {
  const std::vector<RandomizeCase> cases = {
      {"true", true}, {"TRUE", true}, {"False", false}, {"false", false}, {"0", false},  {"1", true},
      {"-3", true},   {"0x0", false}, {"0.0", false},   {"0.5", true},    {"1e-9", true}};
  for (const RandomizeCase& c : cases) {
    EXPECT_EQ(OptionsOf(std::string("randomize=") + c.Text).Randomize, c.Value) << c.Text;
  }
}

struct InvalidValueCase {
  const char* Query;
  const char* Name;
  const char* Value;
};

// A value that does not read is refused before anything is tried, naming the option as written.
TEST(FailoverURLParserTest, ValueThatDoesNotReadIsRefused) {
  const std::vector<InvalidValueCase> cases = {
      {"maxReconnectAttempts=abc", "maxReconnectAttempts", "abc"},
      {"randomize=false&MAXRECONNECTATTEMPTS=2.5", "MAXRECONNECTATTEMPTS", "2.5"},
      {"initialReconnectDelay=25ms", "initialReconnectDelay", "25ms"},
      {"backOffMultiplier=1.5.0", "backOffMultiplier", "1.5.0"},
      {"backOffMultiplier=922337203685477.5808", "backOffMultiplier", "922337203685477.5808"},
      {"\"backOffMultiplier=1 000\"", "backOffMultiplier", "1 000"},
      {"randomize=yes", "randomize", "yes"},
      {"Randomize=", "Randomize", ""}};
  for (const InvalidValueCase& c : cases) {
    EXPECT_EQ(ErrorOf(std::string("failover:(stomp://a:1)?") + c.Query),
              std::string("Failover option \"") + c.Name + "\" has an invalid value: \"" + c.Value + "\"")
        << c.Query;
    EXPECT_THROW(OptionsOf(c.Query), EConfigurationException) << c.Query;
  }
}

std::vector<std::string> EntriesOf(const std::string& URL) {
  TZQFailoverURLParser parser(URL, 61613);
  parser.Parse();
  std::vector<std::string> entries;
  for (const IURIPtr& uri : parser.GetURIs())
    entries.push_back(uri->GetURI());
  return entries;
}

TEST(FailoverURLParserTest, SplitsEntriesAtCommasBeforeStomp) {
  using Entries = std::vector<std::string>;
  EXPECT_EQ(EntriesOf("failover:(stomp://a:1,stomp://b:2)?randomize=false"),
            (Entries{"stomp://a:1", "stomp://b:2"}));
  EXPECT_EQ(EntriesOf("FAILOVER:(stomp://a:1,STOMP://b:2)"), (Entries{"stomp://a:1", "STOMP://b:2"}));
  EXPECT_EQ(EntriesOf("failover:(stomp://a:1,stomp+ssl://b:2)"), (Entries{"stomp://a:1", "stomp+ssl://b:2"}));
  // A comma not followed by "stomp" stays inside the entry (here in an option value).
  EXPECT_EQ(EntriesOf("failover:(stomp://a:1?connect.heart-beat=1000,1000,stomp://b:2)"),
            (Entries{"stomp://a:1?connect.heart-beat=1000,1000", "stomp://b:2"}));
  // A blank after the comma keeps both URLs in one entry.
  EXPECT_EQ(EntriesOf("failover:(stomp://a:1, stomp://b:2)"), (Entries{"stomp://a:1, stomp://b:2"}));
  EXPECT_EQ(EntriesOf("failover:(stomp://a,stomp://b,stomp://c,stomp://d,stomp://e)").size(), 5u);
}

TEST(FailoverURLParserTest, EntriesWithoutPortGetTheDefaultPort) {
  TZQFailoverURLParser parser("failover:(stomp://a,stomp://b,stomp://c)?randomize=false", 61613);
  parser.Parse();
  ASSERT_EQ(parser.GetURIs().size(), 3u);
  const char* hosts[] = {"a", "b", "c"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(parser.GetURIs()[i]->GetHost(), hosts[i]);
    EXPECT_EQ(parser.GetURIs()[i]->GetPort(), "61613");
  }
  EXPECT_FALSE(parser.GetOptions().Randomize);
}

TEST(FailoverURLParserTest, EntriesKeepTheirOwnCredentialsAndOptions) {
  TZQFailoverURLParser parser("failover:(stomp://u1:p1@a:1?send.receipt=true,stomp://b:2)?randomize=0",
                              61613);
  parser.Parse();
  ASSERT_EQ(parser.GetURIs().size(), 2u);
  const IURIPtr& first = parser.GetURIs()[0];
  EXPECT_EQ(first->GetProtocol(), "stomp");
  EXPECT_EQ(first->GetUser(), "u1");
  EXPECT_EQ(first->GetPassword(), "p1");
  EXPECT_EQ(first->GetHost(), "a");
  EXPECT_EQ(first->GetPort(), "1");
  EXPECT_EQ(first->GetParams(), "send.receipt=true");
  EXPECT_EQ(parser.GetURIs()[1]->GetUser(), "");
  EXPECT_FALSE(parser.GetOptions().Randomize);
}

TEST(FailoverURLParserTest, UnknownOptionStopsTheParseBeforeTheEntries) {
  TZQFailoverURLParser parser("failover:(stomp://a:1)?bogus=1", 61613);
  EXPECT_THROW(parser.Parse(), EMQException);
  EXPECT_TRUE(parser.GetURIs().empty());
}

struct ProductCase {
  int64_t Value;
  int64_t Factor;
  int64_t Product;
};

TEST(FailoverURLParserTest, FixedPointProductRoundsHalfToEvenAndSaturates) {
  constexpr int64_t max = std::numeric_limits<int64_t>::max();
  constexpr int64_t min = std::numeric_limits<int64_t>::min();
  const std::vector<ProductCase> cases = {{100000, 20000, 200000},
                                          {100000, 15000, 150000},
                                          {225000, 15000, 337500},
                                          {506250, 15000, 759375},
                                          {759375, 15000, 1139062},
                                          {5, 5000, 2},   // 2.5 units -> 2
                                          {15, 5000, 8},  // 7.5 units -> 8
                                          {-15, 5000, -8},
                                          {0, 123, 0},
                                          {max, 20000, max},
                                          {max, -20000, min},
                                          {min, min, max},
                                          {1, 1, 0}};
  for (const ProductCase& c : cases) {
    EXPECT_EQ(MultiplyFixedPoint(c.Value, c.Factor), c.Product) << c.Value << " x " << c.Factor;
  }
}

}  // namespace
}  // namespace velmor
