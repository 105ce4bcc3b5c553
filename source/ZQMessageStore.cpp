#include "ZQMessageStore.h"

#include <cstdint>

#include "ZQExceptions.h"
#include "ZQMessage.h"
#include "ZQText.h"

namespace velmor {

namespace {

// What a message counts for the octet bound: its frame's size as received; the body alone for a
// library message that was not received (none other is ever kept).
std::size_t KeptOctets(const IMessagePtr& Message) {
  if (const TZQMessage* message = AsLibraryMessage(*Message)) {
    const std::size_t received = message->GetReceivedOctets();
    return received != 0 ? received : message->GetBodyRef().size();
  }
  return 0;
}

}  // namespace

bool TZQMessageStore::IsOpen(const std::string& ID) const {
  const auto found = FSubscriptions.find(ID);
  return found != FSubscriptions.end() && found->second.Open;
}

void TZQMessageStore::Open(const std::string& ID) {
  TSubscription& subscription = FSubscriptions[ID];
  if (subscription.Open) {
    throw EDuplicateConsumerIDException(Format("Duplicate Consumer ID \"%s\"", {ID}));
  }
  subscription.Open = true;
  if (FClosed.erase(ID) > 0) {
    std::erase(FClosedOrder, ID);
  }
}

void TZQMessageStore::Await(const std::string& ID) {
  FSubscriptions.try_emplace(ID);
}

void TZQMessageStore::DropKept(TSubscription& Subscription) {
  for (const TKept& kept : Subscription.Kept) {
    FOctets -= kept.Octets;
  }
  FCount -= Subscription.Kept.size();
  Subscription.Kept.clear();
}

void TZQMessageStore::DropKept(const std::string& ID) {
  if (const auto found = FSubscriptions.find(ID); found != FSubscriptions.end()) {
    DropKept(found->second);
  }
}

void TZQMessageStore::Close(const std::string& ID) {
  const auto found = FSubscriptions.find(ID);
  if (found == FSubscriptions.end())
    return;
  DropKept(found->second);
  FSubscriptions.erase(found);
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
  const auto found = FSubscriptions.find(ID);
  if (found == FSubscriptions.end() || !found->second.Open || found->second.Kept.empty())
    return nullptr;
  TKept kept = std::move(found->second.Kept.front());
  found->second.Kept.pop_front();
  --FCount;
  FOctets -= kept.Octets;
  return std::move(kept.Message);
}

bool TZQMessageStore::Keep(const std::string& ID, const IMessagePtr& Message) {
  const auto found = FSubscriptions.find(ID);
  if (found == FSubscriptions.end()) {
    return FClosed.find(ID) != FClosed.end();
  }
  if (!found->second.Open && found->second.Kept.size() >= MaxAwaitedMessages) {
    return false;
  }
  const std::size_t octets = KeptOctets(Message);
  found->second.Kept.push_back({Message, octets});
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
  FSubscriptions.clear();
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
