#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ZQAbstractTransport.h"
#include "ZQDateTime.h"
#include "ZQMQInterfaces.h"
#include "ZQMessage.h"
#include "ZQQueue.h"
#include "ZQStompFrame.h"
#include "ZQStompTypes.h"

namespace velmor {

// Received headers that are stored in message fields rather than as properties. Holds "expires", not
// "expiration".
inline constexpr std::array<std::string_view, 11> StandardHeaderNames = {
    "message-id",     "correlation-id", "expires",   "persistent", "priority",   "destination",
    "content-length", "reply-to",       "timestamp", "type",       "redelivered"};

// A MESSAGE's "destination" as the application named it. RabbitMQ writes each octet below 0x20, "%"
// and each octet from 0x80 there as "%" and two upper-case hexadecimal digits (so "café" comes as
// "caf%C3%A9"); exactly those escapes are undone, any other "%" stays as it is. The "reply-to" header
// comes unencoded.
std::string DecodeRabbitMQDestination(std::string_view Header);

// A temporary queue that the broker created for a reply-to and named in a "/reply-queue/" header
// (RabbitMQ calls it "amq.gen-..."). It is sent to under "/reply-queue/" + its name again; the broker
// refuses "/temp-queue/" for it. Otherwise a temporary queue like any other (kind 2, Delete not
// supported).
class TZQReplyQueue final : public TZQTemporaryQueue {
 public:
  explicit TZQReplyQueue(std::string Name) : TZQTemporaryQueue(std::move(Name)) {}

  static ITemporaryQueuePtr Create(const std::string& Name) { return std::make_shared<TZQReplyQueue>(Name); }
};

// The broker transport for RabbitMQ's STOMP conventions: destination names ("/queue/", "/topic/",
// "/exchange/", "/amq/queue/", "/temp-queue/", "/reply-queue/"), message fields as SEND headers,
// properties as headers, bodies by message kind, the kind of a received message, "expiration" as the
// per-message time-to-live in milliseconds, durable unsubscription.
//
// Not thread-safe (as every transport). Made only by Create: the messages it builds refer back to it
// weakly, which needs shared ownership from the start.
class TZQMQTransportRabbitMQ final : public TZQAbstractTransport {
 private:
  // Only Create can name this, so only Create can construct (std::make_shared needs a public constructor).
  struct TCreateKey {
    explicit TCreateKey() = default;
  };

 public:
  // Needs a registered communication adapter (EZQNoCommAdapterInstalled otherwise).
  static std::shared_ptr<TZQMQTransportRabbitMQ> Create();

  // Builds the library message of a MESSAGE frame, keeps it as the last message and hands it to the
  // message callback. A "text/" content type gives a text message when it reads as UTF-8 text
  // (ReadsAsText), a map or object message for the connection's transformation ids; every other frame,
  // an unknown transformation or another character set among them, gives a bytes message holding the
  // body's octets unchanged.
  void OnMessageFrame(const IStompFramePtr& Frame) override;
  // UNSUBSCRIBE "id" = SubscriptionName, "persistent" "true", "auto-delete" "false" (the destination
  // name is not used); a receipt when the URL option "unsubscribe.receipt" asks for one.
  void UnsubscribeDurable(const std::string& DestinationName, const std::string& SubscriptionName) override;
  // Sends nothing for an id beginning with "/temp-queue/" or "/reply-queue/": consumers of temporary
  // queues use the destination name as their id and never subscribed.
  void Unsubscribe(const std::string& SubscriptionID) override;

  // A received positive "expiration" (ms) counts from now; 0, negative or not a number gives 0.
  TDateTime GetExpiration(const IStompFrame& Frame) const override;
  void MessageToFrame(const TZQMessage& Message, IStompFrame& Frame, TStompVersion Version,
                      std::chrono::milliseconds TimeToLive) const override;
  void MessageToFrameHeaders(const TZQMessage& Message, const TSendStamp& Stamp, IStompFrame& Frame,
                             TStompVersion Version) const override;
  // The 20 reserved header names, "expiration", which only a time-to-live of a send may produce, and
  // "receipt", which would make the broker answer the send with a RECEIPT.
  void CheckReservedProperty(const std::string& Name) const override;
  // StandardHeaderNames, and the received headers the mapping uses itself: "expiration" (read into the
  // expiration) and "receipt" (the broker's echo of the SEND's receipt request).
  bool IsStandardHeader(const std::string& Name) const override;
  IDestinationPtr CreateDestinationFromStompName(const std::string& Name) const override;
  // DecodeRabbitMQDestination of the header.
  std::string ReceivedDestinationName(const std::string& Header) const override;
  std::string GetDestinationName(const IDestinationPtr& Destination) const override;
  // A SEND with a receipt to ProbeDestination, which nobody binds: it goes through the broker's publishing
  // channel after everything written before it, so its RECEIPT comes only once those frames were
  // applied, and the broker's ERROR comes first when it refused one of them. Then the RECEIPTs Receipts,
  // which the broker sends once it has stored the messages of those SENDs.
  void ConfirmProcessed(const std::vector<std::string>& Receipts) override;
  // SUBSCRIBE with the subscription's id and durable headers, taking at most one message, then the
  // durable UNSUBSCRIBE; each waits for its receipt. Messages that arrive meanwhile go with the queue.
  void RemoveDurableSubscription(const std::string& DestinationName,
                                 const std::string& SubscriptionName) override;

  // Where ConfirmProcessed sends to: a routing key of the direct exchange, which no wildcard binding of a
  // topic consumer matches.
  static constexpr const char* ProbeDestination = "/exchange/amq.direct/velmor.client.probe";

  // For Create alone.
  explicit TZQMQTransportRabbitMQ(TCreateKey /*Key*/) {}
};

}  // namespace velmor
