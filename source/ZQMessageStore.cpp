#include "ZQMessageStore.h"

#include <cstdint>

#include "ZQExceptions.h"
#include "ZQMessage.h"
#include "ZQText.h"

namespace velmor {

namespace {

// The body size of a message, for the octet bound. The transport builds library messages, whose body
// is read without a copy.
std::size_t BodyOctets(const IMessagePtr& Message) {
  if (const auto* message = dynamic_cast<const TZQMessage*>(Message.get()))
    return message->GetBodyRef().size();
  return 0;
}

}  // namespace

void TZQMessageStore::Open(const std::string& ID) {
  if (IsOpen(ID)) {
    throw EDuplicateConsumerIDException(Format("Duplicate Consumer ID \"%s\"", {ID}));
  }
  FOpen.emplace(ID, std::deque<TKept>{});
  if (FClosed.erase(ID) > 0) {
    std::erase(FClosedOrder, ID);
  }
}

void TZQMessageStore::Close(const std::string& ID) {
  const auto found = FOpen.find(ID);
  if (found == FOpen.end())
    return;
  for (const TKept& kept : found->second) {
    FOctets -= kept.Octets;
  }
  FCount -= found->second.size();
  FOpen.erase(found);
  if (FClosed.insert(ID).second) {
    FClosedOrder.push_back(ID);
    if (FClosedOrder.size() > ClosedIDMemory) {
      FClosed.erase(FClosedOrder.front());
      FClosedOrder.pop_front();
    }
  }
}

IMessagePtr TZQMessageStore::Take(const std::string& ID) {
  if (FCount == 0)
    return nullptr;
  const auto found = FOpen.find(ID);
  if (found == FOpen.end() || found->second.empty())
    return nullptr;
  TKept kept = std::move(found->second.front());
  found->second.pop_front();
  --FCount;
  FOctets -= kept.Octets;
  return std::move(kept.Message);
}

bool TZQMessageStore::Keep(const std::string& ID, const IMessagePtr& Message) {
  const auto found = FOpen.find(ID);
  if (found == FOpen.end()) {
    return FClosed.find(ID) != FClosed.end();
  }
  const std::size_t octets = BodyOctets(Message);
  found->second.push_back({Message, octets});
  ++FCount;
  FOctets += octets;
  return true;
}

void TZQMessageStore::CheckRoom() const {
  if (FCount >= FMaxMessages || FOctets >= FMaxOctets) {
    throw EIllegalStateException(
        Format("%d messages (%d octets) wait for other consumers of this connection; receive them "
               "before reading more",
               {static_cast<int64_t>(FCount), static_cast<int64_t>(FOctets)}));
  }
}

void TZQMessageStore::Clear() {
  FOpen.clear();
  FClosed.clear();
  FClosedOrder.clear();
  FCount = 0;
  FOctets = 0;
}

void TZQMessageStore::SetLimits(std::size_t MaxMessages, std::size_t MaxOctets) {
  FMaxMessages = MaxMessages;
  FMaxOctets = MaxOctets;
}

}  // namespace velmor
