#include "ZQAbstractCommAdapterMQ.h"

#include <string>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

IStompFramePtr TZQAbstractCommAdapterMQ::ReceiveFrame(int32_t Timeout) {
  const std::string line = ReadFirstLine(Timeout);
  if (line.empty())
    return nullptr;

  const int32_t rest = FrameRestTimeout(Timeout);
  IStompFramePtr frame = ReceiveHeader(line, rest);
  const int32_t length = frame->GetContentLength();
  if (length < 0)
    throw EZQStompError(Format("Invalid content-length %d.", {int64_t{length}}));
  if (length > 0)
    frame->SetBody(ReadBytes(length, rest));
  CheckEndSep(rest);
  CheckLineSep(rest);
  return frame;
}

}  // namespace velmor
