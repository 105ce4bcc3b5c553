#pragma once

#include <string>
#include <string_view>

#include "ZQStompFrame.h"
#include "ZQStompInterfaces.h"

namespace velmor {

class TZQStompDecoder final : public IStompDecoder {
 public:
  static IStompDecoderPtr Create();

  IStompFramePtr Decode(const std::string& HeaderText, TStompVersion Version) const override;

  // Decodes a header block into Frame, whose command, headers and body it replaces (the header items'
  // strings are reused). Command is the first line; Lines are the header lines, each ended by LF, without
  // the blank line; DropCR drops one CR before each LF. Raises as Decode does for the same block. Returns
  // the index of the header that GetContentLength reads, npos when there is none.
  static size_t DecodeHeaderBlock(std::string_view Command, std::string_view Lines, bool DropCR,
                                  TStompVersion Version, TZQStompFrame& Frame);

  // Undoes header escaping for the version; IsConnected selects the CONNECTED-frame rule.
  static std::string Unescape(std::string_view Text, bool IsConnected, TStompVersion Version);
};

}  // namespace velmor
