#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ZQAbstractConnection.h"
#include "ZQAbstractSession.h"
#include "ZQAbstractTransport.h"
#include "ZQMQInterfaces.h"
#include "ZQMessage.h"
#include "ZQMessageConsumerList.h"
#include "ZQMessageStore.h"
#include "ZQThreadSafe.h"
#include "ZQTransactionContext.h"

namespace velmor {

class TZQSession;
class TZQMessageConsumer;

// One broker connection of the messaging API. It owns its transport and its sessions; sessions refer
// back to it weakly. Start connects the transport and starts the sessions; Close closes every session
// and disconnects, also when a session's close fails. Releasing the last reference closes it.
//
// Everything of one connection (its sessions, producers, consumers and transport) shares one socket:
// calls on one connection must not overlap. Only the temporary-name sequence is thread-safe.
class TZQConnection final : public TZQAbstractConnection,
                            public IHeartbeatControl,
                            public ITransformerSettings,
                            public IConnectionInfo,
                            public IConnection,
                            public IStoppable,
                            public std::enable_shared_from_this<TZQConnection> {
 private:
  struct TCreateKey {
    explicit TCreateKey() = default;
  };

 public:
  // Takes ownership of Transport and installs this connection as its message callback.
  static std::shared_ptr<TZQConnection> Create(std::shared_ptr<TZQAbstractTransport> Transport);
  TZQConnection(TCreateKey /*Key*/, std::shared_ptr<TZQAbstractTransport> Transport);
  // Closes the connection when that has not happened; raises nothing.
  ~TZQConnection() override;

  // IConnection
  std::string GetClientID() const override { return FClientID; }
  void SetClientID(const std::string& ClientID) override;
  void Start() override { TZQAbstractConnection::Start(); }
  void Stop() override;
  void Close() override;
  ISessionPtr CreateSession(bool Transacted, uint8_t AcknowledgeMode) override;
  ISessionPtr CreateSession(uint8_t AcknowledgeMode) override;

  // ITransformerSettings
  IMessageTransformerPtr GetMessageTransformer() const override { return FMessageTransformer; }
  void SetMessageTransformer(const IMessageTransformerPtr& Transformer) override;
  void SetMapTransformationID(const std::string& ID) override;
  void SetObjectTransformationID(const std::string& ID) override;

  // IConnectionInfo
  // The transport's real state: CONNECTED was handled and the socket has not been lost since.
  bool IsConnected() const override;
  std::string GetSessionID() const override;
  std::string GetServer() const override;
  uint8_t GetProtocolVersion() const override;

  // IHeartbeatControl
  void SendHeartbeat() override { FTransport->SendHeartbeat(); }
  void CheckHeartbeat() override { FTransport->CheckHeartbeat(); }
  bool WaitHeartbeat(int32_t Timeout) override { return FTransport->WaitHeartbeat(Timeout); }

  // --- For sessions, producers and consumers ---

  void AddSession(const std::shared_ptr<TZQSession>& Session);
  void RemoveSession(const TZQSession* Session);
  // Removes a durable subscription on the broker: UNSUBSCRIBE of an open subscriber of this connection,
  // or, when none has that name, the transport's removal of a subscription not open here.
  void UnsubscribeDurable(const std::string& DestinationName, const std::string& SubscriptionName);
  // Marks the open durable subscriber of TopicName named SubscriptionName closed, in whichever session
  // it is: the broker has ended its subscription.
  void MarkDurableUnsubscribed(const std::string& TopicName, const std::string& SubscriptionName);
  // Offers a received message to every session, oldest first.
  void OnMessage(const IMessagePtr& Message);
  // The next temporary destination name: "tmp-0", "tmp-1", ... shared by all sessions.
  std::string NextTemporaryName();
  // Subscriptions of this connection and the messages kept for them.
  TZQMessageStore& GetMessageStore() { return FMessageStore; }
  // Bounds of the message store (messages and body octets).
  void SetMessageStoreLimits(std::size_t MaxMessages, std::size_t MaxOctets);
  std::size_t GetSessionCount() const { return FSessions.size(); }

 protected:
  void StartSessions() override;
  void CloseSessions() override;
  bool ResumeSessions() override;
  // Under automatic acknowledgement the broker counts what it delivered as consumed: the messages the
  // lost connection delivered and nobody read are kept for their consumers. The other sessions' go
  // when they resume, since the broker delivers them again.
  void KeepUnreadMessages() override;

 private:
  std::string FClientID;
  std::vector<std::shared_ptr<TZQSession>> FSessions;
  IMessageTransformerPtr FMessageTransformer;
  TZQThreadSafeIntegerSequence FTemporaryNameSequence;
  bool FClientIDSet = false;
  TZQMessageStore FMessageStore;
};

// A session of a connection: creates messages, destinations, producers and consumers, sends the messages
// its producers hand it with each send's delivery fields, and, when transacted, keeps one broker
// transaction open at a time. It owns its producers, consumers and transaction context; it refers to its
// connection weakly. Used by one thread at a time.
class TZQSession final : public TZQAbstractSession,
                         public IMessageArrivedHook,
                         public ISession,
                         public std::enable_shared_from_this<TZQSession> {
 private:
  struct TCreateKey {
    explicit TCreateKey() = default;
  };

 public:
  // A new session registered with Connection; started at once when the connection is started.
  static std::shared_ptr<TZQSession> Create(const std::shared_ptr<TZQConnection>& Connection, bool Transacted,
                                            uint8_t AcknowledgeMode);
  TZQSession(TCreateKey /*Key*/, const std::shared_ptr<TZQConnection>& Connection, bool Transacted,
             uint8_t AcknowledgeMode);

  // IStartable, IStoppable. Start on a started session does nothing.
  void Start() override;
  void Stop() override;

  // IMessageArrivedHook: a transacted session stamps its open transaction on the messages of its own
  // subscriptions (beginning one when none is open).
  void MessageArrived(const IMessagePtr& Message) override;

  // ISession
  uint8_t GetAcknowledgeMode() const override { return FAcknowledgeMode; }
  bool GetTransacted() const override { return FTransacted; }
  void Close() override;
  void Commit() override;
  IBytesMessagePtr CreateBytesMessage() override;
  IMessageConsumerPtr CreateConsumer(const IDestinationPtr& Destination) override;
  IMessageConsumerPtr CreateConsumer(const IDestinationPtr& Destination,
                                     const std::string& MessageSelector) override;
  IMessageConsumerPtr CreateConsumer(const IDestinationPtr& Destination, const std::string& MessageSelector,
                                     bool NoLocal) override;
  ITopicSubscriberPtr CreateDurableSubscriber(const ITopicPtr& Topic, const std::string& Name) override;
  ITopicSubscriberPtr CreateDurableSubscriber(const ITopicPtr& Topic, const std::string& Name,
                                              const std::string& MessageSelector, bool NoLocal) override;
  IMessagePtr CreateMessage() override;
  IMessageProducerPtr CreateProducer(const IDestinationPtr& Destination) override;
  IQueuePtr CreateQueue(const std::string& QueueName) override;
  ITemporaryQueuePtr CreateTemporaryQueue() override;
  ITemporaryTopicPtr CreateTemporaryTopic() override;
  IQueueBrowserPtr CreateBrowser(const IQueuePtr& Queue) override;
  IObjectMessagePtr CreateObjectMessage() override;
  IObjectMessagePtr CreateObjectMessage(const IObjectPtr& Object) override;
  ITextMessagePtr CreateTextMessage() override;
  IMapMessagePtr CreateMapMessage() override;
  ITextMessagePtr CreateTextMessage(const std::string& Text) override;
  ITopicPtr CreateTopic(const std::string& TopicName) override;
  void Rollback() override;
  void Unsubscribe(const std::string& TopicName, const std::string& SubscriptionName) override;

  // --- For the connection, producers and consumers ---

  // The broker name that a send to Destination goes to: EIllegalStateException on a closed session, and
  // the errors of a destination that messages cannot be sent to.
  std::string SendDestinationName(const IDestinationPtr& Destination) const;
  // Sends Message to the broker destination DestinationName (as SendDestinationName gave it) with the
  // delivery fields of this send; of the message itself only the expiration changes, when TimeToLive
  // (ms, 0 = none) is given. A message of another implementation than the library's is copied first.
  void Send(const std::string& DestinationName, const IMessagePtr& Message, uint8_t DeliveryMode,
            uint8_t Priority, uint32_t TimeToLive, int32_t SendTimeout);
  // Refuses a destination that messages cannot be sent to: a temporary queue of this library, which the
  // broker accepts only as a reply-to (EIllegalStateException).
  void CheckSendDestination(const IDestinationPtr& Destination) const;
  // The same for the broker name of a destination.
  static void CheckSendDestinationName(const std::string& DestinationName);
  // Registers Consumer under its id on the connection (EDuplicateConsumerIDException when that id is
  // open on the connection) and in this session's list.
  void AddConsumer(const std::shared_ptr<TZQMessageConsumer>& Consumer);
  // Removes Consumer from the list and ends its subscription id on the connection.
  void RemoveConsumer(const std::shared_ptr<TZQMessageConsumer>& Consumer);
  void AddProducer(const IMessageProducerPtr& Producer);
  void RemoveProducer(const IMessageProducerPtr& Producer);
  // The connection; EIllegalStateException when it no longer exists.
  std::shared_ptr<TZQConnection> GetConnection() const;
  IMessageTransformerPtr GetMessageTransformer() const;
  // On a transacted session: a new transaction id and BEGIN. Nothing on other sessions.
  void BeginTransaction();
  // The transaction that a message handed out by this session's consumers belongs to: the open one,
  // begun when none is open; empty when the session is not transacted.
  std::string AcknowledgeTransaction();
  // The id of the transaction open on the current connection; empty when there is none.
  std::string OpenTransactionID() const;
  // True when the broker counts what this session's consumers receive as consumed when it delivers it
  // (automatic acknowledgement).
  bool SettlesOnDelivery() const { return StompAckMode() == AckModeAuto; }
  // The connection was made again after it had been lost: the consumers not yet subscribed on it
  // subscribe again with their ids, destinations and options, each waiting for its receipt (one whose
  // receipt did not come on a connection that stands counts as subscribed on it all the same); an open
  // transaction that held a SEND or a received message is lost (the next Commit says so), an empty one
  // is begun again. False when the broker refused a subscription, which ends the connection: that
  // consumer is closed with the broker's text, and the rest wait for the next connection.
  bool Resume();
  // Marks the open durable subscriber of TopicName named SubscriptionName closed, without a frame: its
  // subscription was removed on the broker. True when there was one.
  bool MarkUnsubscribed(const std::string& TopicName, const std::string& SubscriptionName);

  const std::string& GetTransactionID() const { return FTransactionContext.GetTransactionID(); }
  bool GetTransactionOpen() const { return FTransactionContext.IsOpen(); }
  const IConsumerList& GetConsumers() const { return *FConsumers; }
  std::size_t GetProducerCount() const { return FProducers.size(); }

 private:
  // EIllegalStateException "The session is closed".
  void CheckNotClosed() const;
  // COMMIT (or ABORT) of the open transaction once the broker has processed it, then BEGIN of the next
  // one. After a failure no transaction is open: the next one begins with the next frame that needs it.
  void EndTransaction(bool Commit);
  // COMMIT of the open transaction with what its consumers handed out, returning once the broker has
  // applied it and stored its persistent messages; or ABORT, and what the consumers handed out goes
  // back to the broker, returning once the broker has processed that when Confirm is set. Either way
  // the transaction is over afterwards, also when this raises.
  void FinishTransaction(bool Commit, bool Confirm = true);
  // The session's consumers of this library, oldest first.
  std::vector<std::shared_ptr<TZQMessageConsumer>> OwnConsumers() const;
  // Begins a transaction when this transacted session has none open.
  void EnsureTransaction();
  // The name of a new temporary destination; refused in the acknowledge modes that cannot have one.
  std::string NextTemporaryName() const;
  // The map and object factories need the application's transformer.
  void CheckMessageTransformer() const;
  // The STOMP ack mode of this session's subscriptions.
  uint8_t StompAckMode() const;
  // SUBSCRIBE in the session's ack mode; waits for a receipt when the URL asks for one or ForceReceipt
  // is set.
  void Subscribe(const std::string& DestinationName, const std::string& SubscriptionID,
                 bool ForceReceipt = false);
  // SUBSCRIBE for a consumer already registered; a failed one unregisters it before raising.
  void SubscribeRegistered(const std::shared_ptr<TZQMessageConsumer>& Consumer,
                           const std::string& DestinationName);
  // The library copy of a message of another implementation, for a send: its body, correlation id,
  // reply-to, type and properties, leaving out what only described a delivery to this client.
  std::unique_ptr<TZQMessage> ConvertMessage(const IMessage& Message) const;
  std::weak_ptr<TZQStompClient> MessageTransport() const { return FTransport; }

  // A producer of the session and its creation number (producers close newest first).
  struct TProducerEntry {
    uint64_t Number = 0;
    IMessageProducerPtr Producer;
  };

  std::shared_ptr<TZQMessageConsumerList> FConsumers;
  // By address, so that a producer leaves in constant time, however many there are.
  std::unordered_map<const IMessageProducer*, TProducerEntry> FProducers;
  uint64_t FProducerNumber = 0;
  std::weak_ptr<TZQConnection> FConnection;
  TZQTransactionContext FTransactionContext;
  // A transaction was open when the connection was lost: whatever it held never reached the broker.
  bool FTransactionLost = false;
  // The client's connection number the open transaction was begun on, and whether a SEND or a received
  // message went into it.
  uint64_t FTransactionOn = 0;
  bool FTransactionUsed = false;
};

}  // namespace velmor
