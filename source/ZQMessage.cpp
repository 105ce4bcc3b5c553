#include "ZQMessage.h"

#include <typeinfo>
#include <utility>

#include "ZQBytesMessage.h"
#include "ZQExceptions.h"
#include "ZQMapMessage.h"
#include "ZQObjectMessage.h"
#include "ZQPrimitiveMap.h"
#include "ZQStompClient.h"
#include "ZQText.h"
#include "ZQTextMessage.h"

namespace velmor {

namespace {

inline constexpr int32_t MinPriority = 0;
inline constexpr int32_t MaxPriority = 255;

}  // namespace

TSubscriptionText::TSubscriptionText(std::string Text)
    : FText(Text.empty() ? nullptr : std::make_shared<const std::string>(std::move(Text))) {}

const std::string& TSubscriptionText::Get() const {
  static const std::string none;
  return FText ? *FText : none;
}

TZQMessage::TZQMessage(std::weak_ptr<TZQStompClient> Transport) : FTransport(std::move(Transport)) {}

TZQMessage::TZQMessage(std::weak_ptr<TZQStompClient> Transport, TSubscriptionText Subscription)
    : TZQMessage(std::move(Transport)) {
  FSubscription = std::move(Subscription);
}

TZQMessage::TZQMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content,
                       TSubscriptionText Subscription)
    : TZQMessage(std::move(Transport)) {
  FContent = std::move(Content);
  FSubscription = std::move(Subscription);
}

void TZQMessage::SetPriority(int32_t Priority) {
  if (Priority < MinPriority || Priority > MaxPriority) {
    throw EIllegalArgumentException(
        Format("Priority must be a value between %d and %d", {int64_t{MinPriority}, int64_t{MaxPriority}}));
  }
  FPriority = Priority;
}

std::shared_ptr<TZQStompClient> TZQMessage::LockTransport(const char* Operation) const {
  std::shared_ptr<TZQStompClient> transport = FTransport.lock();
  if (!transport) {
    throw EIllegalStateException(
        Format("Cannot %s the message: the connection it belongs to no longer exists", {Operation}));
  }
  return transport;
}

std::shared_ptr<TZQStompClient> TZQMessage::RequireTransport(const char* Operation) const {
  std::shared_ptr<TZQStompClient> transport = LockTransport(Operation);
  // The broker knows a delivery only on the connection it made it on; there the same id may name
  // another message now.
  if (FConnectionNumber != 0 && transport->GetConnectionNumber() != FConnectionNumber) {
    throw EIllegalStateException(Format(
        "Cannot %s the message: it was received on an earlier connection to the broker, which hands it "
        "out again",
        {Operation}));
  }
  return transport;
}

// STOMP 1.0 and 1.1 name the message id; 1.2 names the MESSAGE frame's "ack" header, kept as a property.
std::string TZQMessage::AckIDFor(const TZQStompClient& Transport) const {
  return Transport.GetVersion() <= 2 ? FMessageID : GetStringProperty("ack");
}

std::string TZQMessage::GetAckID() const {
  return AckIDFor(*RequireTransport("acknowledge"));
}

void TZQMessage::SendAck(const std::string& Transaction) const {
  const std::shared_ptr<TZQStompClient> transport = RequireTransport("acknowledge");
  transport->Ack(AckIDFor(*transport), FSubscription.Get(), Transaction);
}

void TZQMessage::SendNack(const std::string& Transaction) const {
  const std::shared_ptr<TZQStompClient> transport = RequireTransport("reject");
  transport->Nack(AckIDFor(*transport), FSubscription.Get(), Transaction, FExtraHeaders);
}

void TZQMessage::RequireOpenConnection(const char* Operation) const {
  if (!LockTransport(Operation)->GetConnected()) {
    throw EIllegalStateException(
        Format("Cannot %s the message: the connection it belongs to is closed", {Operation}));
  }
}

void TZQMessage::Acknowledge() {
  RequireOpenConnection("acknowledge");
  if (FAcknowledger) {
    FAcknowledger->Acknowledge(*this);
  } else {
    SendAck(FTransactionID);
  }
}

void TZQMessage::Nack() {
  RequireOpenConnection("reject");
  if (FAcknowledger) {
    FAcknowledger->Nack(*this);
  } else {
    SendNack(FTransactionID);
  }
}

const TZQMessage* AsLibraryMessage(const IMessage& Message) {
  // The kinds are final, so the class of the whole object tells the kind, and the whole object's
  // address is that of the kind's object.
  const std::type_info& type = typeid(Message);
  const void* object = dynamic_cast<const void*>(&Message);
  if (type == typeid(TZQTextMessage))
    return static_cast<const TZQTextMessage*>(object);
  if (type == typeid(TZQBytesMessage))
    return static_cast<const TZQBytesMessage*>(object);
  if (type == typeid(TZQMapMessage))
    return static_cast<const TZQMapMessage*>(object);
  if (type == typeid(TZQObjectMessage))
    return static_cast<const TZQObjectMessage*>(object);
  return nullptr;
}

}  // namespace velmor
