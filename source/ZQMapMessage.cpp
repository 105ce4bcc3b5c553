#include "ZQMapMessage.h"

#include <utility>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

TZQMapMessage::TZQMapMessage(std::weak_ptr<TZQStompClient> Transport) : TZQMessage(std::move(Transport)) {}

TZQMapMessage::TZQMapMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content,
                             TSubscriptionText Subscription)
    : TZQMessage(std::move(Transport), std::move(Content), std::move(Subscription)) {}

// An entry counts only when its value is not empty; the name is looked up untrimmed.
bool TZQMapMessage::ItemExists(const std::string& Name) const {
  Check(!IsBlankText(Name), "ZQMapMessage", 67);
  return !FMap->GetString(Name).empty();
}

}  // namespace velmor
