#include "ZQTransactionContext.h"

#include <cstdint>
#include <random>

namespace velmor {

std::string NewGUIDText() {
  // One generator per thread, seeded once from the system's entropy source: no lock on the way.
  thread_local std::mt19937_64 generator{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  const uint64_t high = generator();
  uint64_t low = generator();
  // Version 4 (random) and the RFC 4122 variant, as GUID generators mark them.
  uint64_t versioned = (high & ~uint64_t{0xF000}) | uint64_t{0x4000};
  low = (low & ~(uint64_t{0xC} << 60)) | (uint64_t{0x8} << 60);

  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text = "{";
  text.reserve(38);
  const auto append = [&text](uint64_t Value, int Nibbles) {
    for (int shift = (Nibbles - 1) * 4; shift >= 0; shift -= 4) {
      text.push_back(Digits[(Value >> shift) & 0xF]);
    }
  };
  append(versioned >> 32, 8);
  text.push_back('-');
  append(versioned >> 16, 4);
  text.push_back('-');
  append(versioned, 4);
  text.push_back('-');
  append(low >> 48, 4);
  text.push_back('-');
  append(low, 12);
  text.push_back('}');
  return text;
}

void TZQTransactionContext::NewTransactionID() {
  FTransactionID = NewGUIDText();
  FOpen = false;
}

}  // namespace velmor
