#pragma once

// The interfaces of the messaging API. Objects are handed around as std::shared_ptr to these interfaces;
// asking an object for another interface is std::dynamic_pointer_cast, which gives nullptr when the
// object does not implement it.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "ZQDateTime.h"
#include "ZQMgmtInterfaces.h"
#include "ZQTypes.h"

namespace velmor {

// ---------------------------------------------------------------------------------------------------
// Destinations
// ---------------------------------------------------------------------------------------------------

// Kinds of destination, as GetDestinationKind reports them.
inline constexpr uint8_t DestinationKindQueue = 0;
inline constexpr uint8_t DestinationKindTopic = 1;
inline constexpr uint8_t DestinationKindTemporaryQueue = 2;
inline constexpr uint8_t DestinationKindTemporaryTopic = 3;

// Where a message is sent or read from: a kind and the application's own name (the broker's naming
// scheme is added by the transport).
class IDestination {
 public:
  virtual ~IDestination() = default;

  virtual uint8_t GetDestinationKind() const = 0;
  // Stores the kind unchecked; the library sets it only when constructing a destination.
  virtual void SetDestinationKind(uint8_t Kind) = 0;
};

class IQueue : public virtual IDestination {
 public:
  virtual std::string GetQueueName() const = 0;
};

class ITemporaryQueue : public virtual IQueue {
 public:
  // Not supported: raises EMQException "Feature not implemented".
  virtual void Delete() = 0;
};

class ITopic : public virtual IDestination {
 public:
  virtual std::string GetTopicName() const = 0;
};

class ITemporaryTopic : public virtual ITopic {
 public:
  // Not supported: raises EMQException "Feature not implemented".
  virtual void Delete() = 0;
};

using IDestinationPtr = std::shared_ptr<IDestination>;
using IQueuePtr = std::shared_ptr<IQueue>;
using ITemporaryQueuePtr = std::shared_ptr<ITemporaryQueue>;
using ITopicPtr = std::shared_ptr<ITopic>;
using ITemporaryTopicPtr = std::shared_ptr<ITemporaryTopic>;

// ---------------------------------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------------------------------

// The transaction under which a message is sent or acknowledged.
class ITransactionIdSupport {
 public:
  virtual ~ITransactionIdSupport() = default;

  virtual void SetTransactionID(const std::string& ID) = 0;
  virtual std::string GetTransactionID() const = 0;
};

// Additional headers for the NACK of a received message.
class IExtraHeadersSupport {
 public:
  virtual ~IExtraHeadersSupport() = default;

  // Replaces the message's list by a copy of Headers, each entry "name=value", kept in order.
  virtual void SetExtraHeaders(const PMStrings& Headers) = 0;
};

// A message: header fields, named properties (kept as text, in first-set order, names compared
// exactly) and, in the kind interfaces below, a body. A message is used by one thread at a time.
class IMessage {
 public:
  virtual ~IMessage() = default;

  virtual void SetMessageID(const std::string& ID) = 0;
  virtual std::string GetMessageID() const = 0;
  // nullptr is allowed and means "unset".
  virtual void SetDestination(const IDestinationPtr& Destination) = 0;
  virtual IDestinationPtr GetDestination() const = 0;
  virtual void SetReplyTo(const IDestinationPtr& Destination) = 0;
  virtual IDestinationPtr GetReplyTo() const = 0;
  // 0 to 255; anything else raises EIllegalArgumentException and leaves the priority unchanged.
  virtual void SetPriority(int32_t Priority) = 0;
  virtual int32_t GetPriority() const = 0;
  // 1 = persistent; every other value = not persistent.
  virtual void SetDeliveryMode(uint8_t Mode) = 0;
  virtual uint8_t GetDeliveryMode() const = 0;
  virtual void SetRedelivered(bool Redelivered) = 0;
  virtual bool GetRedelivered() const = 0;
  // 0 means no expiration.
  virtual void SetExpiration(TDateTime Expiration) = 0;
  virtual TDateTime GetExpiration() const = 0;
  virtual void SetCorrelationID(const std::string& ID) = 0;
  virtual std::string GetCorrelationID() const = 0;
  virtual std::string GetType() const = 0;
  virtual void SetType(const std::string& Type) = 0;
  // UTC.
  virtual void SetTimestamp(TDateTime Timestamp) = 0;
  virtual TDateTime GetTimestamp() const = 0;

