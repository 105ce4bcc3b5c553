#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "ZQDateTime.h"
#include "ZQMQInterfaces.h"
#include "ZQMgmtInterfaces.h"
#include "ZQPrimitiveMap.h"
#include "ZQTypes.h"

namespace velmor {

class TZQStompClient;
class TZQMessage;

// Acknowledges and rejects the messages that a consumer handed out, in the way and in the transaction
// of the consumer's session.
class IZQAcknowledger {
 public:
  virtual ~IZQAcknowledger() = default;
  virtual void Acknowledge(const TZQMessage& Message) = 0;
  virtual void Nack(const TZQMessage& Message) = 0;
};

// The four kinds of library message.
enum class TZQMessageKind : uint8_t { Text, Bytes, Object, Map };

// The "subscription" header of a received MESSAGE: one unchangeable text that the messages of a
// subscription share. Empty for a message made here.
class TSubscriptionText final {
 public:
  TSubscriptionText() = default;
  // A text of its own (none for an empty one); implicit, so that a plain text serves where one is asked.
  TSubscriptionText(std::string Text);
  TSubscriptionText(const char* Text) : TSubscriptionText(std::string(Text)) {}

  const std::string& Get() const;

 private:
  std::shared_ptr<const std::string> FText;
};

// What the message kinds share: header fields, properties, the raw body of bytes, map and object
// messages, and acknowledgement through the connection's STOMP client. Only the four kinds are ever
// created. A message is used by one thread at a time.
//
// The STOMP client is held weakly: the connection owns it, and a message may outlive its connection.
// Such a message can still be read; Acknowledge and Nack then raise EIllegalStateException and write
// nothing, and so they do once the connection is closed, and for a message received on an earlier
// connection of the client (the broker hands it out again). A message that a consumer handed out is
// settled through that consumer.
class TZQMessage : public virtual ITransactionIdSupport,
                   public virtual IExtraHeadersSupport,
                   public virtual IMessage {
 public:
  TZQMessage(const TZQMessage&) = delete;
  TZQMessage& operator=(const TZQMessage&) = delete;

  // ITransactionIdSupport
  void SetTransactionID(const std::string& ID) override { FTransactionID = ID; }
  std::string GetTransactionID() const override { return FTransactionID; }

  // IExtraHeadersSupport
  void SetExtraHeaders(const PMStrings& Headers) override { FExtraHeaders = Headers; }

  // IMessage
  void SetMessageID(const std::string& ID) override { FMessageID = ID; }
  std::string GetMessageID() const override { return FMessageID; }
  void SetDestination(const IDestinationPtr& Destination) override { FDestination = Destination; }
  IDestinationPtr GetDestination() const override { return FDestination; }
  void SetReplyTo(const IDestinationPtr& Destination) override { FReplyTo = Destination; }
  IDestinationPtr GetReplyTo() const override { return FReplyTo; }
  void SetPriority(int32_t Priority) override;
  int32_t GetPriority() const override { return FPriority; }
  void SetDeliveryMode(uint8_t Mode) override { FDeliveryMode = Mode; }
  uint8_t GetDeliveryMode() const override { return FDeliveryMode; }
  void SetRedelivered(bool Redelivered) override { FRedelivered = Redelivered; }
  bool GetRedelivered() const override { return FRedelivered; }
  void SetExpiration(TDateTime Expiration) override { FExpiration = Expiration; }
  TDateTime GetExpiration() const override { return FExpiration; }
  void SetCorrelationID(const std::string& ID) override { FCorrelationID = ID; }
  std::string GetCorrelationID() const override { return FCorrelationID; }
  std::string GetType() const override { return FType; }
  void SetType(const std::string& Type) override { FType = Type; }
  void SetTimestamp(TDateTime Timestamp) override { FTimestamp = Timestamp; }
  TDateTime GetTimestamp() const override { return FTimestamp; }

  PMStrings GetPropertyNames() const override { return FProperties.GetNames(); }
  // Every property as name and text, in first-set order.
  const TPrimitiveMapItems& GetPropertyItems() const { return FProperties.GetItems(); }
  bool GetBooleanProperty(const std::string& Name) const override { return FProperties.GetBoolean(Name); }
  void SetBooleanProperty(const std::string& Name, bool Value) override {
    FProperties.SetBoolean(Name, Value);
  }
  int32_t GetIntProperty(const std::string& Name) const override { return FProperties.GetInt(Name); }
  void SetIntProperty(const std::string& Name, int32_t Value) override { FProperties.SetInt(Name, Value); }
  std::string GetStringProperty(const std::string& Name) const override {
    return FProperties.GetString(Name);
  }
  void SetStringProperty(const std::string& Name, const std::string& Value) override {
    FProperties.SetString(Name, Value);
  }

  void Acknowledge() override;
  void Nack() override;

  // The "subscription" header of a received MESSAGE; empty for a message made here.
  const std::string& GetSubscription() const { return FSubscription.Get(); }

  // For the transport's builders: received header texts taken over instead of copied, and room for the
  // properties of a received frame.
  void SetMessageID(std::string&& ID) { FMessageID = std::move(ID); }
  void SetCorrelationID(std::string&& ID) { FCorrelationID = std::move(ID); }
  void SetType(std::string&& Type) { FType = std::move(Type); }
  void SetStringProperty(const std::string& Name, std::string&& Value) {
    FProperties.SetString(Name, std::move(Value));
  }
  void ReserveProperties(std::size_t Count) { FProperties.Reserve(Count); }

  // The id that ACK and NACK name: the message id up to STOMP 1.1, the "ack" property under STOMP 1.2.
  // Raises EIllegalStateException when the connection is gone.
  std::string GetAckID() const;
  // ACK and NACK of this message alone, naming Transaction (none when empty).
  void SendAck(const std::string& Transaction) const;
  void SendNack(const std::string& Transaction) const;
  // The connection's STOMP client, or EIllegalStateException naming the operation when it is gone or
  // no longer on the connection the message came in.
  std::shared_ptr<TZQStompClient> RequireTransport(const char* Operation) const;

  // The client's connection this message was received on (see TZQStompClient::GetConnectionNumber); 0
  // for a message not received.
  void SetConnectionNumber(uint64_t Number) { FConnectionNumber = Number; }
  uint64_t GetConnectionNumber() const { return FConnectionNumber; }
  // The consumer that handed the message out and its count of the delivery; Acknowledge and Nack go
  // through it, also once it is closed: it settles the message as its session does. The message holds
  // it (the consumer holds no message).
  void SetAcknowledger(std::shared_ptr<IZQAcknowledger> Acknowledger, uint64_t Delivery) {
    FAcknowledger = std::move(Acknowledger);
    FDelivery = Delivery;
  }
  uint64_t GetDelivery() const { return FDelivery; }

  // The message's kind: the send path chooses headers by it.
  virtual TZQMessageKind GetKind() const = 0;
  // The body as it goes out, without a copy: the raw content here, the text of a text message.
  virtual const std::string& GetBodyRef() const { return FContent; }
  // Fields that a send reads, without a copy.
  const std::string& GetCorrelationIDRef() const { return FCorrelationID; }
  const std::string& GetTypeRef() const { return FType; }
  const std::string& GetTransactionIDRef() const { return FTransactionID; }

  // The NACK headers, "name=value" each, in order.
  const PMStrings& GetExtraHeaders() const { return FExtraHeaders; }

  // The size of the MESSAGE frame the message was built from, as received (command, header lines and
  // body); 0 for a message that was not received.
  std::size_t GetReceivedOctets() const { return FReceivedOctets; }
  void SetReceivedOctets(std::size_t Octets) { FReceivedOctets = Octets; }

 protected:
  // Transport: the STOMP client of the connection the message belongs to (may be empty for a message
  // that will never be acknowledged). Subscription: the "subscription" header of a received MESSAGE.
  explicit TZQMessage(std::weak_ptr<TZQStompClient> Transport);
  TZQMessage(std::weak_ptr<TZQStompClient> Transport, TSubscriptionText Subscription);
  TZQMessage(std::weak_ptr<TZQStompClient> Transport, std::string Content, TSubscriptionText Subscription);

  // Raw body of bytes, map and object messages.
  std::string FContent;

 private:
  // The connection's STOMP client, or EIllegalStateException naming the operation when it is gone.
  std::shared_ptr<TZQStompClient> LockTransport(const char* Operation) const;
  // EIllegalStateException naming the operation when the connection is gone or was closed.
  void RequireOpenConnection(const char* Operation) const;
  std::string AckIDFor(const TZQStompClient& Transport) const;

  std::string FMessageID;
  std::string FCorrelationID;
  TDateTime FExpiration = 0;
  uint8_t FDeliveryMode = 0;
  int32_t FPriority = 0;
  IDestinationPtr FReplyTo;
  IDestinationPtr FDestination;
  TDateTime FTimestamp = 0;
  bool FRedelivered = false;
  std::string FType;
  TSubscriptionText FSubscription;
  std::string FTransactionID;
  std::weak_ptr<TZQStompClient> FTransport;
  uint64_t FConnectionNumber = 0;
  std::shared_ptr<IZQAcknowledger> FAcknowledger;
  uint64_t FDelivery = 0;
  PMStrings FExtraHeaders;
  TPrimitiveMap FProperties;
  std::size_t FReceivedOctets = 0;
};

// The library message that Message is, found by its class (one of the four kinds) without searching the
// class hierarchy as a cross-cast would; nullptr for a message of another implementation.
const TZQMessage* AsLibraryMessage(const IMessage& Message);
inline TZQMessage* AsLibraryMessage(IMessage& Message) {
  return const_cast<TZQMessage*>(AsLibraryMessage(std::as_const(Message)));
}

}  // namespace velmor
