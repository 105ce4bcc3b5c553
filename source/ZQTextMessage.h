#pragma once

#include <memory>
#include <string>
#include <utility>

#include "ZQMQInterfaces.h"
#include "ZQMessage.h"

namespace velmor {

// A message whose body is a text, sent as UTF-8.
class TZQTextMessage final : public TZQMessage, public ITextMessage {
 public:
  explicit TZQTextMessage(std::weak_ptr<TZQStompClient> Transport);
  // For a received MESSAGE frame: Subscription is its "subscription" header.
  TZQTextMessage(std::weak_ptr<TZQStompClient> Transport, TSubscriptionText Subscription);

  void SetText(std::string Text) override { FText = std::move(Text); }
  std::string GetText() const override { return FText; }
  const std::string& GetTextRef() const override { return FText; }
  TZQMessageKind GetKind() const override { return TZQMessageKind::Text; }
  const std::string& GetBodyRef() const override { return FText; }

 private:
  std::string FText;
};

}  // namespace velmor
