#include "ZQThreadSafe.h"

#include <limits>

#include "ZQExceptions.h"

namespace velmor {

int64_t TZQThreadSafeIntegerSequence::Next() {
  const std::lock_guard<std::mutex> guard(FLock);
  if (FValue == std::numeric_limits<int64_t>::max()) {
    throw ERangeError("Integer overflow");
  }
  return FValue++;
}

}  // namespace velmor