  virtual PMStrings GetPropertyNames() const = 0;
  // True only for the exact text "true"; false when absent.
  virtual bool GetBooleanProperty(const std::string& Name) const = 0;
  virtual void SetBooleanProperty(const std::string& Name, bool Value) = 0;
  // 0 when absent or not an integer.
  virtual int32_t GetIntProperty(const std::string& Name) const = 0;
  virtual void SetIntProperty(const std::string& Name, int32_t Value) = 0;
  // Empty when absent.
  virtual std::string GetStringProperty(const std::string& Name) const = 0;
  virtual void SetStringProperty(const std::string& Name, const std::string& Value) = 0;

  // Sends a STOMP ACK for this message on its connection, naming its subscription. A message that a
  // consumer handed out is acknowledged in the transaction open in that consumer's session, and under
  // client acknowledgement together with the consumer's earlier unacknowledged messages, one ACK each.
  virtual void Acknowledge() = 0;
  // Sends a STOMP NACK (STOMP 1.1 or later) with the message's extra headers.
  virtual void Nack() = 0;
};

using IMessagePtr = std::shared_ptr<IMessage>;

class ITextMessage : public virtual IMessage {
 public:
  virtual void SetText(std::string Text) = 0;
  virtual std::string GetText() const = 0;
  // The text itself, without a copy; valid while the message lives and its text is not set again.
  virtual const std::string& GetTextRef() const = 0;
};

// Body of octets, NUL included.
class IBytesMessage : public virtual IMessage {
 public:
  virtual void SetContent(const std::string& Content) = 0;
  virtual std::string GetContent() const = 0;
};

// The raw body of a map or object message: the serialized form that a message transformer writes on
// send and reads on receive. Not an IMessage itself.
class IMessageContent {
 public:
  virtual ~IMessageContent() = default;

  virtual void SetContent(const std::string& Content) = 0;
  virtual std::string GetContent() const = 0;
};

// Named typed entries, with the same rules as the properties.
class IMapMessage : public virtual IMessage {
 public:
  virtual PMStrings GetMapNames() const = 0;
  // True when the entry's value is not empty. A name that is empty or only blanks and control
  // characters raises EAssertionFailed.
  virtual bool ItemExists(const std::string& Name) const = 0;
  virtual void SetBoolean(const std::string& Name, bool Value) = 0;
  virtual bool GetBoolean(const std::string& Name) const = 0;
  virtual void SetInt(const std::string& Name, int32_t Value) = 0;
  virtual int32_t GetInt(const std::string& Name) const = 0;
  virtual void SetString(const std::string& Name, const std::string& Value) = 0;
  virtual std::string GetString(const std::string& Name) const = 0;
};

// Base of the application objects that an object message carries. Applications derive their classes
// from it and get them back with std::dynamic_pointer_cast.
class IObject {
 public:
  virtual ~IObject() = default;
};

using IObjectPtr = std::shared_ptr<IObject>;

// Carries one application object, shared with the application (the message keeps it alive).
class IObjectMessage : public virtual IMessage {
 public:
  // nullptr raises EIllegalArgumentException "Object must not be nil".
  virtual void SetObject(const IObjectPtr& Object) = 0;
  // nullptr when never set.
  virtual IObjectPtr GetObject() const = 0;
};

using ITextMessagePtr = std::shared_ptr<ITextMessage>;
using IBytesMessagePtr = std::shared_ptr<IBytesMessage>;
using IMapMessagePtr = std::shared_ptr<IMapMessage>;
using IObjectMessagePtr = std::shared_ptr<IObjectMessage>;
using IMessageContentPtr = std::shared_ptr<IMessageContent>;

// ---------------------------------------------------------------------------------------------------
// Life cycle of connections, sessions, producers and consumers
// ---------------------------------------------------------------------------------------------------

class IStartable {
 public:
  virtual ~IStartable() = default;
  virtual void Start() = 0;
};

class IStoppable {
 public:
  virtual ~IStoppable() = default;
  virtual void Stop() = 0;
};

class ICloseable {
 public:
  virtual ~ICloseable() = default;
  virtual void Close() = 0;
};

class ISession;
class IMessageProducer;
class IMessageConsumer;
using ISessionPtr = std::shared_ptr<ISession>;
using IMessageProducerPtr = std::shared_ptr<IMessageProducer>;
using IMessageConsumerPtr = std::shared_ptr<IMessageConsumer>;

// Written by applications: converts messages on receive and on send. It is the only place where map
// entries and objects become the raw body of map and object messages (IMessageContent) and back. A
// Replacement left nullptr keeps the message; any other takes its place. TransformIncoming is called on
// every receive, also when no message came (Message nullptr).
class IMessageTransformer {
 public:
  virtual ~IMessageTransformer() = default;

