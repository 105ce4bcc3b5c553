#include "ZQBytesMessage.h"

#include <utility>

namespace velmor {

TZQBytesMessage::TZQBytesMessage(std::weak_ptr<TZQStompClient> Transport)
    : TZQMessage(std::move(Transport)) {}

TZQBytesMessage::TZQBytesMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content,
                                 TSubscriptionText Subscription)
    : TZQMessage(std::move(Transport), std::move(Content), std::move(Subscription)) {}

}  // namespace velmor
