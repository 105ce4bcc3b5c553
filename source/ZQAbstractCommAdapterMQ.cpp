#include "ZQAbstractCommAdapterMQ.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace velmor {

IStompFramePtr TZQAbstractCommAdapterMQ::ReceiveFrame(int32_t Timeout) {
  const std::string line = ReadFirstLine(Timeout);
  if (line.empty())
    return nullptr;

  // One deadline for the rest of the frame, moved later by the time its body may take.
  TWaitDeadline deadline(FrameRestTimeout(Timeout));
  IStompFramePtr frame = ReceiveHeader(line, deadline);
  const std::optional<int64_t> length = AnnouncedLength(frame->FindHeader("content-length"));
  if (length) {
    CheckContentLength(*length);
    deadline.Extend(BodyReadAllowance(static_cast<int32_t>(*length)));
    if (*length > 0)
      frame->SetBody(ReadBytes(static_cast<int32_t>(*length), deadline));
  } else {
    std::string body;
    ReadUntilEndSep(body, deadline);
    frame->SetBody(std::move(body));
  }
  CheckEndSep(deadline);
  CheckLineSep(deadline);
  return frame;
}

}  // namespace velmor