  virtual void TransformIncoming(const ISessionPtr& Session, const IMessageConsumerPtr& Consumer,
                                 const IMessagePtr& Message, IMessagePtr& Replacement) = 0;
  virtual void TransformOutgoing(const ISessionPtr& Session, const IMessageProducerPtr& Producer,
                                 const IMessagePtr& Message, IMessagePtr& Replacement) = 0;
};

using IMessageTransformerPtr = std::shared_ptr<IMessageTransformer>;

// The connection offers every received message to each of its sessions through this hook.
class IMessageArrivedHook {
 public:
  virtual ~IMessageArrivedHook() = default;
  virtual void MessageArrived(const IMessagePtr& Message) = 0;
};

// ---------------------------------------------------------------------------------------------------
// Producer and consumer
// ---------------------------------------------------------------------------------------------------

// Sends messages for one session, with defaults for delivery mode, priority, time-to-live and
// destination. Every operation but Close raises EIllegalStateException "The producer is closed" once
// closed; Close is idempotent.
class IMessageProducer {
 public:
  virtual ~IMessageProducer() = default;

  // 1 = persistent.
  virtual void SetDeliveryMode(uint8_t DeliveryMode) = 0;
  // 0 to 255, else EIllegalArgumentException.
  virtual void SetPriority(int32_t Priority) = 0;
  // Milliseconds; 0 = no expiration.
  virtual void SetTimeToLive(uint32_t TimeToLive) = 0;
  virtual uint8_t GetDeliveryMode() const = 0;
  virtual int32_t GetPriority() const = 0;
  virtual uint32_t GetTimeToLive() const = 0;
  virtual void Close() = 0;
  virtual void Send(const IMessagePtr& Message) = 0;
  virtual void Send(const IDestinationPtr& Destination, const IMessagePtr& Message) = 0;
  virtual void Send(const IMessagePtr& Message, uint8_t DeliveryMode, int32_t Priority, int32_t TimeToLive) = 0;
  virtual void Send(const IDestinationPtr& Destination, const IMessagePtr& Message, uint8_t DeliveryMode,
                    int32_t Priority, int32_t TimeToLive) = 0;
};

// Receives the messages of one subscription by polling on the caller's thread. Each receive returns
// nullptr when nothing came in time.
class IMessageConsumer {
 public:
  virtual ~IMessageConsumer() = default;

  virtual std::string GetMessageSelector() const = 0;
  // Waits without limit.
  virtual IMessagePtr Receive() = 0;
  // Waits at most Timeout ms (below 1 counts as 1).
  virtual IMessagePtr Receive(int32_t Timeout) = 0;
  virtual IMessagePtr ReceiveNoWait() = 0;
  virtual void Close() = 0;
};

// A durable topic subscription.
class ITopicSubscriber : public virtual IMessageConsumer {
 public:
  virtual bool GetNoLocal() const = 0;
  virtual ITopicPtr GetTopic() const = 0;
};

using ITopicSubscriberPtr = std::shared_ptr<ITopicSubscriber>;

// Not supported by the library: no session ever returns one.
class IQueueBrowser {
 public:
  virtual ~IQueueBrowser() = default;
};

using IQueueBrowserPtr = std::shared_ptr<IQueueBrowser>;

// ---------------------------------------------------------------------------------------------------
// Session and connection
// ---------------------------------------------------------------------------------------------------

// Acknowledge modes of a session.
//
// AcknowledgeModeAuto (and the transacted mode, whose subscriptions acknowledge the same way) subscribe
// with STOMP's "auto": the broker counts a message as consumed as soon as it has sent it. Messages the
// broker has already sent to a consumer that is then closed are lost: those the connection was
// keeping for it, and those still on their way while the broker handles the UNSUBSCRIBE. Where that
// matters, use AcknowledgeModeClientIndividual and acknowledge each message once it is handled: the
// broker keeps every message that was not acknowledged and delivers it again, at the latest once the
// connection has closed. Add the broker URL option "unsubscribe.receipt=true" as well, so that closing
// a consumer waits until the broker has ended the subscription.
inline constexpr uint8_t AcknowledgeModeClient = 0;
inline constexpr uint8_t AcknowledgeModeTransacted = 1;
inline constexpr uint8_t AcknowledgeModeAuto = 2;
inline constexpr uint8_t AcknowledgeModeClientIndividual = 3;

// A unit of work on a connection: creates messages, destinations, producers and consumers; a transacted
// session keeps one broker transaction open at a time.
class ISession {
 public:
  virtual ~ISession() = default;

