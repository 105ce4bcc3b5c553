#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "CaseName.h"
#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {
namespace {

constexpr int32_t Default32 = 7777;
constexpr int64_t Default64 = 7777;
constexpr int32_t Min32 = std::numeric_limits<int32_t>::min();
constexpr int32_t Max32 = std::numeric_limits<int32_t>::max();
constexpr int64_t Min64 = std::numeric_limits<int64_t>::min();
constexpr int64_t Max64 = std::numeric_limits<int64_t>::max();

struct IntCase {
  std::string Text;
  int64_t Expected;
};

std::ostream& operator<<(std::ostream& out, const IntCase& c) {
  return out << '"' << c.Text << '"';
}

class IntegerRuleTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntegerRuleTest, ReadsA32BitIntegerOrGivesTheDefault) {
  const IntCase& c = GetParam();
  EXPECT_EQ(StrToIntDef(c.Text, Default32), c.Expected);
  int32_t value = -99;
  const bool ok = TryStrToInt(c.Text, value);
  EXPECT_EQ(ok, c.Expected != Default32);
  EXPECT_EQ(value, ok ? c.Expected : -99);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IntegerRuleTest,
    ::testing::Values(
        IntCase{"42", 42}, IntCase{"0042", 42}, IntCase{"010", 10}, IntCase{" 42", 42}, IntCase{"   -7", -7},
        IntCase{"+5", 5}, IntCase{"0", 0}, IntCase{"-0", 0}, IntCase{"-2147483648", Min32},
        IntCase{"2147483647", Max32}, IntCase{"2147483648", Default32}, IntCase{"-2147483649", Default32},
        IntCase{"99999999999999999999", Default32}, IntCase{"$1F", 31}, IntCase{"$1f", 31},
        IntCase{"0x1f", 31}, IntCase{"0X1F", Default32}, IntCase{"0X10", Default32}, IntCase{" $10", 16},
        IntCase{"-$10", -16}, IntCase{"-0x10", -16}, IntCase{"$7FFFFFFF", Max32},
        IntCase{"$80000000", Default32}, IntCase{"-$80000000", Min32}, IntCase{"42abc", Default32},
        IntCase{"42 ", Default32}, IntCase{"4 2", Default32}, IntCase{"1.0", Default32},
        IntCase{"1e3", Default32}, IntCase{"", Default32}, IntCase{" ", Default32}, IntCase{"+", Default32},
        IntCase{"-", Default32}, IntCase{"$", Default32}, IntCase{"0x", Default32}, IntCase{"$G", Default32},
        IntCase{"- 5", Default32}, IntCase{"--5", Default32}, IntCase{"abc", Default32}),
    testing::ByText);

TEST(IntegerRuleTest, Reads64BitIntegersUpToTheirBounds) {
  EXPECT_EQ(StrToInt64Def("9223372036854775807", Default64), Max64);
  EXPECT_EQ(StrToInt64Def("-9223372036854775808", Default64), Min64);
  EXPECT_EQ(StrToInt64Def("9223372036854775808", Default64), Default64);
  EXPECT_EQ(StrToInt64Def("-9223372036854775809", Default64), Default64);
  EXPECT_EQ(StrToInt64Def("$7FFFFFFFFFFFFFFF", Default64), Max64);
  EXPECT_EQ(StrToInt64Def("0x8000000000000000", Default64), Default64);
  EXPECT_EQ(StrToInt64Def("-0x8000000000000000", Default64), Min64);
  EXPECT_EQ(StrToInt64Def("2147483648", Default64), 2147483648);
  EXPECT_EQ(StrToInt64Def(" 0042", Default64), 42);
  EXPECT_EQ(StrToInt64Def("42abc", Default64), Default64);
  EXPECT_EQ(StrToInt64Def("", Default64), Default64);
}

