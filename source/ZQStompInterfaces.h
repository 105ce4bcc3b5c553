#pragma once

#include <memory>
#include <string>

#include "ZQStompFrame.h"
#include "ZQStompTypes.h"

namespace velmor {

// Turns a received header block (command line, header lines, blank line; each ended by LF) into a new
// frame with its command and unescaped headers. Keeps no state; safe to share between threads.
class IStompDecoder {
 public:
  virtual ~IStompDecoder() = default;
  virtual IStompFramePtr Decode(const std::string& HeaderText, TStompVersion Version) const = 0;
};

using IStompDecoderPtr = std::shared_ptr<IStompDecoder>;

}  // namespace velmor
