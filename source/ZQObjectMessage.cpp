#include "ZQObjectMessage.h"

#include <utility>

#include "ZQExceptions.h"

namespace velmor {

TZQObjectMessage::TZQObjectMessage(std::weak_ptr<TZQStompClient> Transport)
    : TZQMessage(std::move(Transport)) {}

TZQObjectMessage::TZQObjectMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content,
                                   TSubscriptionText Subscription)
    : TZQMessage(std::move(Transport), std::move(Content), std::move(Subscription)) {}

void TZQObjectMessage::SetObject(const IObjectPtr& Object) {
  if (!Object) {
    throw EIllegalArgumentException("Object must not be nil");
  }
  FObject = Object;
}

}  // namespace velmor
