#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

#include "ZQDateTime.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

// A date-time Seconds after 1970-01-01 00:00.
TDateTime AfterEpoch(double Seconds) {
  return 25569.0 + Seconds / 86400.0;
}

TEST(DateTimeTest, EpochIsDayCount25569) {
  EXPECT_EQ(UnixMillisToDateTime(0), 25569.0);
  EXPECT_EQ(DateTimeToUnixMillis(25569.0), 0);
}

TEST(DateTimeTest, WholeDaysConvertExactly) {
  EXPECT_EQ(UnixMillisToDateTime(86400000), 25570.0);
  EXPECT_EQ(UnixMillisToDateTime(-86400000), 25568.0);
  EXPECT_EQ(DateTimeToUnixMillis(25570.0), 86400000);
  EXPECT_EQ(DateTimeToUnixMillis(25568.0), -86400000);
}

TEST(DateTimeTest, MillisecondsAreCutTowardZero) {
  EXPECT_EQ(UnixMillisToDateTime(86400000 - 1), UnixMillisToDateTime(86399000));
  EXPECT_EQ(UnixMillisToDateTime(1999), UnixMillisToDateTime(1000));
  EXPECT_EQ(UnixMillisToDateTime(999), 25569.0);
  EXPECT_EQ(UnixMillisToDateTime(-999), 25569.0);
  EXPECT_EQ(UnixMillisToDateTime(-1500), UnixMillisToDateTime(-1000));
  EXPECT_LT(UnixMillisToDateTime(-1000), 25569.0);
}

TEST(DateTimeTest, DateTimeRoundsToTheNearestSecond) {
  EXPECT_EQ(DateTimeToUnixMillis(AfterEpoch(0.4)), 0);
  EXPECT_EQ(DateTimeToUnixMillis(AfterEpoch(0.6)), 1000);
  EXPECT_EQ(DateTimeToUnixMillis(AfterEpoch(2.4)), 2000);
  EXPECT_EQ(DateTimeToUnixMillis(AfterEpoch(2.6)), 3000);
  EXPECT_EQ(DateTimeToUnixMillis(AfterEpoch(-0.4)), 0);
  EXPECT_EQ(DateTimeToUnixMillis(AfterEpoch(-0.6)), -1000);
  EXPECT_EQ(DateTimeToUnixMillis(AfterEpoch(-2.6)), -3000);
}

TEST(DateTimeTest, HalfSecondsRoundToTheEvenSecond) {
  // 1/256 of a day is exactly 337.5 s, and these date-times are exact doubles.
  EXPECT_EQ(DateTimeToUnixMillis(25569.0 + 1.0 / 256), 338000);
  EXPECT_EQ(DateTimeToUnixMillis(25569.0 + 3.0 / 256), 1012000);
  EXPECT_EQ(DateTimeToUnixMillis(25569.0 - 1.0 / 256), -338000);
  EXPECT_EQ(DateTimeToUnixMillis(25569.0 - 3.0 / 256), -1012000);
}

TEST(DateTimeTest, RoundTripDropsTheMilliseconds) {
  EXPECT_EQ(DateTimeToUnixMillis(UnixMillisToDateTime(1234567890123)), 1234567890000);
  EXPECT_EQ(DateTimeToUnixMillis(UnixMillisToDateTime(-1234567890123)), -1234567890000);
  EXPECT_EQ(DateTimeToUnixMillis(UnixMillisToDateTime(1700000000999)), 1700000000000);
}

TEST(DateTimeTest, UnsetDateTimeIsTheStartOf1899December30) {
  EXPECT_EQ(DateTimeToUnixMillis(0.0), -2209161600000);
}

TEST(DateTimeTest, ExtremeMillisecondsConvert) {
  const int64_t max = std::numeric_limits<int64_t>::max();
  const int64_t min = std::numeric_limits<int64_t>::min();
  EXPECT_NEAR(UnixMillisToDateTime(max), 25569.0 + 9223372036854775.0 / 86400.0, 1.0);
  EXPECT_NEAR(UnixMillisToDateTime(min), 25569.0 - 9223372036854775.0 / 86400.0, 1.0);
}

TEST(DateTimeTest, LargestFittingDateTimeConverts) {
  const int64_t millis = DateTimeToUnixMillis(AfterEpoch(9.2e15));
  EXPECT_EQ(millis % 1000, 0);
  EXPECT_NEAR(static_cast<double>(millis), 9.2e18, 1e6);
}

TEST(DateTimeTest, ResultBeyond64BitsRaisesIntegerOverflow) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const double value : {AfterEpoch(9.3e15), AfterEpoch(-9.3e15), 1e300, -1e300, inf, -inf,
                             std::numeric_limits<double>::quiet_NaN()}) {
    try {
      DateTimeToUnixMillis(value);
      ADD_FAILURE() << "no error for " << value;
    } catch (const ERangeError& error) {
      EXPECT_STREQ(error.what(), "Integer overflow");
    }
  }
}

TEST(DateTimeTest, NowUtcIsTheSystemClockWithMilliseconds) {
  const auto millisNow = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const int64_t before = millisNow();
  const TDateTime now = NowUTC();
  const int64_t after = millisNow();
  const double millis = (now - 25569.0) * 86400000.0;
  EXPECT_GE(millis, static_cast<double>(before) - 1.0);
  EXPECT_LE(millis, static_cast<double>(after) + 1.0);
}

}  // namespace
}  // namespace velmor
