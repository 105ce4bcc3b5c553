#pragma once

#include <cstdint>

namespace velmor {

// The API's date-time: days since 1899-12-30 00:00 in the integral part, the time of day in the
// fraction (0.5 = noon). 1970-01-01 00:00 is 25569.0. The value 0 means "not set".
using TDateTime = double;

// 1970-01-01 00:00 as a date-time.
inline constexpr TDateTime UnixEpochDateTime = 25569.0;

// Milliseconds since 1970-01-01 00:00 UTC to a date-time. Whole seconds only: the sub-second part is
// cut off toward zero (1999 gives 1 s, -1500 gives -1 s).
TDateTime UnixMillisToDateTime(int64_t Millis);

// A date-time to milliseconds since 1970, rounded to the nearest whole second (ties to the even
// second), so the result is always a multiple of 1000. Raises ERangeError "Integer overflow" when the
// result does not fit in 64 bits or the date-time is not a finite number.
int64_t DateTimeToUnixMillis(TDateTime Value);

// The current moment in UTC, milliseconds included.
TDateTime NowUTC();

}  // namespace velmor
