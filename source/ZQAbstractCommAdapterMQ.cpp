#include "ZQAbstractCommAdapterMQ.h"

#include <string>

namespace velmor {

IStompFramePtr TZQAbstractCommAdapterMQ::ReceiveFrame(int32_t Timeout) {
  const std::string line = ReadFirstLine(Timeout);
  if (line.empty())
    return nullptr;

  // One deadline for the rest of the frame, moved later by the time its body may take.
  TWaitDeadline deadline(FrameRestTimeout(Timeout));
  IStompFramePtr frame = ReceiveHeader(line, deadline);
  const int32_t length = frame->GetContentLength();
  CheckContentLength(length);
  deadline.Extend(BodyReadAllowance(length));
  if (length > 0)
    frame->SetBody(ReadBytes(length, deadline));
  CheckEndSep(deadline);
  CheckLineSep(deadline);
  return frame;
}

}  // namespace velmor
