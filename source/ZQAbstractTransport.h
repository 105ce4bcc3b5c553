#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ZQDateTime.h"
#include "ZQMQInterfaces.h"
#include "ZQMessage.h"
#include "ZQStompClient.h"
#include "ZQStompFrame.h"
#include "ZQStompTypes.h"

namespace velmor {

// The delivery fields of one send, read in place of the message's own: a session sends the application's
// message object itself and stamps only these.
struct TSendStamp {
  uint8_t DeliveryMode;
  int32_t Priority;
  // The open transaction's id; empty outside a transaction.
  const std::string& TransactionID;
  // Positive: RabbitMQ's per-message "expiration" in milliseconds; 0 or less sends none.
  std::chrono::milliseconds TimeToLive;
  // Leaves out the properties that only described the message's delivery to this client ("ack",
  // "subscription", "content-type", "transformation"), so that a received message can be sent on as it
  // is.
  bool OmitDeliveryProperties;

  // The message's own fields, all properties kept.
  static TSendStamp Of(const TZQMessage& Message, std::chrono::milliseconds TimeToLive);
};

// True for the properties that OmitDeliveryProperties leaves out.
bool IsDeliveryProperty(std::string_view Name);

// The message callback of a transport: called with every message built from a MESSAGE frame, on the
// thread of the receive call that read the frame.
using TMessageEvent = std::function<void(const IMessagePtr& Message)>;

// Where the messaging API meets the STOMP client: sends library messages as SEND frames, reads one
// frame at a time on behalf of a consumer and turns MESSAGE frames into library messages. A broker
// mapping (TZQMQTransportRabbitMQ) decides names, headers and bodies through the abstract operations.
//
// One transport serves one connection. Not thread-safe: it has one socket and one last-message slot,
// so sends and receives on one connection must not overlap. Held by std::shared_ptr (the messages it
// builds refer back to it weakly).
class TZQAbstractTransport : public TZQStompClient {
 public:
  // --- Sending ---

  // Sends a library message to the broker destination DestinationName.
  // TimeToLive is the time-to-live of this send: a positive one goes out as RabbitMQ's per-message
  // "expiration" in milliseconds; 0 or less sends none (the message's own expiration is never sent).
  // SendTimeout is the socket send time-out in ms (-1 leaves it unchanged). Every kind of body goes with
  // "content-length". A persistent message asks for a receipt: outside a transaction the send waits for
  // it, inside one the COMMIT does.
  void Send(const TZQMessage& Message, const std::string& DestinationName, int32_t SendTimeout,
            std::chrono::milliseconds TimeToLive = std::chrono::milliseconds{0});
  // The same with the delivery fields of Stamp in place of the message's own.
  void Send(const TZQMessage& Message, const TSendStamp& Stamp, const std::string& DestinationName,
            int32_t SendTimeout);
  // The send itself. OmitContentLength asks for no "content-length"; it is sent all the same when the
  // body holds a NUL octet, which would otherwise end the frame early.
  void SendMessage(const TZQMessage& Message, const TSendStamp& Stamp, const std::string& DestinationName,
                   bool OmitContentLength, int32_t SendTimeout);
  // A name holding both "?" and "=" carries options, which a SEND must not: EMQException.
  static void CheckDestinationName(const std::string& DestinationName);

  // --- Receiving ---

  // Each returns the message built from the next MESSAGE frame, or nullptr when the frame read was
  // another command or (with a time-out) none arrived in time. MESSAGE frames that a receipt wait kept
  // are handed out first, oldest first, before anything is read from the socket.
  // Receive waits without limit for a frame.
  IMessagePtr Receive();
  // Waits at most Timeout ms (below 1 counts as 1).
  IMessagePtr Receive(int32_t Timeout);
  // Reads a frame only when one is there at once.
  IMessagePtr ReceiveNoWait();

  // The message built from the MESSAGE frame read by the current receive call; nullptr otherwise.
  const IMessagePtr& GetLastMessage() const { return FLastMessage; }

  // The handler must not hold the connection strongly: the transport owns it, so that would be a cycle.
  void SetOnMessage(TMessageEvent Handler) { FOnMessage = std::move(Handler); }

  // The "transformation" header values that mark map and object bodies (both empty at creation). The
  // connection keeps them different.
  void SetMapTransformationID(const std::string& ID) { FMapTransformationID = ID; }
  const std::string& GetMapTransformationID() const { return FMapTransformationID; }
  void SetObjectTransformationID(const std::string& ID) { FObjectTransformationID = ID; }
  const std::string& GetObjectTransformationID() const { return FObjectTransformationID; }

  // --- Frame to message ---