TEST(IntegerRuleTest, ReadsIntegersOfAnySizeClampedTo64Bits) {
  const auto clamped = [](const std::string& Text) {
    int64_t value = Default64;
    return TryStrToIntClamped(Text, value) ? std::to_string(value) : "not an integer";
  };
  EXPECT_EQ(clamped("4294967301"), "4294967301");
  EXPECT_EQ(clamped("9223372036854775807"), std::to_string(Max64));
  EXPECT_EQ(clamped("99999999999999999999999"), std::to_string(Max64));
  EXPECT_EQ(clamped("$FFFFFFFFFFFFFFFFFF"), std::to_string(Max64));
  EXPECT_EQ(clamped("-9223372036854775809"), std::to_string(Min64));
  EXPECT_EQ(clamped(" -5"), "-5");
  EXPECT_EQ(clamped("99999999999999999999x"), "not an integer");
  EXPECT_EQ(clamped(""), "not an integer");
}

TEST(FormatTest, FillsTextsAndIntegersInOrder) {
  EXPECT_EQ(Format("Adapter class %s is already registered", {"TZQTcpAdapter"}),
            "Adapter class TZQTcpAdapter is already registered");
  EXPECT_EQ(Format("%s:%d", {std::string("host"), 61613}), "host:61613");
  EXPECT_EQ(Format("%d %d", {-5, int64_t{9223372036854775807}}), "-5 9223372036854775807");
  EXPECT_EQ(Format("[%s]", {""}), "[]");
  EXPECT_EQ(Format("no placeholders", {}), "no placeholders");
}

TEST(FormatTest, DoublePercentWritesOnePercent) {
  EXPECT_EQ(Format("100%% of %d", {7}), "100% of 7");
  EXPECT_EQ(Format("%%s", {"x"}), "%s");
}

TEST(FormatTest, MissingArgumentsLeaveThePlaceholder) {
  EXPECT_EQ(Format("a %s b %d", {"x"}), "a x b %d");
  EXPECT_EQ(Format("%s", {}), "%s");
}

TEST(FormatTest, ExtraArgumentsAreIgnored) {
  EXPECT_EQ(Format("a %s", {"x", "y", 3}), "a x");
}

TEST(FormatTest, MismatchedArgumentsAreWrittenAsTheyAre) {
  EXPECT_EQ(Format("%d/%s", {"text", 12}), "text/12");
}

TEST(FormatTest, OtherPercentSequencesStayAsWritten) {
  EXPECT_EQ(Format("%x %s %", {"a"}), "%x a %");
}

TEST(AsciiCaseTest, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(UpperCaseAscii("content-Length \xC3\xA4"), "CONTENT-LENGTH \xC3\xA4");
  EXPECT_EQ(LowerCaseAscii("Content-LENGTH \xC3\x84"), "content-length \xC3\x84");
  EXPECT_TRUE(SameTextAscii("Content-Length", "content-LENGTH"));
  EXPECT_FALSE(SameTextAscii("\xC3\xA4", "\xC3\x84"));
  EXPECT_FALSE(SameTextAscii("abc", "abcd"));
  EXPECT_TRUE(SameTextAscii("", ""));
}

TEST(LineBreakTest, TrimsTrailingBreaksAndShowsEachInnerRunAsOneBlank) {
  struct {
    std::string Text, Trimmed, OneLine;
  } const Cases[] = {
      {"Socket Error # 104\r\nConnection reset by peer", "Socket Error # 104\r\nConnection reset by peer",
       "Socket Error # 104 Connection reset by peer"},
      {"Access refused\n", "Access refused", "Access refused"},
      {"a\r\n\r\n\rb\n\r\n", "a\r\n\r\n\rb", "a b"},
      {"a\xE2\x80\xA8\nb\xE2\x80\xA9", "a\xE2\x80\xA8\nb", "a b"},
      {"\xE2\x80\x99quoted\xE2\x80\x99 \xE2\x80", "\xE2\x80\x99quoted\xE2\x80\x99 \xE2\x80",
       "\xE2\x80\x99quoted\xE2\x80\x99 \xE2\x80"},
      {"\r\n", "", ""},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(TrimTrailingLineBreaks(Case.Text), Case.Trimmed) << Case.Text;
    EXPECT_EQ(SingleLine(Case.Text), Case.OneLine) << Case.Text;
  }
}

