#include "ZQMessageProducer.h"

#include "ZQConnection.h"
#include "ZQDestination.h"
#include "ZQExceptions.h"
#include "ZQMapMessage.h"
#include "ZQObjectMessage.h"

namespace velmor {

namespace {

// Only a message transformer writes a library map message's entries or an object message's object into
// its body. A producer made before the connection's transformer was installed has none: such a message
// would go out empty and the send return normally, so it is refused.
void RefuseUnwrittenBody(const IMessage& Message) {
  const TZQMessage* library = AsLibraryMessage(Message);
  if (library == nullptr || !library->GetBodyRef().empty())
    return;
  if (library->GetKind() == TZQMessageKind::Map &&
      !static_cast<const TZQMapMessage*>(library)->GetMapNames().empty()) {
    throw ENoMessageTransformer(
        "The producer has no message transformer to write the map message's entries: create it after the "
        "connection's message transformer is installed");
  }
  if (library->GetKind() == TZQMessageKind::Object &&
      static_cast<const TZQObjectMessage*>(library)->GetObject()) {
    throw ENoMessageTransformer(
        "The producer has no message transformer to write the object message's object: create it after "
        "the connection's message transformer is installed");
  }
}

}  // namespace

TZQMessageProducer::TZQMessageProducer(TCreateKey /*Key*/, const std::shared_ptr<TZQSession>& Session,
                                       const IDestinationPtr& Destination, int32_t SendTimeout)
    : TZQMessageProducerSupport(Session),
      FDestination(Destination),
      FMessageTransformer(Session->GetMessageTransformer()),
      FSendTimeout(SendTimeout) {}

std::shared_ptr<TZQMessageProducer> TZQMessageProducer::Create(const std::shared_ptr<TZQSession>& Session,
                                                               const IDestinationPtr& Destination,
                                                               int32_t SendTimeout) {
  if (std::dynamic_pointer_cast<ITemporaryQueue>(Destination)) {
    Session->CheckSendDestination(Destination);
  }
  auto producer = std::make_shared<TZQMessageProducer>(TCreateKey{}, Session, Destination, SendTimeout);
  Session->AddProducer(producer);
  return producer;
}

void TZQMessageProducer::CheckClosed() const {
  if (FClosed) {
    throw EIllegalStateException("The producer is closed");
  }
}

IDestinationPtr TZQMessageProducer::GetDestination() const {
  CheckClosed();
  return FDestination;
}

void TZQMessageProducer::Close() {
  if (FClosed)
    return;
  FClosed = true;
  if (const std::shared_ptr<TZQSession> session = FSession.lock()) {
    session->RemoveProducer(shared_from_this());
  }
}

int32_t TZQMessageProducer::StoredTimeToLive() const {
  // SetTimeToLive keeps the value within the signed range.
  return static_cast<int32_t>(GetTimeToLive());
}

void TZQMessageProducer::Send(const IMessagePtr& Message) {
  const uint8_t deliveryMode = GetDeliveryMode();
  const int32_t priority = GetPriority();
  const int32_t timeToLive = StoredTimeToLive();
  Send(GetDestination(), Message, deliveryMode, priority, timeToLive);
}

void TZQMessageProducer::Send(const IDestinationPtr& Destination, const IMessagePtr& Message) {
  const uint8_t deliveryMode = GetDeliveryMode();
  const int32_t priority = GetPriority();
  Send(Destination, Message, deliveryMode, priority, StoredTimeToLive());
}

void TZQMessageProducer::Send(const IMessagePtr& Message, uint8_t DeliveryMode, int32_t Priority,
                              int32_t TimeToLive) {
  Send(GetDestination(), Message, DeliveryMode, Priority, TimeToLive);
}

void TZQMessageProducer::Send(const IDestinationPtr& Destination, const IMessagePtr& Message,
                              uint8_t DeliveryMode, int32_t Priority, int32_t TimeToLive) {
  CheckClosed();
  const std::shared_ptr<TZQSession> session = RequireSession();
  IMessagePtr message = Message;
  if (FMessageTransformer) {
    IMessagePtr replacement;
    FMessageTransformer->TransformOutgoing(session, shared_from_this(), Message, replacement);
    if (replacement)
      message = replacement;
  } else if (message) {
    RefuseUnwrittenBody(*message);
  }
  if (!Destination) {
    throw EUnsupportedOperationException(FDestination ? "Don't understand null destinations."
                                                      : "A destination must be specified.");
  }
  if (Priority < 0 || Priority > 255 || TimeToLive < 0) {
    throw ERangeError("Range check error");
  }
  if (!message) {
    throw EIllegalArgumentException("Message must not be nil");
  }
  session->Send(DestinationNameFor(*session, Destination), message, DeliveryMode,
                static_cast<uint8_t>(Priority), static_cast<uint32_t>(TimeToLive), FSendTimeout);
}

const std::string& TZQMessageProducer::DestinationNameFor(const TZQSession& Session,
                                                          const IDestinationPtr& Destination) {
  if (FNamedDestination && Destination == FNamedDestination &&
      Destination->GetDestinationKind() == FNamedKind) {
    return FDestinationName;
  }
  FNamedDestination.reset();
  FDestinationName = Session.SendDestinationName(Destination);
  // The library's destinations never change their names, so the name serves the next send too; another
  // implementation's name might change.
  if (dynamic_cast<const TZQDestination*>(Destination.get()) != nullptr) {
    FNamedDestination = Destination;
    FNamedKind = Destination->GetDestinationKind();
  }
  return FDestinationName;
}

}  // namespace velmor
