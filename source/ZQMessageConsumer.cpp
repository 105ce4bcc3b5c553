#include "ZQMessageConsumer.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "ZQConnection.h"
#include "ZQExceptions.h"
#include "ZQMessage.h"
#include "ZQMessageStore.h"
#include "ZQText.h"

namespace velmor {

TZQMessageConsumer::TZQMessageConsumer(TCreateKey /*Key*/, const std::shared_ptr<TZQSession>& Session,
                                       const std::string& ConsumerID, const IDestinationPtr& Destination,
                                       const std::string& SubscriptionName,
                                       const std::string& MessageSelector, bool NoLocal)
    : FNoLocal(NoLocal),
      FDestination(Destination),
      FConsumerID(ConsumerID),
      FSession(Session),
      FMessageSelector(MessageSelector),
      FMessageTransformer(Session->GetMessageTransformer()),
      FSubscriptionName(SubscriptionName) {
  // Only the exact word turns the check off.
  FSkipSubscriptionCheck = Session->GetTransport()->GetParam("message.subscription_check") == "false";
}

template <class TConsumer>
std::shared_ptr<TConsumer> TZQMessageConsumer::Register(std::shared_ptr<TConsumer> Consumer,
                                                        const std::shared_ptr<TZQSession>& Session) {
  Session->AddConsumer(Consumer);
  return Consumer;
}

std::shared_ptr<TZQMessageConsumer> TZQMessageConsumer::Create(const std::shared_ptr<TZQSession>& Session,
                                                               const std::string& ConsumerID,
                                                               const IDestinationPtr& Destination,
                                                               const std::string& SubscriptionName,
                                                               const std::string& MessageSelector,
                                                               bool NoLocal) {
  return Register(std::make_shared<TZQMessageConsumer>(TCreateKey{}, Session, ConsumerID, Destination,
                                                       SubscriptionName, MessageSelector, NoLocal),
                  Session);
}

std::shared_ptr<TZQTopicSubscriber> TZQTopicSubscriber::Create(
    const std::shared_ptr<TZQSession>& Session, const std::string& ConsumerID, const ITopicPtr& Topic,
    const std::string& SubscriptionName, const std::string& MessageSelector, bool NoLocal) {
  return Register(std::make_shared<TZQTopicSubscriber>(TCreateKey{}, Session, ConsumerID, Topic,
                                                       SubscriptionName, MessageSelector, NoLocal),
                  Session);
}

ITopicPtr TZQTopicSubscriber::GetTopic() const {
  return std::dynamic_pointer_cast<ITopic>(GetDestination());
}

void TZQMessageConsumer::CheckClosed() const {
  if (FRefusal) {
    throw EZQStompServerErrorMessage(*FRefusal);
  }
  if (FClosed) {
    throw EIllegalStateException("The consumer is closed");
  }
}

std::shared_ptr<TZQSession> TZQMessageConsumer::RequireSession() const {
  std::shared_ptr<TZQSession> session = FSession.lock();
  if (!session) {
    throw EIllegalStateException("The consumer's session no longer exists");
  }
  return session;
}

IMessagePtr TZQMessageConsumer::Receive() {
  return DoReceive(TReceiveMode::Blocking, 0);
}

IMessagePtr TZQMessageConsumer::Receive(int32_t Timeout) {
  return DoReceive(TReceiveMode::Timed, Timeout);
}

IMessagePtr TZQMessageConsumer::ReceiveNoWait() {
  return DoReceive(TReceiveMode::NoWait, 1);
}

IMessagePtr TZQMessageConsumer::DoReceive(TReceiveMode Mode, int32_t Timeout) {
  if (!FKeptAtRefusal.empty()) {
    const std::shared_ptr<TZQSession> session = RequireSession();
    const IMessagePtr message = std::move(FKeptAtRefusal.front());
    FKeptAtRefusal.pop_front();
    HandOut(*session, *session->GetTransport(), message);
    return TransformMessage(session, message);
  }
  CheckClosed();
  const std::shared_ptr<TZQSession> session = RequireSession();
  const std::shared_ptr<TZQConnection> connection = session->GetConnection();
  const std::shared_ptr<TZQAbstractTransport> transport = session->GetTransport();
  TZQMessageStore& store = connection->GetMessageStore();
  IMessagePtr message = store.Take(GetID());
  if (!message) {
    message = ReadOwn(store, *transport, Mode, Timeout);
  }
  if (message)
    HandOut(*session, *transport, message);
  return TransformMessage(session, message);
}

void TZQMessageConsumer::HandOut(TZQSession& Session, const TZQAbstractTransport& Transport,
                                 const IMessagePtr& Message) {
  TZQMessage* message = AsLibraryMessage(*Message);
  if (message == nullptr)
    return;
  const uint64_t number = ++FDeliveries;
  message->SetAcknowledger(shared_from_this(), number);
  // A message kept from a lost connection cannot be settled any more.
  if (SettledOnDelivery(Session) || message->GetConnectionNumber() != Transport.GetConnectionNumber())
    return;
  TDelivery delivery{number, message->GetConnectionNumber(), message->GetAckID(), message->GetSubscription(),
                     false, {}};
  if (Session.GetTransacted()) {
    message->SetTransactionID(Session.AcknowledgeTransaction());
    FInTransaction.push_back(std::move(delivery));
  } else {
    FUnacknowledged.push_back(std::move(delivery));
  }
}

bool TZQMessageConsumer::SettledOnDelivery(const TZQSession& Session) const {
  return FSubscribedAs.empty() || Session.SettlesOnDelivery();
}

template <class TDeliveries>
auto TZQMessageConsumer::FindDelivery(TDeliveries& Deliveries, uint64_t Number) {
  const auto found =
      std::lower_bound(Deliveries.begin(), Deliveries.end(), Number,
                       [](const TDelivery& Delivery, uint64_t Value) { return Delivery.Number < Value; });
  return found != Deliveries.end() && found->Number == Number ? found : Deliveries.end();
}

void TZQMessageConsumer::CheckCanSettle(const TZQAbstractTransport& Transport, const char* Operation) const {
  // Once unsubscribed, the broker refuses an ACK or NACK of the subscription's messages and closes the
  // connection; it keeps them unacknowledged until the connection ends.
  if (FClosed) {
    throw EIllegalStateException(Format(
        "Cannot %s the message: its consumer is closed, and the broker hands the message out again once "
        "the connection ends",
        {Operation}));
  }
  if (!Transport.IsConnected()) {
    throw EIllegalStateException(Format(
        "Cannot %s the message: the broker closed the connection it came on, and hands the message out "
        "again",
        {Operation}));
  }
}

void TZQMessageConsumer::Acknowledge(const TZQMessage& Message) {
  const std::shared_ptr<TZQSession> session = RequireSession();
  // Settled already: by the broker on delivery (also a message kept from a lost connection), or by the
  // session's transaction.
  if (SettledOnDelivery(*session))
    return;
  Message.RequireTransport("acknowledge");
  if (session->GetTransacted())
    return;
  // Under client acknowledgement every earlier delivery goes with it; a message settled already has
  // nothing left to acknowledge.
  const bool cumulative = session->GetAcknowledgeMode() == AcknowledgeModeClient;
  const auto delivery =
      cumulative ? FUnacknowledged.begin() : FindDelivery(FUnacknowledged, Message.GetDelivery());
  if (delivery == FUnacknowledged.end() || delivery->Number > Message.GetDelivery())
    return;
  const std::shared_ptr<TZQAbstractTransport> transport = session->GetTransport();
  CheckCanSettle(*transport, "acknowledge");
  if (!cumulative) {
    transport->Ack(delivery->AckID, delivery->Subscription, "");
    FUnacknowledged.erase(delivery);
    return;
  }
  while (!FUnacknowledged.empty() && FUnacknowledged.front().Number <= Message.GetDelivery()) {
    const TDelivery& earlier = FUnacknowledged.front();
    if (earlier.Connection == transport->GetConnectionNumber())
      transport->Ack(earlier.AckID, earlier.Subscription, "");
    FUnacknowledged.pop_front();
  }
}

void TZQMessageConsumer::Nack(const TZQMessage& Message) {
  const std::shared_ptr<TZQSession> session = RequireSession();
  if (SettledOnDelivery(*session)) {
    throw EIllegalStateException(
        "Cannot reject the message: it was acknowledged automatically when the broker delivered it");
  }
  Message.RequireTransport("reject");
  const std::shared_ptr<TZQAbstractTransport> transport = session->GetTransport();
  if (session->GetTransacted()) {
    // The NACK goes into the transaction with its COMMIT; a consumer that closed put its messages into
    // the transaction already.
    if (FClosed)
      throw EIllegalStateException("Cannot reject the message: its consumer is closed");
    const auto delivery = FindDelivery(FInTransaction, Message.GetDelivery());
    if (delivery == FInTransaction.end() || delivery->Rejected) {
      throw EIllegalStateException("Cannot reject the message: it has been acknowledged or rejected already");
    }
    transport->GetCommAdapter()->RequireVersion(2);
    delivery->Rejected = true;
    delivery->Headers = Message.GetExtraHeaders();
    return;
  }
  const auto delivery = FindDelivery(FUnacknowledged, Message.GetDelivery());
  if (delivery == FUnacknowledged.end()) {
    throw EIllegalStateException("Cannot reject the message: it has been acknowledged or rejected already");
  }
  CheckCanSettle(*transport, "reject");
  Message.SendNack("");
  FUnacknowledged.erase(delivery);
}

void TZQMessageConsumer::SettleInTransaction(TZQAbstractTransport& Transport,
                                             const std::string& TransactionID) const {
  for (const TDelivery& delivery : FInTransaction) {
    if (delivery.Connection != Transport.GetConnectionNumber())
      continue;
    if (delivery.Rejected) {
      Transport.Nack(delivery.AckID, delivery.Subscription, TransactionID, delivery.Headers);
    } else {
      Transport.Ack(delivery.AckID, delivery.Subscription, TransactionID);
    }
  }
}

void TZQMessageConsumer::ReturnTransaction(TZQAbstractTransport& Transport) const {
  if (Transport.GetVersion() < 2)
    return;
  for (const TDelivery& delivery : FInTransaction) {
    if (delivery.Connection == Transport.GetConnectionNumber())
      Transport.Nack(delivery.AckID, delivery.Subscription, "");
  }
}

void TZQMessageConsumer::ForgetDeliveries() {
  FUnacknowledged.clear();
  FInTransaction.clear();
}

IMessagePtr TZQMessageConsumer::ReadOwn(TZQMessageStore& Store, TZQAbstractTransport& Transport,
                                        TReceiveMode Mode, int32_t Timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(Timeout, 1));
  for (;;) {
    // A read may bring a message for another consumer, which must then be kept: refuse before reading
    // when there is no room, so nothing is lost.
    Store.CheckRoom();
    IMessagePtr message;
    switch (Mode) {
      case TReceiveMode::Blocking:
        message = Transport.Receive();
        break;
      case TReceiveMode::Timed: {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        message = Transport.Receive(static_cast<int32_t>(std::max<int64_t>(left, 1)));
        break;
      }
      case TReceiveMode::NoWait:
        message = Transport.ReceiveNoWait();
        break;
    }
    if (message) {
      if (FSkipSubscriptionCheck)
        return message;
      // The transport builds library messages, which know their subscription.
      const TZQMessage* own = AsLibraryMessage(*message);
      const std::string other = own != nullptr ? std::string() : message->GetStringProperty("subscription");
      const std::string& subscription = own != nullptr ? own->GetSubscription() : other;
      if (subscription == GetID())
        return message;
      if (!Store.Keep(subscription, message)) {
        throw EIllegalStateException(Format(
            "Received a MESSAGE frame with unexpected subscription id. Received \"%s\" but expected \"%s\".",
            {subscription, GetID()}));
      }
    } else if (Mode == TReceiveMode::NoWait) {
      return nullptr;
    }
    if (Mode == TReceiveMode::Timed && Clock::now() >= deadline)
      return nullptr;
  }
}