  virtual uint8_t GetAcknowledgeMode() const = 0;
  virtual bool GetTransacted() const = 0;
  virtual void Close() = 0;
  // Commit and Rollback return once the broker has processed the transaction's end; they raise with the
  // broker's text when it refused a part of it, and Commit raises when the transaction was lost with
  // the connection (nothing of it is committed then).
  virtual void Commit() = 0;
  virtual IBytesMessagePtr CreateBytesMessage() = 0;
  virtual IMessageConsumerPtr CreateConsumer(const IDestinationPtr& Destination) = 0;
  virtual IMessageConsumerPtr CreateConsumer(const IDestinationPtr& Destination,
                                             const std::string& MessageSelector) = 0;
  virtual IMessageConsumerPtr CreateConsumer(const IDestinationPtr& Destination, const std::string& MessageSelector,
                                             bool NoLocal) = 0;
  virtual ITopicSubscriberPtr CreateDurableSubscriber(const ITopicPtr& Topic, const std::string& Name) = 0;
  virtual ITopicSubscriberPtr CreateDurableSubscriber(const ITopicPtr& Topic, const std::string& Name,
                                                      const std::string& MessageSelector, bool NoLocal) = 0;
  virtual IMessagePtr CreateMessage() = 0;
  // Destination may be nullptr (every send then names one).
  virtual IMessageProducerPtr CreateProducer(const IDestinationPtr& Destination) = 0;
  virtual IQueuePtr CreateQueue(const std::string& QueueName) = 0;
  virtual ITemporaryQueuePtr CreateTemporaryQueue() = 0;
  virtual ITemporaryTopicPtr CreateTemporaryTopic() = 0;
  // Not supported: always raises EMQException "Feature not supported".
  virtual IQueueBrowserPtr CreateBrowser(const IQueuePtr& Queue) = 0;
  virtual IObjectMessagePtr CreateObjectMessage() = 0;
  virtual IObjectMessagePtr CreateObjectMessage(const IObjectPtr& Object) = 0;
  virtual ITextMessagePtr CreateTextMessage() = 0;
  virtual IMapMessagePtr CreateMapMessage() = 0;
  virtual ITextMessagePtr CreateTextMessage(const std::string& Text) = 0;
  virtual ITopicPtr CreateTopic(const std::string& TopicName) = 0;
  virtual void Rollback() = 0;
  // Removes the durable subscription SubscriptionName of topic TopicName from the broker.
  virtual void Unsubscribe(const std::string& TopicName, const std::string& SubscriptionName) = 0;
};

// An application's handle on one broker connection.
class IConnection {
 public:
  virtual ~IConnection() = default;

  virtual std::string GetClientID() const = 0;
  virtual void SetClientID(const std::string& ClientID) = 0;
  // Connects when not connected, also after the connection was lost (a failover URL tries its whole
  // list again): then every open consumer subscribes again, and a transaction open on the lost
  // connection is lost. A consumer whose subscription the broker refuses then is closed, its receives
  // raising the broker's text.
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void Close() = 0;
  // EIllegalStateException "Connection is closed." once closed; EIllegalArgumentException for an
  // acknowledge mode beyond AcknowledgeModeClientIndividual, and for AcknowledgeModeTransacted without
  // Transacted.
  virtual ISessionPtr CreateSession(bool Transacted, uint8_t AcknowledgeMode) = 0;
  // Transacted exactly for AcknowledgeModeTransacted.
  virtual ISessionPtr CreateSession(uint8_t AcknowledgeMode) = 0;
};

using IConnectionPtr = std::shared_ptr<IConnection>;

// The message transformer and the "transformation" header values of map and object bodies.
class ITransformerSettings {
 public:
  virtual ~ITransformerSettings() = default;

