#pragma once

#include <memory>
#include <string>

#include "ZQMQInterfaces.h"
#include "ZQMessage.h"

namespace velmor {

// A message that carries one application object. The message shares ownership of the object with the
// application, so the object lives at least as long as the message holds it. Only the raw body
// (IMessageContent) travels: the application's message transformer serializes the object into it on
// send and restores it on receive.
class TZQObjectMessage final : public TZQMessage, public IObjectMessage, public IMessageContent {
 public:
  explicit TZQObjectMessage(std::weak_ptr<TZQStompClient> Transport);
  // For a received MESSAGE frame (Content is its body) and for the library copy of a message to send;
  // the object starts unset either way.
  TZQObjectMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content,
                   TSubscriptionText Subscription);

  // IObjectMessage
  void SetObject(const IObjectPtr& Object) override;
  IObjectPtr GetObject() const override { return FObject; }

  // IMessageContent
  void SetContent(const std::string& Content) override { FContent = Content; }
  std::string GetContent() const override { return FContent; }

  TZQMessageKind GetKind() const override { return TZQMessageKind::Object; }

 private:
  IObjectPtr FObject;
};

}  // namespace velmor
