#include "ZQConnection.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ZQBytesMessage.h"
#include "ZQDateTime.h"
#include "ZQExceptions.h"
#include "ZQMapMessage.h"
#include "ZQMessageConsumer.h"
#include "ZQMessageProducer.h"
#include "ZQObjectMessage.h"
#include "ZQQueue.h"
#include "ZQStompClient.h"
#include "ZQStompTypes.h"
#include "ZQText.h"
#include "ZQTextMessage.h"
#include "ZQTopic.h"

namespace velmor {

namespace {

constexpr double MillisPerDay = 86400000.0;

// The longest durable subscription name whose deliveries can be read back: the broker's "message-id"
// and "ack" lines add some 70 octets to it.
constexpr std::size_t MaxDurableNameLength = MaxHeaderLineLength - 128;

// The transaction id of a send outside a transaction.
const std::string NoTransaction;

// Refuses a durable subscription name that the broker would write unescaped into the "message-id" and
// "ack" headers of its deliveries in a form that cannot be read back: with a colon, a backslash or a line
// break.
void CheckDurableNameReadable(const std::string& Name) {
  const auto found = Name.find_first_of(":\\\n");
  if (found == std::string::npos)
    return;
  std::string_view held = "a line break";
  if (Name[found] == ':') {
    held = "\":\"";
  } else if (Name[found] == '\\') {
    held = "\"\\\"";
  }
  throw EIllegalArgumentException(
      Format("A durable subscription name must not hold %s: the broker writes the name unescaped into the "
             "ids of its deliveries, which could not be read",
             {held}));
}

constexpr const char* MapWithoutContent =
    "Cannot send a map message that has no raw content: it must implement IMessageContent, which the "
    "message transformer fills from its entries";
constexpr const char* ObjectWithoutContent =
    "Cannot send an object message that has no raw content: it must implement IMessageContent, which "
    "the message transformer fills from its object";

// The raw body of a map or object message, which is all that is sent of it. A message of the
// application's own class that has none would go out empty: Refusal is raised instead.
std::string RawContent(const IMessage& Message, const char* Refusal) {
  const auto* content = dynamic_cast<const IMessageContent*>(&Message);
  if (content == nullptr) {
    throw EMQException(Refusal);
  }
  return content->GetContent();
}

}  // namespace

// ===================================================================================================
// Connection
// ===================================================================================================

TZQConnection::TZQConnection(TCreateKey /*Key*/, std::shared_ptr<TZQAbstractTransport> Transport)
    : TZQAbstractConnection(std::move(Transport)) {
  FSendTimeout = -1;
}

std::shared_ptr<TZQConnection> TZQConnection::Create(std::shared_ptr<TZQAbstractTransport> Transport) {
  auto connection = std::make_shared<TZQConnection>(TCreateKey{}, std::move(Transport));
  // The transport is owned by the connection: its callback holds the connection weakly.
  std::weak_ptr<TZQConnection> owner = connection;
  connection->FTransport->SetOnMessage([owner](const IMessagePtr& Message) {
    if (const std::shared_ptr<TZQConnection> self = owner.lock()) {
      self->OnMessage(Message);
    }
  });
  return connection;
}

TZQConnection::~TZQConnection() {
  try {
    Close();
  } catch (...) {
  }
  FTransport->SetOnMessage(nullptr);
  FSessions.clear();
}

void TZQConnection::SetClientID(const std::string& ClientID) {
  CheckState();
  if (FClientIDSet) {
    throw EIllegalStateException("The ClientID has already been set");
  }
  if (FUsed) {
    throw EIllegalStateException("Setting ClientID on a used Connection is not allowed");
  }
  FTransport->SetClientID(ClientID);
  FClientID = ClientID;
  FClientIDSet = true;
}

void TZQConnection::StartSessions() {
  for (const std::shared_ptr<TZQSession>& session : std::vector(FSessions)) {
    session->Start();
  }
}

bool TZQConnection::ResumeSessions() {
  // Every session resumes; the first failure is raised afterwards. A refused subscription ends the
  // connection, and with it this round.
  std::exception_ptr failure;
  for (const std::shared_ptr<TZQSession>& session : std::vector(FSessions)) {
    try {
      if (!session->Resume())
        return false;
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }
  if (failure)
    std::rethrow_exception(failure);
  return true;
}

void TZQConnection::KeepUnreadMessages() {
  for (const IStompFramePtr& frame : FTransport->TakeUnreadMessageFrames()) {
    // A frame that makes no message is dropped; a message whose arrival hook fails (it may write to
    // the lost connection) is kept all the same.
    try {
      FTransport->OnMessageFrame(frame);
    } catch (...) {
    }
    const IMessagePtr message = FTransport->GetLastMessage();
    if (const TZQMessage* own = message ? AsLibraryMessage(*message) : nullptr)
      FMessageStore.Keep(own->GetSubscription(), message);
  }
}

void TZQConnection::Stop() {
  if (!FStarted)
    return;
  for (const std::shared_ptr<TZQSession>& session : std::vector(FSessions)) {
    session->Stop();
  }
  FStarted = false;
}

void TZQConnection::CloseSessions() {
  // Newest first; a failed close does not keep the older sessions open.
  const std::vector<std::shared_ptr<TZQSession>> sessions = FSessions;
  for (auto session = sessions.rbegin(); session != sessions.rend(); ++session) {
    try {
      (*session)->Close();
    } catch (...) {
    }
  }
}

void TZQConnection::Close() {
  if (FClosed)
    return;
  FClosed = true;
  CloseSessions();
  FSessions.clear();
  try {
    FTransport->Disconnect();
  } catch (...) {
  }
  FMessageStore.Clear();
}

ISessionPtr TZQConnection::CreateSession(bool Transacted, uint8_t AcknowledgeMode) {
  if (FClosed) {
    throw EIllegalStateException("Connection is closed.");
  }
  if (AcknowledgeMode > AcknowledgeModeClientIndividual) {
    throw EIllegalArgumentException("Acknowledge mode must be a value between 0 and 3");
  }
  // A session in the transacted mode that is not transacted would send at once what the application
  // means to commit: refused rather than guessed.
  if (AcknowledgeMode == AcknowledgeModeTransacted && !Transacted) {
    throw EIllegalArgumentException("Acknowledge mode 1 (transacted) needs a transacted session");
  }
  return TZQSession::Create(shared_from_this(), Transacted, AcknowledgeMode);
}

ISessionPtr TZQConnection::CreateSession(uint8_t AcknowledgeMode) {
  return CreateSession(AcknowledgeMode == AcknowledgeModeTransacted, AcknowledgeMode);
}

void TZQConnection::SetMessageTransformer(const IMessageTransformerPtr& Transformer) {
  if (FStarted) {
    throw EMQException("Connection started already!");
  }
  FMessageTransformer = Transformer;
}

void TZQConnection::SetMapTransformationID(const std::string& ID) {
  if (ID == FTransport->GetMapTransformationID())
    return;
  if (ID == FTransport->GetObjectTransformationID()) {
    throw EIllegalArgumentException("The transformation IDs for map and object messages must be different");
  }
  FTransport->SetMapTransformationID(ID);
}

void TZQConnection::SetObjectTransformationID(const std::string& ID) {
  if (ID == FTransport->GetObjectTransformationID())
    return;
  if (ID == FTransport->GetMapTransformationID()) {
    throw EIllegalArgumentException("The transformation IDs for map and object messages must be different");
  }
  FTransport->SetObjectTransformationID(ID);
}

bool TZQConnection::IsConnected() const {
  return FTransport->GetConnected() && FTransport->IsConnected();
}

std::string TZQConnection::GetSessionID() const {
  CheckNotClosed();
  return FTransport->GetSessionID();
}

std::string TZQConnection::GetServer() const {
  CheckNotClosed();
  return FTransport->GetServer();
}

uint8_t TZQConnection::GetProtocolVersion() const {
  CheckNotClosed();
  return static_cast<uint8_t>(FTransport->GetVersion());
}

void TZQConnection::AddSession(const std::shared_ptr<TZQSession>& Session) {
  FSessions.push_back(Session);
}

void TZQConnection::RemoveSession(const TZQSession* Session) {
  std::erase_if(FSessions,
                [Session](const std::shared_ptr<TZQSession>& Item) { return Item.get() == Session; });
}

void TZQConnection::UnsubscribeDurable(const std::string& DestinationName,
                                       const std::string& SubscriptionName) {
  CheckState();
  // Subscription ids are the connection's, so an open subscriber of that name is the durable one.
  if (FMessageStore.IsOpen(SubscriptionName)) {
    FTransport->UnsubscribeDurable(DestinationName, SubscriptionName);
  } else {
    FTransport->RemoveDurableSubscription(DestinationName, SubscriptionName);
  }
}

void TZQConnection::MarkDurableUnsubscribed(const std::string& TopicName,
                                            const std::string& SubscriptionName) {
  for (const std::shared_ptr<TZQSession>& session : std::vector(FSessions)) {
    if (session->MarkUnsubscribed(TopicName, SubscriptionName))
      return;
  }
}

void TZQConnection::OnMessage(const IMessagePtr& Message) {
  for (std::size_t i = 0; i < FSessions.size(); ++i) {
    const std::shared_ptr<TZQSession> session = FSessions[i];
    session->MessageArrived(Message);
  }
}

std::string TZQConnection::NextTemporaryName() {
  return "tmp-" + std::to_string(FTemporaryNameSequence.Next());
}

void TZQConnection::SetMessageStoreLimits(std::size_t MaxMessages, std::size_t MaxOctets) {
  FMessageStore.SetLimits(MaxMessages, MaxOctets);
}

// ===================================================================================================
// Session
// ===================================================================================================

TZQSession::TZQSession(TCreateKey /*Key*/, const std::shared_ptr<TZQConnection>& Connection, bool Transacted,
                       uint8_t AcknowledgeMode)
    : TZQAbstractSession(Connection->GetTransport(), Transacted, AcknowledgeMode),
      FConsumers(std::make_shared<TZQMessageConsumerList>()),
      FConnection(Connection) {}

std::shared_ptr<TZQSession> TZQSession::Create(const std::shared_ptr<TZQConnection>& Connection,
                                               bool Transacted, uint8_t AcknowledgeMode) {
  auto session = std::make_shared<TZQSession>(TCreateKey{}, Connection, Transacted, AcknowledgeMode);
  Connection->AddSession(session);
  if (Connection->GetStarted() && !Connection->GetClosed()) {
    try {
      session->Start();
    } catch (...) {
      Connection->RemoveSession(session.get());
      throw;
    }
  }
  return session;
}

void TZQSession::CheckNotClosed() const {
  if (FClosed) {
    throw EIllegalStateException("The session is closed");
  }
}

std::shared_ptr<TZQConnection> TZQSession::GetConnection() const {
  std::shared_ptr<TZQConnection> connection = FConnection.lock();
  if (!connection) {
    throw EIllegalStateException("The session's connection no longer exists");
  }
  return connection;
}

IMessageTransformerPtr TZQSession::GetMessageTransformer() const {
  return GetConnection()->GetMessageTransformer();
}

// --- Start, stop, close ---

void TZQSession::Start() {
  if (FStarted)
    return;
  CheckNotClosed();
  EnsureTransaction();
  FStarted = true;
  for (const IMessageConsumerPtr& consumer : FConsumers->Snapshot()) {
    if (const auto startable = std::dynamic_pointer_cast<IStartable>(consumer)) {
      startable->Start();
    }
  }
}

void TZQSession::Stop() {
  for (const IMessageConsumerPtr& consumer : FConsumers->Snapshot()) {
    if (const auto stoppable = std::dynamic_pointer_cast<IStoppable>(consumer)) {
      stoppable->Stop();
    }
  }
  FStarted = false;
}

void TZQSession::Close() {
  if (FClosed)
    return;
  if (FTransacted && FTransactionContext.IsOpen()) {
    // What was sent in the open transaction is dropped and what its consumers handed out goes back to
    // the broker; a failure changes nothing for the close, which does not wait for the broker.
    try {
      FinishTransaction(false, false);
    } catch (...) {
    }
  }
  // Every consumer and producer is closed, newest first; the first failure is raised afterwards. The
  // lists are emptied first, so that a child leaving them finds nothing to search.
  std::exception_ptr failure;
  const std::vector<IMessageConsumerPtr> consumers = FConsumers->Snapshot();
  FConsumers->Clear();
  for (auto consumer = consumers.rbegin(); consumer != consumers.rend(); ++consumer) {
    try {
      (*consumer)->Close();
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }
  std::vector<TProducerEntry> producers;
  producers.reserve(FProducers.size());
  for (auto& [address, entry] : FProducers) {
    producers.push_back(std::move(entry));
  }
  FProducers.clear();
  std::sort(producers.begin(), producers.end(),
            [](const TProducerEntry& A, const TProducerEntry& B) { return A.Number > B.Number; });
  for (const TProducerEntry& entry : producers) {
    try {
      entry.Producer->Close();
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }
  if (const std::shared_ptr<TZQConnection> connection = FConnection.lock()) {
    connection->RemoveSession(this);
  }
  FClosed = true;
  if (failure) {
    std::rethrow_exception(failure);
  }
}

// --- Transactions ---

void TZQSession::BeginTransaction() {
  CheckNotClosed();
  if (!FTransacted)
    return;
  FTransactionContext.NewTransactionID();
  const std::shared_ptr<TZQAbstractTransport> transport = GetTransport();
  transport->BeginTransaction(FTransactionContext.GetTransactionID());
  FTransactionContext.SetOpen(true);
  FTransactionOn = transport->GetConnectionNumber();
  FTransactionUsed = false;
}

void TZQSession::EnsureTransaction() {
  if (FTransacted && !FTransactionContext.IsOpen()) {
    BeginTransaction();
  }
}

std::string TZQSession::AcknowledgeTransaction() {
  if (!FTransacted)
    return {};
  CheckNotClosed();
  EnsureTransaction();
  FTransactionUsed = true;
  return FTransactionContext.GetTransactionID();
}

std::string TZQSession::OpenTransactionID() const {
  if (!FTransacted || !FTransactionContext.IsOpen() || FTransactionOn != GetTransport()->GetConnectionNumber())
    return {};
  return FTransactionContext.GetTransactionID();
}

std::vector<std::shared_ptr<TZQMessageConsumer>> TZQSession::OwnConsumers() const {
  std::vector<std::shared_ptr<TZQMessageConsumer>> own;
  for (const IMessageConsumerPtr& consumer : FConsumers->Snapshot()) {
    if (auto library = std::dynamic_pointer_cast<TZQMessageConsumer>(consumer))
      own.push_back(std::move(library));
  }
  return own;
}

void TZQSession::FinishTransaction(bool Commit, bool Confirm) {
  // Without an open transaction the id is empty, which the client refuses for COMMIT and ABORT.
  const std::string id = FTransactionContext.IsOpen() ? FTransactionContext.GetTransactionID() : "";
  const std::shared_ptr<TZQAbstractTransport> transport = GetTransport();
  const std::vector<std::shared_ptr<TZQMessageConsumer>> consumers = OwnConsumers();
  // The transaction is over also when its frames or the broker fail: the broker ends it, or never saw
  // it, and drops it when the connection goes.
  FTransactionContext.SetOpen(false);
  struct TEnded {
    const std::vector<std::shared_ptr<TZQMessageConsumer>>& Consumers;
    ~TEnded() {
      for (const auto& consumer : Consumers)
        consumer->TransactionEnded();
    }
  } ended{consumers};
  if (!Commit) {
    transport->AbortTransaction(id);
    for (const auto& consumer : consumers)
      consumer->ReturnTransaction(*transport);
    if (Confirm)
      transport->ConfirmProcessed({});
    return;
  }
  // What the consumers handed out is acknowledged in the transaction, after its SENDs: when the broker
  // refuses one of those, the messages stay unconsumed.
  if (!id.empty()) {
    for (const auto& consumer : consumers)
      consumer->SettleInTransaction(*transport, id);
  }
  const std::vector<std::string> receipts = transport->CommitTransaction(id);
  // The broker replays the transaction at COMMIT and may refuse a frame of it then: its ERROR says so.
  // Any other failure from here on leaves the outcome unknown.
  try {
    transport->ConfirmProcessed(receipts);
  } catch (const EZQStompServerErrorMessage&) {
    throw;
  } catch (const std::exception& Error) {
    throw EZQStompError(std::string(Error.what()) + "; the transaction may or may not have been applied");
  }
}

void TZQSession::EndTransaction(bool Commit) {
  CheckNotClosed();
  if (!FTransacted) {
    throw EMQException("Session is not transacted");
  }
  if (FTransactionLost) {
    // What was done since the connection came back belongs to the lost transaction: it goes with it.
    FTransactionLost = false;
    if (FTransactionContext.IsOpen())
      FinishTransaction(false);
    if (Commit) {
      throw EMQException(
          "The transaction was lost with the connection to the broker: nothing of it was committed");
    }
    return;
  }
  // After a failed end none is open, and the next begins when a frame needs it: nothing to end now.
  if (!FTransactionContext.IsOpen() && !FTransactionContext.GetTransactionID().empty())
    return;
  FinishTransaction(Commit);
  BeginTransaction();
}

bool TZQSession::Resume() {
  if (FClosed)
    return true;
  const uint64_t current = GetTransport()->GetConnectionNumber();
  if (FTransacted && FTransactionContext.IsOpen() && FTransactionOn != current) {
    // What the transaction held never reached the broker; one that held nothing is simply begun again.
    FTransactionContext.SetOpen(false);
    if (FTransactionUsed) {
      FTransactionLost = true;
    } else {
      BeginTransaction();
    }
  }
  // Every consumer not yet subscribed on this connection subscribes again; the first failure is raised
  // afterwards, and a later Start retries those that failed.
  std::exception_ptr failure;
  const std::shared_ptr<TZQConnection> connection = GetConnection();
  for (const IMessageConsumerPtr& consumer : FConsumers->Snapshot()) {
    const auto own = std::dynamic_pointer_cast<TZQMessageConsumer>(consumer);
    if (!own || own->GetSubscribedAs().empty() || own->GetSubscribedOn() == current)
      continue;
    own->ForgetDeliveries();
    // The broker hands out again what it had delivered unacknowledged on the lost connection, so the
    // copies kept from there go; with automatic acknowledgement they are the only ones and stay.
    if (StompAckMode() != AckModeAuto)
      connection->GetMessageStore().DropKept(own->GetID());
    try {
      // The broker answers a subscription it refuses with an ERROR in place of the receipt, and closes
      // the connection: the receipt tells which consumer it was.
      Subscribe(own->GetSubscribedAs(), own->GetID(), true);
      own->SetSubscribedAs(own->GetSubscribedAs(), current);
    } catch (const EZQStompServerErrorMessage& Error) {
      own->Refuse(Error.what());
      return false;
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
      // A failed write ends the connection. On one that stands the SUBSCRIBE went out and the broker
      // has not refused it: it counts as subscribed there, since the broker refuses a second SUBSCRIBE
      // of the same id and ends the connection.
      if (GetTransport()->IsConnected())
        own->SetSubscribedAs(own->GetSubscribedAs(), current);
    }
  }
  if (failure)
    std::rethrow_exception(failure);
  return true;
}

void TZQSession::Commit() {
  EndTransaction(true);
}

void TZQSession::Rollback() {
  EndTransaction(false);
}

void TZQSession::MessageArrived(const IMessagePtr& Message) {
  if (!FTransacted || FConsumers->GetCount() == 0 || !Message)
    return;
  const std::string subscription = Message->GetStringProperty("subscription");
  bool own = false;
  for (int32_t i = 0; i < FConsumers->GetCount() && !own; ++i) {
    const auto provider = std::dynamic_pointer_cast<IConsumerIDProvider>(FConsumers->GetItem(i));
    own = provider && provider->GetConsumerID().GetID() == subscription;
  }
  if (!own)
    return;
  EnsureTransaction();
  if (const auto support = std::dynamic_pointer_cast<ITransactionIdSupport>(Message)) {
    support->SetTransactionID(FTransactionContext.GetTransactionID());
  }
}

// --- Consumers and producers ---

void TZQSession::AddConsumer(const std::shared_ptr<TZQMessageConsumer>& Consumer) {
  GetConnection()->GetMessageStore().Open(Consumer->GetID());
  FConsumers->Add(Consumer);
}

void TZQSession::RemoveConsumer(const std::shared_ptr<TZQMessageConsumer>& Consumer) {
  FConsumers->Remove(Consumer);
  if (const std::shared_ptr<TZQConnection> connection = FConnection.lock()) {
    connection->GetMessageStore().Close(Consumer->GetID());
  }
}

void TZQSession::AddProducer(const IMessageProducerPtr& Producer) {
  FProducers.insert_or_assign(Producer.get(), TProducerEntry{FProducerNumber++, Producer});
}

void TZQSession::RemoveProducer(const IMessageProducerPtr& Producer) {
  FProducers.erase(Producer.get());
}

uint8_t TZQSession::StompAckMode() const {
  // What a transacted session's consumers hand out belongs to its transaction, which acknowledges it.
  if (FTransacted)
    return AckModeClientIndividual;
  switch (FAcknowledgeMode) {
    // RabbitMQ applies a "client" ACK to every earlier delivery of the connection, other consumers'
    // included: client acknowledgement acknowledges message by message (see TZQMessageConsumer).
    case AcknowledgeModeClient:
    case AcknowledgeModeClientIndividual:
      return AckModeClientIndividual;
    default:
      return AckModeAuto;
  }
}

void TZQSession::Subscribe(const std::string& DestinationName, const std::string& SubscriptionID,
                           bool ForceReceipt) {
  GetTransport()->Subscribe(DestinationName, StompAckMode(), SubscriptionID, "", false, ForceReceipt);
}

void TZQSession::SubscribeRegistered(const std::shared_ptr<TZQMessageConsumer>& Consumer,
                                     const std::string& DestinationName) {
  try {
    Subscribe(DestinationName, Consumer->GetID());
  } catch (...) {
    // Not subscribed, so not a consumer: its id stays free and no UNSUBSCRIBE will follow.
    Consumer->MarkUnsubscribed();
    throw;
  }
  Consumer->SetSubscribedAs(DestinationName, GetTransport()->GetConnectionNumber());
}

IMessageConsumerPtr TZQSession::CreateConsumer(const IDestinationPtr& Destination) {
  CheckNotClosed();
  return CreateConsumer(Destination, "");
}

IMessageConsumerPtr TZQSession::CreateConsumer(const IDestinationPtr& Destination,
                                               const std::string& MessageSelector) {
  CheckNotClosed();
  return CreateConsumer(Destination, MessageSelector, false);
}

namespace {

// RabbitMQ ignores selectors and NoLocal silently; they are refused rather than left without effect.
void CheckSubscriptionOptions(const std::string& MessageSelector, bool NoLocal) {
  if (!MessageSelector.empty()) {
    throw EIllegalArgumentException("Message selectors are not supported by RabbitMQ");
  }
  if (NoLocal) {
    throw EIllegalArgumentException("NoLocal is not supported by RabbitMQ");
  }
}

}  // namespace

IMessageConsumerPtr TZQSession::CreateConsumer(const IDestinationPtr& Destination,
                                               const std::string& MessageSelector, bool NoLocal) {
  CheckNotClosed();
  CheckSubscriptionOptions(MessageSelector, NoLocal);
  const std::string destinationName = GetTransport()->GetDestinationName(Destination);
  const uint8_t kind = Destination->GetDestinationKind();
  const bool temporary = kind == DestinationKindTemporaryQueue || kind == DestinationKindTemporaryTopic;
  // A temporary queue's messages carry its broker name as subscription id; nothing is subscribed.
  const auto consumer = TZQMessageConsumer::Create(shared_from_this(), temporary ? destinationName : "",
                                                   Destination, "", MessageSelector, NoLocal);
  if (!temporary) {
    SubscribeRegistered(consumer, destinationName);
  }
  return consumer;
}

ITopicSubscriberPtr TZQSession::CreateDurableSubscriber(const ITopicPtr& Topic, const std::string& Name) {
  CheckNotClosed();
  return CreateDurableSubscriber(Topic, Name, "", false);
}

ITopicSubscriberPtr TZQSession::CreateDurableSubscriber(const ITopicPtr& Topic, const std::string& Name,
                                                        const std::string& MessageSelector, bool NoLocal) {
  CheckNotClosed();
  CheckSubscriptionOptions(MessageSelector, NoLocal);
  std::string destinationName = GetTransport()->GetDestinationName(Topic);
  // These headers keep the subscription's queue; an option of the topic's would override them, and
  // "durable" is the broker's other name for "persistent".
  static constexpr std::array<std::string_view, 3> DurableHeaderNames = {"persistent", "durable",
                                                                         "auto-delete"};
  TSubscribeOptionsBuilder::RefuseOptionNames(
      SplitOptionList(TSubscribeOptionsBuilder::ExtractOptions(destinationName)), DurableHeaderNames);
  // The name is the subscription id, which the broker writes into the message and ack ids of every
  // delivery together with its session id and a delivery number.
  if (Name.size() > MaxDurableNameLength) {
    throw EIllegalArgumentException(
        Format("Header \"id\" cannot be encoded: the broker would deliver its messages with ids longer "
               "than %d octets; a durable subscription name may have at most %d octets",
               {int64_t{MaxHeaderLineLength}, int64_t{MaxDurableNameLength}}));
  }
  CheckDurableNameReadable(Name);
  destinationName = AppendDestinationParam(destinationName, "persistent", "true");
  destinationName = AppendDestinationParam(destinationName, "auto-delete", "false");
  const auto subscriber =
      TZQTopicSubscriber::Create(shared_from_this(), Name, Topic, Name, MessageSelector, NoLocal);
  SubscribeRegistered(subscriber, destinationName);
  return subscriber;
}

bool TZQSession::MarkUnsubscribed(const std::string& TopicName, const std::string& SubscriptionName) {
  for (const IMessageConsumerPtr& consumer : FConsumers->Snapshot()) {
    const auto subscriber = std::dynamic_pointer_cast<TZQTopicSubscriber>(consumer);
    if (!subscriber || subscriber->GetSubscriptionName() != SubscriptionName)
      continue;
    const ITopicPtr topic = subscriber->GetTopic();
    if (topic && topic->GetTopicName() == TopicName) {
      subscriber->MarkUnsubscribed();
      return true;
    }
  }
  return false;
}

void TZQSession::Unsubscribe(const std::string& TopicName, const std::string& SubscriptionName) {
  CheckNotClosed();
  const std::string destinationName = GetTransport()->GetDestinationName(TZQTopic::Create(TopicName));
  const std::shared_ptr<TZQConnection> connection = GetConnection();
  connection->UnsubscribeDurable(destinationName, SubscriptionName);
  // The subscription id is the connection's, so the subscriber may live in any of its sessions.
  connection->MarkDurableUnsubscribed(TopicName, SubscriptionName);
}

IMessageProducerPtr TZQSession::CreateProducer(const IDestinationPtr& Destination) {
  CheckNotClosed();
  return TZQMessageProducer::Create(shared_from_this(), Destination, GetConnection()->GetSendTimeout());
}

// --- Messages and destinations ---

void TZQSession::CheckMessageTransformer() const {
  if (!GetMessageTransformer()) {
    throw ENoMessageTransformer("Session has no message transformer");
  }
}

IBytesMessagePtr TZQSession::CreateBytesMessage() {
  CheckNotClosed();
  return std::make_shared<TZQBytesMessage>(MessageTransport());
}

IMessagePtr TZQSession::CreateMessage() {
  CheckNotClosed();
  return std::make_shared<TZQTextMessage>(MessageTransport());
}

ITextMessagePtr TZQSession::CreateTextMessage() {
  CheckNotClosed();
  return std::make_shared<TZQTextMessage>(MessageTransport());
}

ITextMessagePtr TZQSession::CreateTextMessage(const std::string& Text) {
  CheckNotClosed();
  auto message = std::make_shared<TZQTextMessage>(MessageTransport());
  message->SetText(Text);
  return message;
}

IMapMessagePtr TZQSession::CreateMapMessage() {
  CheckNotClosed();
  CheckMessageTransformer();
  return std::make_shared<TZQMapMessage>(MessageTransport());
}

IObjectMessagePtr TZQSession::CreateObjectMessage() {
  CheckNotClosed();
  CheckMessageTransformer();
  return std::make_shared<TZQObjectMessage>(MessageTransport());
}

IObjectMessagePtr TZQSession::CreateObjectMessage(const IObjectPtr& Object) {
  IObjectMessagePtr message = CreateObjectMessage();
  message->SetObject(Object);
  return message;
}

IQueuePtr TZQSession::CreateQueue(const std::string& QueueName) {
  CheckNotClosed();
  return TZQQueue::Create(QueueName);
}

ITopicPtr TZQSession::CreateTopic(const std::string& TopicName) {
  CheckNotClosed();
  return TZQTopic::Create(TopicName);
}

std::string TZQSession::NextTemporaryName() const {
  CheckNotClosed();
  if (FAcknowledgeMode == AcknowledgeModeClient || FAcknowledgeMode == AcknowledgeModeClientIndividual) {
    throw EIllegalStateException("The message broker supports temporary destinations only with auto-ack");
  }
  return GetConnection()->NextTemporaryName();
}

ITemporaryQueuePtr TZQSession::CreateTemporaryQueue() {
  ITemporaryQueuePtr queue = TZQTemporaryQueue::Create(NextTemporaryName());
  // The broker delivers to a temporary queue without a SUBSCRIBE, so a reply may come before the
  // queue's consumer exists: the connection keeps it for that consumer.
  GetConnection()->GetMessageStore().Await(GetTransport()->GetDestinationName(queue));
  return queue;
}

ITemporaryTopicPtr TZQSession::CreateTemporaryTopic() {
  return TZQTemporaryTopic::Create(NextTemporaryName());
}

IQueueBrowserPtr TZQSession::CreateBrowser(const IQueuePtr& /*Queue*/) {
  throw EMQException("Feature not supported");
}

// --- Sending ---

void TZQSession::CheckSendDestination(const IDestinationPtr& Destination) const {
  CheckSendDestinationName(GetTransport()->GetDestinationName(Destination));
}

std::string TZQSession::SendDestinationName(const IDestinationPtr& Destination) const {
  CheckNotClosed();
  std::string name = GetTransport()->GetDestinationName(Destination);
  CheckSendDestinationName(name);
  return name;
}

void TZQSession::CheckSendDestinationName(const std::string& DestinationName) {
  if (HasPrefix(DestinationName, "/temp-queue/")) {
    throw EIllegalStateException(
        Format("Cannot send to the temporary queue \"%s\": the broker accepts it only as a reply-to",
               {DestinationName.substr(12)}));
  }
}

std::unique_ptr<TZQMessage> TZQSession::ConvertMessage(const IMessage& Message) const {
  std::unique_ptr<TZQMessage> copy;
  if (const auto* text = dynamic_cast<const ITextMessage*>(&Message)) {
    auto textCopy = std::make_unique<TZQTextMessage>(MessageTransport());
    textCopy->SetText(text->GetTextRef());
    copy = std::move(textCopy);
  } else if (const auto* bytes = dynamic_cast<const IBytesMessage*>(&Message)) {
    copy = std::make_unique<TZQBytesMessage>(MessageTransport(), bytes->GetContent(), "");
  } else if (dynamic_cast<const IObjectMessage*>(&Message) != nullptr) {
    copy =
        std::make_unique<TZQObjectMessage>(MessageTransport(), RawContent(Message, ObjectWithoutContent), "");
  } else if (dynamic_cast<const IMapMessage*>(&Message) != nullptr) {
    copy = std::make_unique<TZQMapMessage>(MessageTransport(), RawContent(Message, MapWithoutContent), "");
  } else {
    throw EMQException("Unknown message type");
  }
  // What a SEND carries of the header fields; the delivery fields come with the send's stamp.
  copy->SetCorrelationID(Message.GetCorrelationID());
  copy->SetReplyTo(Message.GetReplyTo());
  copy->SetType(Message.GetType());
  for (const std::string& name : Message.GetPropertyNames()) {
    if (!IsDeliveryProperty(name)) {
      copy->SetStringProperty(name, Message.GetStringProperty(name));
    }
  }
  return copy;
}

void TZQSession::Send(const std::string& DestinationName, const IMessagePtr& Message, uint8_t DeliveryMode,
                      uint8_t Priority, uint32_t TimeToLive, int32_t SendTimeout) {
  CheckNotClosed();
  const std::shared_ptr<TZQAbstractTransport> transport = GetTransport();
  // The library's own message is sent as it is, with this send's delivery fields stamped beside it;
  // any other implementation is copied into a library message first.
  const TZQMessage* own = AsLibraryMessage(*Message);
  std::unique_ptr<TZQMessage> copy;
  if (own == nullptr) {
    copy = ConvertMessage(*Message);
    own = copy.get();
  }
  if (TimeToLive != 0) {
    Message->SetExpiration(NowUTC() + static_cast<double>(TimeToLive) / MillisPerDay);
  }
  if (FTransacted) {
    EnsureTransaction();
    FTransactionUsed = true;
  }
  const TSendStamp stamp{DeliveryMode, Priority,
                         FTransacted ? FTransactionContext.GetTransactionID() : NoTransaction,
                         std::chrono::milliseconds(TimeToLive), true};
  transport->Send(*own, stamp, DestinationName, SendTimeout);
}

}  // namespace velmor