  // Builders for a received MESSAGE frame; Subscription is its "subscription" header. The body and the
  // header texts move from the frame into the message, leaving them empty in the frame. The messages of
  // one subscription share its text and, while it stays the same, their destination object.
  IMessagePtr CreateTextMessage(IStompFrame& Frame, const std::string& Subscription);
  IMessagePtr CreateBytesMessage(IStompFrame& Frame, const std::string& Subscription);
  IMessagePtr CreateObjectMessage(IStompFrame& Frame, const std::string& Subscription);
  IMessagePtr CreateMapMessage(IStompFrame& Frame, const std::string& Subscription);
  // Whether a body of ContentType reads as UTF-8 text: a content type without a "charset" parameter, or
  // one whose "charset" names UTF-8, in any letter case, quoted or not.
  static bool ReadsAsText(std::string_view ContentType);
  // A text body must be UTF-8 (ReadsAsText), else EMQException "Unsupported content type %s".
  static void CheckContentType(const std::string& ContentType);
  // Standard headers into the message fields (Destination is the object of the "destination" header),
  // every other header into a string property.
  void CopyStandardHeaders(TZQMessage& Message, IStompFrame& Frame, const IDestinationPtr& Destination);
  void CopyProperties(TZQMessage& Message, IStompFrame& Frame) const;
  bool IsMapTransformation(const std::string& Value) const { return Value == FMapTransformationID; }
  bool IsObjectTransformation(const std::string& Value) const { return Value == FObjectTransformationID; }

  // The broker name of a destination without its options (cut before the first "?").
  std::string GetPlainDestinationName(const IDestinationPtr& Destination) const;

  // --- What a broker mapping decides ---

  // The expiration of a received frame (0 for none).
  virtual TDateTime GetExpiration(const IStompFrame& Frame) const = 0;
  // Fills the empty Frame with the SEND headers and body of Message; TimeToLive is that of this send.
  virtual void MessageToFrame(const TZQMessage& Message, IStompFrame& Frame, TStompVersion Version,
                              std::chrono::milliseconds TimeToLive) const = 0;
  // The headers of MessageToFrame alone, with the delivery fields of Stamp: the send takes the body from
  // the message itself.
  virtual void MessageToFrameHeaders(const TZQMessage& Message, const TSendStamp& Stamp, IStompFrame& Frame,
                                     TStompVersion Version) const = 0;
  // Refuses a property name that the broker would read as a header of its own (EZQReservedProperty).
  virtual void CheckReservedProperty(const std::string& Name) const = 0;
  // True for a received header that is stored in a message field (or used otherwise), not as a property.
  virtual bool IsStandardHeader(const std::string& Name) const = 0;
  // A received "destination" or "reply-to" to a destination object; EMQException when it has no known
  // form.
  virtual IDestinationPtr CreateDestinationFromStompName(const std::string& Name) const = 0;
  // The destination name a received MESSAGE's "destination" header stands for: the header as it is,
  // unless the broker encodes names there.
  virtual std::string ReceivedDestinationName(const std::string& Header) const { return Header; }
  // The broker name of a destination object.
  virtual std::string GetDestinationName(const IDestinationPtr& Destination) const = 0;
  // Returns once the broker has processed every frame written before (a COMMIT replays its frames only
  // then) and has sent the RECEIPTs Receipts (those of a committed transaction's SENDs); raises with the
  // broker's ERROR when it refused one of the frames, and when no answer comes within the send receipt
  // time-out.
  virtual void ConfirmProcessed(const std::vector<std::string>& Receipts) = 0;
  // Removes the durable subscription SubscriptionName of the topic DestinationName that no subscriber of
  // this connection has open, with its queue; raises with the broker's ERROR when it refuses.
  virtual void RemoveDurableSubscription(const std::string& DestinationName,
                                         const std::string& SubscriptionName) = 0;

 protected:
  // Takes the adapter registry's default adapter; EZQNoCommAdapterInstalled "No communication adapter
  // registered" when none is registered.
  TZQAbstractTransport();

  // Stores a built message as the last message and offers it to the message callback.
  void DeliverMessage(const IMessagePtr& Message);
  // Clears the last message (every receive call and every MESSAGE frame starts so).
  void ClearLastMessage() { FLastMessage.reset(); }

 private:
  // One receive call: clears the last message, then hands out the oldest MESSAGE frame kept by a receipt
  // wait or, when there is none, reads through Read. Returns the last message.
  template <class TRead>
  IMessagePtr ReceiveOne(TRead&& Read);

  // What the received messages of one subscription share: its text, and the destination object of the
  // "destination" header they came with last.
  struct TSubscriptionShare {
    TSubscriptionText Subscription;
    std::string DestinationName;
    IDestinationPtr Destination;
  };
  // The share of Subscription, its destination made for DestinationName when that changed (the
  // mapping's errors pass through). The shares of at most MaxSubscriptionShares subscriptions are kept;
  // a new one takes the place of the oldest.
  const TSubscriptionShare& ShareFor(const std::string& Subscription, const std::string& DestinationName);
  static constexpr std::size_t MaxSubscriptionShares = 16;

  TMessageEvent FOnMessage;
  // Carries the headers of each SEND to the client; kept from send to send, so its list keeps its room.
  TZQStompFrame FSendHeaders;
  std::string FMapTransformationID;
  std::string FObjectTransformationID;
  IMessagePtr FLastMessage;
  std::vector<TSubscriptionShare> FSubscriptionShares;
  std::size_t FOldestShare = 0;
};

// Destination, then "?" (when it holds none yet) or "&", then Name "=" Value; nothing is escaped.
std::string AppendDestinationParam(const std::string& Destination, const std::string& Name,
                                   const std::string& Value);

}  // namespace velmor
