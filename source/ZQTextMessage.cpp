#include "ZQTextMessage.h"

#include <utility>

namespace velmor {

TZQTextMessage::TZQTextMessage(std::weak_ptr<TZQStompClient> Transport) : TZQMessage(std::move(Transport)) {}

TZQTextMessage::TZQTextMessage(std::weak_ptr<TZQStompClient> Transport, TSubscriptionText Subscription)
    : TZQMessage(std::move(Transport), std::move(Subscription)) {}

}  // namespace velmor
