#pragma once

// The interfaces of the messaging API. Objects are handed around as std::shared_ptr to these interfaces;
// asking an object for another interface is std::dynamic_pointer_cast, which gives nullptr when the
// object does not implement it.

#include <cstdint>
#include <memory>
#include <string>

#include "ZQDateTime.h"
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

  // Sends a STOMP ACK for this message on its connection, naming its subscription and transaction.
  virtual void Acknowledge() = 0;
  // Sends a STOMP NACK (STOMP 1.1 or later) with the message's extra headers.
  virtual void Nack() = 0;
};

using IMessagePtr = std::shared_ptr<IMessage>;

class ITextMessage : public virtual IMessage {
 public:
  virtual void SetText(std::string Text) = 0;
  virtual std::string GetText() const = 0;
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

}  // namespace velmor
