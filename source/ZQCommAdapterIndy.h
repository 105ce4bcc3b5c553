#pragma once

#include <string>

#include "ZQCommAdapterBaseIndy.h"
#include "ZQCommInterfaces.h"

namespace velmor {

// The TCP communication adapter, registered as the default adapter class. Not thread-safe.
class TZQCommAdapterIndy final : public TZQCommAdapterBaseIndy {
 public:
  static constexpr const char* ClassNameText = "TZQCommAdapterIndy";

  TZQCommAdapterIndy();

  static IStompCommAdapterPtr Create();

  std::string GetClassName() const override { return ClassNameText; }
};

}  // namespace velmor
