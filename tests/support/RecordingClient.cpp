#include "RecordingClient.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace velmor::testing {

std::shared_ptr<TZQTextMessage> MessageFromFrame(const std::shared_ptr<TZQStompClient>& Client,
                                                 const IStompFrame& Frame) {
  static constexpr std::array<std::string_view, 11> Standard = {
      "message-id",     "correlation-id", "expires",   "persistent", "priority",   "destination",
      "content-length", "reply-to",       "timestamp", "type",       "redelivered"};
  auto message = std::make_shared<TZQTextMessage>(Client, Frame.GetHeader("subscription"));
  message->SetMessageID(Frame.GetHeader("message-id"));
  message->SetRedelivered(Frame.GetHeader("redelivered") == "true");
  for (const TStompHeaderItem& header : Frame.GetHeaders()) {
    if (std::find(Standard.begin(), Standard.end(), header.Name) == Standard.end()) {
      message->SetStringProperty(header.Name, header.Value);
    }
  }
  message->SetText(Frame.GetBodyText());
  return message;
}

}  // namespace velmor::testing
