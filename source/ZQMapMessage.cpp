#include "ZQMapMessage.h"

#include <string_view>
#include <utility>

#include "ZQExceptions.h"

namespace velmor {

namespace {

// Without leading and trailing octets from 0x00 to 0x20 (blanks and control characters).
std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

TZQMapMessage::TZQMapMessage(std::weak_ptr<TZQStompClient> Transport) : TZQMessage(std::move(Transport)) {}

TZQMapMessage::TZQMapMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content,
                             TSubscriptionText Subscription)
    : TZQMessage(std::move(Transport), std::move(Content), std::move(Subscription)) {}

// An entry counts only when its value is not empty; the name is looked up untrimmed.
bool TZQMapMessage::ItemExists(const std::string& Name) const {
  Check(!Trimmed(Name).empty(), "ZQMapMessage", 67);
  return !FMap->GetString(Name).empty();
}

}  // namespace velmor