  virtual IMessageTransformerPtr GetMessageTransformer() const = 0;
  virtual void SetMessageTransformer(const IMessageTransformerPtr& Transformer) = 0;
  virtual void SetMapTransformationID(const std::string& ID) = 0;
  virtual void SetObjectTransformationID(const std::string& ID) = 0;
};

// What the broker said in its CONNECTED frame.
class IConnectionInfo {
 public:
  virtual ~IConnectionInfo() = default;

  // False once the broker has closed the connection (a check that does not wait).
  virtual bool IsConnected() const = 0;
  virtual std::string GetSessionID() const = 0;
  virtual std::string GetServer() const = 0;
  // 1 = STOMP 1.0, 2 = 1.1, 3 = 1.2.
  virtual uint8_t GetProtocolVersion() const = 0;
};

// Heart-beats on the application's request, on its thread. While a call waits for the broker the
// library keeps them itself; these serve an application that spends longer than the interval outside
// the library.
class IHeartbeatControl {
 public:
  virtual ~IHeartbeatControl() = default;

  virtual void SendHeartbeat() = 0;
  virtual void CheckHeartbeat() = 0;
  // True when a heart-beat line arrived within Timeout ms.
  virtual bool WaitHeartbeat(int32_t Timeout) = 0;
};

// ---------------------------------------------------------------------------------------------------
// Simplified API
// ---------------------------------------------------------------------------------------------------

// Told the outcome of one send of the simplified producer.
class ICompletionListener {
 public:
  virtual ~ICompletionListener() = default;

  virtual void OnCompletion(const IMessagePtr& Message) = 0;
  // The send (or OnCompletion) raised Error; the producer raises it again afterwards.
  virtual void OnException(const IMessagePtr& Message, const std::exception& Error) = 0;
};

using ICompletionListenerPtr = std::shared_ptr<ICompletionListener>;

class IMQProducer;
using IMQProducerPtr = std::shared_ptr<IMQProducer>;

// A fluent producer with its own correlation id, type, reply-to and properties, stamped on every
// message it sends.
class IMQProducer {
 public:
  virtual ~IMQProducer() = default;

  virtual IMQProducerPtr SetDeliveryMode(uint8_t DeliveryMode) = 0;
  virtual IMQProducerPtr SetPriority(int32_t Priority) = 0;
  virtual IMQProducerPtr SetTimeToLive(int32_t TimeToLive) = 0;
  virtual uint8_t GetDeliveryMode() const = 0;
  virtual int32_t GetPriority() const = 0;
  virtual int32_t GetTimeToLive() const = 0;
  virtual void SetCorrelationID(const std::string& CorrelationID) = 0;
  virtual std::string GetCorrelationID() const = 0;
  virtual std::string GetType() const = 0;
  virtual void SetType(const std::string& Type) = 0;
  virtual void SetReplyTo(const IDestinationPtr& ReplyTo) = 0;
  virtual IDestinationPtr GetReplyTo() const = 0;
  virtual void ClearProperties() = 0;
  virtual PMStrings GetPropertyNames() const = 0;
  virtual bool PropertyExists(const std::string& Name) const = 0;
  virtual bool GetBooleanProperty(const std::string& Name) const = 0;
  virtual void SetBooleanProperty(const std::string& Name, bool Value) = 0;
  virtual int32_t GetIntProperty(const std::string& Name) const = 0;
  virtual void SetIntProperty(const std::string& Name, int32_t Value) = 0;
  virtual std::string GetStringProperty(const std::string& Name) const = 0;
  virtual void SetStringProperty(const std::string& Name, const std::string& Value) = 0;
  virtual IMQProducerPtr Send(const IDestinationPtr& Destination, const std::string& Text) = 0;
  virtual IMQProducerPtr Send(const IDestinationPtr& Destination, const std::string& Text,
                              const ICompletionListenerPtr& CompletionListener) = 0;
  virtual IMQProducerPtr Send(const IDestinationPtr& Destination, const IMessagePtr& Message) = 0;
  virtual IMQProducerPtr Send(const IDestinationPtr& Destination, const IMessagePtr& Message,
                              const ICompletionListenerPtr& CompletionListener) = 0;
};

// Wraps a session consumer.
class IMQConsumer {
 public:
  virtual ~IMQConsumer() = default;