template <class Error, class Base>
bool CaughtAs() {
  try {
    throw Error("text");
  } catch (const Base& error) {
    return std::string(error.what()) == "text";
  } catch (...) {
    return false;
  }
}

TEST(ExceptionTest, MessagingErrorsAreEMQExceptions) {
  EXPECT_TRUE((CaughtAs<EIllegalStateException, EMQException>()));
  EXPECT_TRUE((CaughtAs<EUnsupportedOperationException, EMQException>()));
  EXPECT_TRUE((CaughtAs<EIllegalArgumentException, EMQException>()));
  EXPECT_TRUE((CaughtAs<EConfigurationException, EMQException>()));
  EXPECT_TRUE((CaughtAs<EZQStompError, EMQException>()));
  EXPECT_TRUE((CaughtAs<EMQException, EVelmorError>()));
}

TEST(ExceptionTest, StompErrorsAreEZQStompErrors) {
  EXPECT_TRUE((CaughtAs<EZQNoCommAdapterInstalled, EZQStompError>()));
  EXPECT_TRUE((CaughtAs<EZQReservedProperty, EZQStompError>()));
  EXPECT_TRUE((CaughtAs<EZQStompClientNotConnectedError, EZQStompError>()));
  EXPECT_TRUE((CaughtAs<EZQStompInvalidTransactionIdError, EZQStompError>()));
  EXPECT_TRUE((CaughtAs<EZQStompServerErrorMessage, EZQStompError>()));
  EXPECT_TRUE((CaughtAs<EZQStompServerHeartbeatMissing, EZQStompError>()));
  EXPECT_TRUE((CaughtAs<EZQStompServerErrorMessage, EMQException>()));
}

TEST(ExceptionTest, ErrorsBesideTheMessagingErrorsAreNotEMQExceptions) {
  EXPECT_FALSE((std::is_base_of_v<EMQException, ENoMessageTransformer>));
  EXPECT_FALSE((std::is_base_of_v<EMQException, EDuplicateConsumerIDException>));
  EXPECT_FALSE((std::is_base_of_v<EMQException, ERangeError>));
  EXPECT_FALSE((std::is_base_of_v<EMQException, EAssertionFailed>));
  EXPECT_FALSE((CaughtAs<ENoMessageTransformer, EMQException>()));
  EXPECT_TRUE((CaughtAs<ENoMessageTransformer, EVelmorError>()));
  EXPECT_TRUE((CaughtAs<EDuplicateConsumerIDException, EVelmorError>()));
  EXPECT_TRUE((CaughtAs<ERangeError, EVelmorError>()));
}

TEST(ExceptionTest, EveryLibraryErrorIsARuntimeError) {
  EXPECT_TRUE((CaughtAs<EVelmorError, std::runtime_error>()));
  EXPECT_TRUE((CaughtAs<EZQStompServerHeartbeatMissing, std::runtime_error>()));
}

TEST(ExceptionTest, FailedCheckNamesUnitAndLine) {
  EXPECT_NO_THROW(Check(true, "ZQStompDecoder", 139));
  try {
    Check(false, "ZQStompDecoder", 139);
    ADD_FAILURE() << "no error";
  } catch (const EAssertionFailed& error) {
    EXPECT_STREQ(error.what(), "Assertion failure (ZQStompDecoder, line 139)");
  }
  try {
    Check(false, "ZQURI", 7, "Host expected");
    ADD_FAILURE() << "no error";
  } catch (const EVelmorError& error) {
    EXPECT_STREQ(error.what(), "Host expected (ZQURI, line 7)");
  }
}

}  // namespace
}  // namespace velmor