IMessagePtr TZQMessageConsumer::TransformMessage(const std::shared_ptr<TZQSession>& Session,
                                                 const IMessagePtr& Message) {
  if (!FMessageTransformer)
    return Message;
  IMessagePtr replacement;
  FMessageTransformer->TransformIncoming(Session, shared_from_this(), Message, replacement);
  return replacement ? replacement : Message;
}

void TZQMessageConsumer::Close() {
  FKeptAtRefusal.clear();
  if (FClosed)
    return;
  // Closed first: whatever the UNSUBSCRIBE meets, a second Close must not send it again.
  FClosed = true;
  const std::shared_ptr<TZQSession> session = FSession.lock();
  if (!session)
    return;
  session->RemoveConsumer(shared_from_this());
  const std::shared_ptr<TZQAbstractTransport> transport = session->GetTransport();
  // A consumer of a temporary queue never subscribed; any other unsubscribes only on the connection it
  // subscribed on, while that stands.
  const bool subscribed =
      !FSubscribedAs.empty() && FSubscribedOn == transport->GetConnectionNumber() && transport->IsConnected();
  // Once unsubscribed, the broker takes no ACK for the messages handed out: those of the open
  // transaction are acknowledged in it now, and its Commit consumes them.
  const std::string transaction = session->OpenTransactionID();
  if (subscribed && !transaction.empty())
    SettleInTransaction(*transport, transaction);
  FInTransaction.clear();
  if (subscribed)
    transport->Unsubscribe(GetID());
}

void TZQMessageConsumer::Refuse(const std::string& Text) {
  if (FClosed)
    return;
  FRefusal = Text;
  // Closing the subscription drops what the connection kept for it, which the broker counted as
  // consumed when it delivered it: the consumer takes it over.
  if (const std::shared_ptr<TZQSession> session = FSession.lock()) {
    TZQMessageStore& store = session->GetConnection()->GetMessageStore();
    while (IMessagePtr message = store.Take(GetID()))
      FKeptAtRefusal.push_back(std::move(message));
  }
  MarkUnsubscribed();
}

void TZQMessageConsumer::MarkUnsubscribed() {
  if (FClosed)
    return;
  FClosed = true;
  if (const std::shared_ptr<TZQSession> session = FSession.lock()) {
    session->RemoveConsumer(shared_from_this());
  }
}

}  // namespace velmor
