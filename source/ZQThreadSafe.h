#pragma once

#include <cstdint>
#include <mutex>

namespace velmor {

// An object with its own lock. Safe to share between threads. Neither copyable nor movable.
class TZQThreadSafe {
 public:
  TZQThreadSafe() = default;
  TZQThreadSafe(const TZQThreadSafe&) = delete;
  TZQThreadSafe& operator=(const TZQThreadSafe&) = delete;
  virtual ~TZQThreadSafe() = default;

  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

 protected:
  std::mutex FLock;
};

// Hands out 0, 1, 2, ... ; each number once. Next may be called from any number of threads at once.
class TZQThreadSafeIntegerSequence final : public TZQThreadSafe {
 public:
  // The current value; the sequence then advances by one. Raises ERangeError "Integer overflow"
  // rather than wrap once the 64-bit range is used up.
  int64_t Next();

 private:
  int64_t FValue = 0;
};

}  // namespace velmor
