#include "StompFrames.h"

namespace velmor::testing {

IStompFramePtr MakeFrame(const std::string& Command,
                         const std::vector<std::pair<std::string, std::string>>& Headers,
                         const std::string& Body) {
  IStompFramePtr frame = TZQStompFrame::CreateForCommand(Command);
  for (const auto& [name, value] : Headers)
    frame->AddHeader(name, value);
  frame->SetBody(Body);
  return frame;
}

}  // namespace velmor::testing