  virtual void Close() = 0;
  virtual std::string GetMessageSelector() const = 0;
  virtual IMessagePtr Receive() = 0;
  virtual IMessagePtr Receive(int32_t Timeout) = 0;
  virtual IMessagePtr ReceiveNoWait() = 0;
};

using IMQConsumerPtr = std::shared_ptr<IMQConsumer>;

// One connection with one session. CreateConsumer, CreateProducer and Start start the connection first.
class IMQContext {
 public:
  virtual ~IMQContext() = default;

  virtual void Close() = 0;
  virtual void Commit() = 0;
  virtual IQueueBrowserPtr CreateBrowser(const IQueuePtr& Queue) = 0;
  virtual IBytesMessagePtr CreateBytesMessage() = 0;
  virtual IMQConsumerPtr CreateConsumer(const IDestinationPtr& Destination) = 0;
  virtual IMQConsumerPtr CreateConsumer(const IDestinationPtr& Destination, const std::string& MessageSelector) = 0;
  virtual ITopicSubscriberPtr CreateDurableConsumer(const ITopicPtr& Topic, const std::string& Name) = 0;
  virtual ITopicSubscriberPtr CreateDurableConsumer(const ITopicPtr& Topic, const std::string& Name,
                                                    const std::string& MessageSelector) = 0;
  virtual IMapMessagePtr CreateMapMessage() = 0;
  virtual IObjectMessagePtr CreateObjectMessage() = 0;
  virtual IObjectMessagePtr CreateObjectMessage(const IObjectPtr& Object) = 0;
  virtual IMQProducerPtr CreateProducer() = 0;
  virtual IQueuePtr CreateQueue(const std::string& QueueName) = 0;
  virtual ITemporaryQueuePtr CreateTemporaryQueue() = 0;
  virtual ITemporaryTopicPtr CreateTemporaryTopic() = 0;
  virtual ITextMessagePtr CreateTextMessage() = 0;
  virtual ITextMessagePtr CreateTextMessage(const std::string& Text) = 0;
  virtual ITopicPtr CreateTopic(const std::string& TopicName) = 0;
  virtual uint8_t GetSessionMode() const = 0;
  virtual std::string GetClientID() const = 0;
  virtual bool GetTransacted() const = 0;
  virtual void Rollback() = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void Unsubscribe(const std::string& TopicName, const std::string& SubscriptionName) = 0;
};

using IMQContextPtr = std::shared_ptr<IMQContext>;

// ---------------------------------------------------------------------------------------------------
// Connection factory and library information
// ---------------------------------------------------------------------------------------------------

// Makes connections and contexts; neither is started.
class IConnectionFactory {
 public:
  virtual ~IConnectionFactory() = default;

  virtual IConnectionPtr CreateConnection() = 0;
  virtual IConnectionPtr CreateConnection(const std::string& UserName, const std::string& Password) = 0;
  virtual IMQContextPtr CreateContext() = 0;
  virtual IMQContextPtr CreateContext(uint8_t SessionMode) = 0;
  virtual IMQContextPtr CreateContext(const std::string& UserName, const std::string& Password) = 0;
  virtual IMQContextPtr CreateContext(const std::string& UserName, const std::string& Password,
                                      uint8_t SessionMode) = 0;
};

using IConnectionFactoryPtr = std::shared_ptr<IConnectionFactory>;

class IClientLibraryInfo {
 public:
  virtual ~IClientLibraryInfo() = default;

  virtual std::string GetName() const = 0;
  virtual std::string GetVersion() const = 0;
  virtual std::string GetCopyright() const = 0;
  virtual IPrimitiveMapPtr GetProperties() const = 0;
};

using IClientLibraryInfoPtr = std::shared_ptr<IClientLibraryInfo>;

// How a connection factory hands out the library information.
class ILibraryInfoProvider {
 public:
  virtual ~ILibraryInfoProvider() = default;
  virtual IClientLibraryInfoPtr GetClientLibraryInfo() const = 0;
};

}  // namespace velmor
