#pragma once

#include <memory>
#include <string>

#include "ZQMQInterfaces.h"
#include "ZQMessage.h"

namespace velmor {

// A message whose body is octets, sent unchanged with a "content-length".
class TZQBytesMessage final : public TZQMessage, public IBytesMessage {
 public:
  explicit TZQBytesMessage(std::weak_ptr<TZQStompClient> Transport);
  // For a received MESSAGE frame (Content is its body) and for the library copy of a message to send.
  TZQBytesMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content,
                  TSubscriptionText Subscription);

  void SetContent(const std::string& Content) override { FContent = Content; }
  std::string GetContent() const override { return FContent; }

  TZQMessageKind GetKind() const override { return TZQMessageKind::Bytes; }
};

}  // namespace velmor
