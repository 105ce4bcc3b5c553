#include "ZQMQTransportRabbitMQ.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "ZQDestination.h"
#include "ZQExceptions.h"
#include "ZQPrimitiveMap.h"
#include "ZQText.h"
#include "ZQTopic.h"

namespace velmor {

namespace {

bool StartsWithIgnoringCase(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameTextAscii(Text.substr(0, Prefix.size()), Prefix);
}

constexpr double MillisPerDay = 86400000.0;

// The value of an upper-case hexadecimal digit, -1 for any other octet.
int UpperHexDigit(char C) {
  if (C >= '0' && C <= '9')
    return C - '0';
  if (C >= 'A' && C <= 'F')
    return C - 'A' + 10;
  return -1;
}

// The octets RabbitMQ escapes in a received destination.
bool EscapedByRabbitMQ(int Octet) {
  return Octet < 0x20 || Octet == '%' || Octet >= 0x80;
}

// The received names that IsStandardHeader takes besides StandardHeaderNames.
constexpr std::array<std::string_view, 2> OwnHeaderNames = {"expiration", "receipt"};

// The names that IsStandardHeader takes, by their length: a received name is compared only with those
// of its own length.
struct TNamesOfALength {
  std::array<std::string_view, 3> Names{};
  std::size_t Count = 0;
};
constexpr std::array<TNamesOfALength, 16> StandardNamesByLength = [] {
  std::array<TNamesOfALength, 16> byLength{};
  const auto add = [&byLength](std::string_view Name) {
    TNamesOfALength& names = byLength.at(Name.size());
    names.Names.at(names.Count++) = Name;
  };
  for (const std::string_view name : StandardHeaderNames)
    add(name);
  for (const std::string_view name : OwnHeaderNames)
    add(name);
  return byLength;
}();

}  // namespace

std::string DecodeRabbitMQDestination(std::string_view Header) {
  std::string name;
  name.reserve(Header.size());
  for (size_t i = 0; i < Header.size(); ++i) {
    if (Header[i] == '%' && i + 2 < Header.size()) {
      const int high = UpperHexDigit(Header[i + 1]);
      const int low = UpperHexDigit(Header[i + 2]);
      if (high >= 0 && low >= 0 && EscapedByRabbitMQ(high * 16 + low)) {
        name.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    name.push_back(Header[i]);
  }
  return name;
}

std::shared_ptr<TZQMQTransportRabbitMQ> TZQMQTransportRabbitMQ::Create() {
  return std::make_shared<TZQMQTransportRabbitMQ>(TCreateKey{});
}

// --- Destination names ---

namespace {

// The broker's name of Destination.
std::string BrokerNameOf(const IDestinationPtr& Destination) {
  if (!Destination) {
    throw EMQException("Destination is unassigned");
  }
  switch (Destination->GetDestinationKind()) {
    case DestinationKindQueue: {
      const std::string name = DestinationAsQueue(Destination)->GetQueueName();
      if (StartsWithIgnoringCase(name, "/exchange/")) {
        return name;
      }
      if (HasPrefix(name, "amq.gen")) {
        return "/reply-queue/" + name;
      }
      if (StartsWithIgnoringCase(name, "/amq/queue/")) {
        return name;
      }
      return "/queue/" + name;
    }
    case DestinationKindTopic: {
      const std::string name = DestinationAsTopic(Destination)->GetTopicName();
      if (StartsWithIgnoringCase(name, "/exchange/")) {
        return name;
      }
      return "/topic/" + name;
    }
    case DestinationKindTemporaryQueue: {
      const ITemporaryQueuePtr queue = DestinationAsTemporaryQueue(Destination);
      if (dynamic_cast<const TZQReplyQueue*>(queue.get()) != nullptr) {
        return "/reply-queue/" + queue->GetQueueName();
      }
      return "/temp-queue/" + queue->GetQueueName();
    }
    default:
      throw EMQException("GetDestinationName");
  }
}

// The length of the "destination" line in which the broker delivers what was sent to Name: it writes
// the octets it escapes as "%XX", and the version's escaping may double ":" and "\".
std::size_t DeliveredLineLength(std::string_view Name) {
  std::size_t length = std::string_view("destination:").size();
  for (const char c : Name.substr(0, Name.find('?'))) {
    length += EscapedByRabbitMQ(static_cast<unsigned char>(c)) ? 3 : (c == ':' || c == '\\') ? 2 : 1;
  }
  return length;
}

}  // namespace

std::string TZQMQTransportRabbitMQ::GetDestinationName(const IDestinationPtr& Destination) const {
  std::string name = BrokerNameOf(Destination);
  // A name that the receive side could not read back in a delivery is refused before anything is sent.
  if (DeliveredLineLength(name) > MaxHeaderLineLength) {
    throw EIllegalArgumentException(
        Format("Header \"destination\" cannot be encoded: the broker would deliver it in a line longer "
               "than %d octets",
               {int64_t{MaxHeaderLineLength}}));
  }
  return name;
}

IDestinationPtr TZQMQTransportRabbitMQ::CreateDestinationFromStompName(const std::string& Name) const {
  if (HasPrefix(Name, "/topic/")) {
    return TZQTopic::Create(Name.substr(7));
  }
  if (HasPrefix(Name, "/exchange/")) {
    return TZQTopic::Create(Name);
  }
  if (HasPrefix(Name, "/queue/")) {
    return TZQQueue::Create(Name.substr(7));
  }
  if (HasPrefix(Name, "/reply-queue/")) {
    return TZQReplyQueue::Create(Name.substr(13));
  }
  // The broker passes such a name through as it was sent (this library sends it for queues so named);
  // a queue keeping the whole name is sent to under it again.
  if (HasPrefix(Name, "/amq/queue/")) {
    return TZQQueue::Create(Name);
  }
  throw EMQException(Format("CreateDestinationFromStompName for \"%s\" failed", {Name}));
}

std::string TZQMQTransportRabbitMQ::ReceivedDestinationName(const std::string& Header) const {
  return DecodeRabbitMQDestination(Header);
}

// --- Sending ---

void TZQMQTransportRabbitMQ::CheckReservedProperty(const std::string& Name) const {
  for (const std::string_view reserved : ReservedHeaderNames) {
    if (Name == reserved) {
      throw EZQReservedProperty(Format("%s is a reserved property name", {Name}));
    }
  }
  // "expiration" is a time-to-live of the send alone, and "receipt" would ask the broker for a RECEIPT.
  if (Name == "expiration" || Name == "receipt") {
    throw EZQReservedProperty(Format("%s is a reserved property name", {Name}));
  }
}

void TZQMQTransportRabbitMQ::MessageToFrame(const TZQMessage& Message, IStompFrame& Frame,
                                            TStompVersion Version,
                                            std::chrono::milliseconds TimeToLive) const {
  MessageToFrameHeaders(Message, TSendStamp::Of(Message, TimeToLive), Frame, Version);
  // Content held in std::string is UTF-8 already, so map and object contents go unchanged.
  Frame.SetBody(Message.GetBodyRef());
}

void TZQMQTransportRabbitMQ::MessageToFrameHeaders(const TZQMessage& Message, const TSendStamp& Stamp,
                                                   IStompFrame& Frame, TStompVersion /*Version*/) const {
  const std::string& correlationID = Message.GetCorrelationIDRef();
  if (!correlationID.empty()) {
    Frame.AddHeader("correlation-id", correlationID);
  }
  // RabbitMQ's per-message time-to-live, in milliseconds from now; only the time-to-live of this send
  // produces it (an absolute expiration of the message is not a time-to-live).
  if (Stamp.TimeToLive.count() > 0) {
    Frame.AddHeader("expiration", std::to_string(Stamp.TimeToLive.count()));
  }
  if (Stamp.DeliveryMode == 1) {
    Frame.AddHeader("persistent", "true");
  }
  if (Stamp.Priority != 0) {
    Frame.AddHeader("priority", std::to_string(Stamp.Priority));
  }
  const IDestinationPtr replyTo = Message.GetReplyTo();
  if (replyTo) {
    Frame.AddHeader("reply-to", GetPlainDestinationName(replyTo));
  }
  const std::string& type = Message.GetTypeRef();
  if (!type.empty()) {
    Frame.AddHeader("type", type);
  }
  if (!Stamp.TransactionID.empty()) {
    Frame.AddHeader("transaction", Stamp.TransactionID);
  }
  for (const TPrimitiveMapItem& property : Message.GetPropertyItems()) {
    if (Stamp.OmitDeliveryProperties && IsDeliveryProperty(property.Name))
      continue;
    CheckReservedProperty(property.Name);
    Frame.AddHeader(property.Name, property.Value);
  }

  switch (Message.GetKind()) {
    case TZQMessageKind::Text:
      Frame.AddHeader("content-type", "text/plain");
      return;
    case TZQMessageKind::Bytes:
      Frame.AddHeader("content-type", "application/octet-stream");
      return;
    case TZQMessageKind::Object:
      Frame.AddHeader("content-type", "text/plain");
      Frame.AddHeader("transformation", GetObjectTransformationID());
      return;
    case TZQMessageKind::Map:
      Frame.AddHeader("content-type", "text/plain");
      Frame.AddHeader("transformation", GetMapTransformationID());
      return;
  }
  throw EMQException("Unsupported Message Type");
}

// --- Receiving ---

bool TZQMQTransportRabbitMQ::IsStandardHeader(const std::string& Name) const {
  if (Name.size() >= StandardNamesByLength.size()) {
    return false;
  }
  const TNamesOfALength& names = StandardNamesByLength[Name.size()];
  for (std::size_t i = 0; i < names.Count; ++i) {
    if (Name == names.Names[i]) {
      return true;
    }
  }
  return false;
}

TDateTime TZQMQTransportRabbitMQ::GetExpiration(const IStompFrame& Frame) const {
  const std::string* expiration = Frame.FindHeader("expiration");
  const int64_t value = expiration != nullptr ? StrToInt64Def(*expiration, 0) : 0;
  if (value <= 0) {
    return 0;
  }
  return NowUTC() + static_cast<double>(value) / MillisPerDay;
}

void TZQMQTransportRabbitMQ::OnMessageFrame(const IStompFramePtr& Frame) {
  ClearLastMessage();
  // Measured before the body moves into the message.
  const std::size_t octets = ReceivedOctets(*Frame);
  const std::string& subscription = Frame->HeaderOrEmpty("subscription");
  const std::string* contentType = Frame->FindHeader("content-type");
  IMessagePtr message;
  if (contentType != nullptr && HasPrefix(*contentType, "text/")) {
    const std::string& transformation = Frame->HeaderOrEmpty("transformation");
    if (transformation.empty()) {
      if (ReadsAsText(*contentType))
        message = CreateTextMessage(*Frame, subscription);
    } else if (IsObjectTransformation(transformation)) {
      message = CreateObjectMessage(*Frame, subscription);
    } else if (IsMapTransformation(transformation)) {
      message = CreateMapMessage(*Frame, subscription);
    }
  }
  // A body that cannot be read as its headers announce (text in another character set, a
  // transformation this connection does not know) comes as bytes, with those headers among its
  // properties: the broker counts it as delivered, so it must reach the application, which can still
  // read, acknowledge or reject it.
  if (!message)
    message = CreateBytesMessage(*Frame, subscription);
  if (TZQMessage* library = AsLibraryMessage(*message)) {
    library->SetReceivedOctets(octets);
  }
  DeliverMessage(message);
}

// --- Unsubscribing ---

namespace {

// The UNSUBSCRIBE that makes the broker remove a durable subscription's queue.
IStompFramePtr DurableUnsubscribeFrame(const std::string& SubscriptionName) {
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("UNSUBSCRIBE");
  frame->AddHeader("id", SubscriptionName);
  frame->AddHeader("persistent", "true");
  frame->AddHeader("auto-delete", "false");
  return frame;
}

}  // namespace

void TZQMQTransportRabbitMQ::UnsubscribeDurable(const std::string& /*DestinationName*/,
                                                const std::string& SubscriptionName) {
  Trace("UnsubscribeDurable");
  SendWithReceipt(DurableUnsubscribeFrame(SubscriptionName));
}

void TZQMQTransportRabbitMQ::RemoveDurableSubscription(const std::string& DestinationName,
                                                       const std::string& SubscriptionName) {
  Trace("RemoveDurableSubscription");
  // The broker removes a durable subscription's queue only through a subscription of this connection.
  const IStompFramePtr subscribe = TZQStompFrame::CreateForCommand("SUBSCRIBE");
  subscribe->AddHeader("destination", DestinationName);
  subscribe->AddHeader("ack", AckModeName(AckModeClientIndividual));
  subscribe->AddHeader("id", SubscriptionName);
  subscribe->AddHeader("persistent", "true");
  subscribe->AddHeader("auto-delete", "false");
  subscribe->AddHeader("prefetch-count", "1");
  SendWithReceipt(subscribe, true);
  SendWithReceipt(DurableUnsubscribeFrame(SubscriptionName), true);
  DropPendingMessageFrames(SubscriptionName);
}

void TZQMQTransportRabbitMQ::ConfirmProcessed(const std::vector<std::string>& Receipts) {
  // The broker answers the probe once it has processed the frames before it, but it confirms a stored
  // persistent message later: the RECEIPTs may come in any order.
  std::vector<std::string> awaited{WriteSend(ProbeDestination, {}, {}, true, true, -1)};
  awaited.insert(awaited.end(), Receipts.begin(), Receipts.end());
  WaitForReceipts(std::move(awaited), "send.receipt.timeout");
}

void TZQMQTransportRabbitMQ::Unsubscribe(const std::string& SubscriptionID) {
  if (HasPrefix(SubscriptionID, "/temp-queue/") || HasPrefix(SubscriptionID, "/reply-queue/")) {
    return;
  }
  TZQStompClient::Unsubscribe(SubscriptionID);
}

}  // namespace velmor
