#include "ZQDateTime.h"

#include <chrono>
#include <cmath>

#include "ZQExceptions.h"

namespace velmor {

namespace {

constexpr int64_t SecondsPerDay = 86400;
constexpr int64_t MillisPerDay = SecondsPerDay * 1000;
constexpr char IntegerOverflow[] = "Integer overflow";

// Rounds to the nearest integer, ties to the even one, whatever the floating-point rounding mode.
double RoundHalfEven(double Value) {
  const double whole = std::floor(Value);
  const double fraction = Value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) {
    return whole + 1.0;
  }
  return whole;
}

}  // namespace

TDateTime UnixMillisToDateTime(int64_t Millis) {
  const int64_t seconds = Millis / 1000;
  return static_cast<double>(seconds) / static_cast<double>(SecondsPerDay) + UnixEpochDateTime;
}

int64_t DateTimeToUnixMillis(TDateTime Value) {
  const double seconds = RoundHalfEven((Value - UnixEpochDateTime) * static_cast<double>(SecondsPerDay));
  // 2^63 is exact as a double; every double below it and at or above -2^63 converts without overflow.
  constexpr double limit = 9223372036854775808.0;
  if (!std::isfinite(seconds) || seconds >= limit || seconds < -limit) {
    throw ERangeError(IntegerOverflow);
  }
  int64_t millis = 0;
  if (__builtin_mul_overflow(static_cast<int64_t>(seconds), int64_t{1000}, &millis)) {
    throw ERangeError(IntegerOverflow);
  }
  return millis;
}

TDateTime NowUTC() {
  const auto now = std::chrono::system_clock::now();
  const int64_t millis = std::chrono::floor<std::chrono::milliseconds>(now).time_since_epoch().count();
  // Whole days and the time of day apart, so the fraction is the exact time of day in milliseconds.
  int64_t days = millis / MillisPerDay;
  int64_t millisOfDay = millis % MillisPerDay;
  if (millisOfDay < 0) {
    millisOfDay += MillisPerDay;
    --days;
  }
  return UnixEpochDateTime + static_cast<double>(days) +
         static_cast<double>(millisOfDay) / static_cast<double>(MillisPerDay);
}

}  // namespace velmor
