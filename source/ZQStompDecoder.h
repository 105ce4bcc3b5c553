#pragma once

#include <string>
#include <string_view>

#include "ZQStompInterfaces.h"

namespace velmor {

class TZQStompDecoder final : public IStompDecoder {
 public:
  static IStompDecoderPtr Create();

  IStompFramePtr Decode(const std::string& HeaderText, TStompVersion Version) const override;

  // Undoes header escaping for the version; IsConnected selects the CONNECTED-frame rule.
  static std::string Unescape(std::string_view Text, bool IsConnected, TStompVersion Version);
};

}  // namespace velmor
