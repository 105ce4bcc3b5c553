#include "ZQAbstractTransport.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>

#include "ZQAdapterRegistry.h"
#include "ZQBytesMessage.h"
#include "ZQExceptions.h"
#include "ZQMapMessage.h"
#include "ZQObjectMessage.h"
#include "ZQText.h"
#include "ZQTextMessage.h"

namespace velmor {

namespace {

// The value of the first header named exactly Name, taken out of the frame; empty when there is none.
std::string TakeHeader(IStompFrame& Frame, std::string_view Name) {
  for (TStompHeaderItem& item : Frame.GetHeaders()) {
    if (item.Name == Name) {
      return std::move(item.Value);
    }
  }
  return std::string();
}

// Properties of a received message that only described its delivery to this client ("ack" and
// "subscription" name this client's subscription, "content-type" and "transformation" the body it
// came with).
constexpr std::array<std::string_view, 4> DeliveryPropertyNames = {"ack", "subscription", "content-type",
                                                                   "transformation"};

}  // namespace

TSendStamp TSendStamp::Of(const TZQMessage& Message, std::chrono::milliseconds TimeToLive) {
  return {Message.GetDeliveryMode(), Message.GetPriority(), Message.GetTransactionIDRef(), TimeToLive, false};
}

bool IsDeliveryProperty(std::string_view Name) {
  return std::find(DeliveryPropertyNames.begin(), DeliveryPropertyNames.end(), Name) !=
         DeliveryPropertyNames.end();
}

TZQAbstractTransport::TZQAbstractTransport() {
  if (AdapterClassCount() < 1) {
    throw EZQNoCommAdapterInstalled("No communication adapter registered");
  }
  Trace("Set default communication adapter");
  SetCommAdapter(CreateDefaultAdapter());
}

// --- Sending ---

void TZQAbstractTransport::Send(const TZQMessage& Message, const std::string& DestinationName,
                                int32_t SendTimeout, std::chrono::milliseconds TimeToLive) {
  Send(Message, TSendStamp::Of(Message, TimeToLive), DestinationName, SendTimeout);
}

void TZQAbstractTransport::Send(const TZQMessage& Message, const TSendStamp& Stamp,
                                const std::string& DestinationName, int32_t SendTimeout) {
  // Every body goes with "content-length": without it the broker searches the whole body for its end,
  // which costs it dearly on large ones. Receivers tell the kinds apart by "content-type" alone.
  switch (Message.GetKind()) {
    case TZQMessageKind::Text:
    case TZQMessageKind::Bytes:
    case TZQMessageKind::Object:
    case TZQMessageKind::Map:
      SendMessage(Message, Stamp, DestinationName, false, SendTimeout);
      return;
  }
  throw EMQException("Unsupported Message Type");
}

void TZQAbstractTransport::SendMessage(const TZQMessage& Message, const TSendStamp& Stamp,
                                       const std::string& DestinationName, bool OmitContentLength,
                                       int32_t SendTimeout) {
  CheckDestinationName(DestinationName);
  // The frame only carries the header list to the client's SEND; the body is encoded from the message.
  TStompHeaders& headers = FSendHeaders.GetHeaders();
  headers.clear();
  MessageToFrameHeaders(Message, Stamp, FSendHeaders, GetVersion());
  const std::string& body = Message.GetBodyRef();
  // Without "content-length" the broker ends the body at its first NUL octet.
  if (OmitContentLength && body.find('\0') != std::string::npos) {
    OmitContentLength = false;
  }
  // A persistent message waits for its receipt, which the broker sends once it has stored the message;
  // inside a transaction the COMMIT waits for it, since the broker stores the message only then.
  const bool forceReceipt = Stamp.DeliveryMode == 1;
  TZQStompClient::Send(DestinationName, body, headers, OmitContentLength, forceReceipt, SendTimeout);
}

void TZQAbstractTransport::CheckDestinationName(const std::string& DestinationName) {
  if (DestinationName.find('?') != std::string::npos && DestinationName.find('=') != std::string::npos) {
    throw EMQException("Destination must not contain parameters");
  }
}

// --- Receiving ---

template <class TRead>
IMessagePtr TZQAbstractTransport::ReceiveOne(TRead&& Read) {
  ClearLastMessage();
  if (!DispatchPendingMessageFrame()) {
    Read();
  }
  return FLastMessage;
}

IMessagePtr TZQAbstractTransport::Receive() {
  return ReceiveOne([this] { Adapter().Receive(); });
}

IMessagePtr TZQAbstractTransport::Receive(int32_t Timeout) {
  return ReceiveOne([this, Timeout] { Adapter().ReadOneMessage(Timeout, false); });
}

IMessagePtr TZQAbstractTransport::ReceiveNoWait() {
  return ReceiveOne([this] { Adapter().Poll(); });
}

void TZQAbstractTransport::DeliverMessage(const IMessagePtr& Message) {
  FLastMessage = Message;
  if (FOnMessage) {
    FOnMessage(Message);
  }
}

// --- Frame to message ---

bool TZQAbstractTransport::ReadsAsText(std::string_view ContentType) {
  // Runs on every received text message: the parameters are looked at where they lie, without copies.
  std::size_t start = ContentType.find(';');
  if (start == std::string_view::npos)
    return true;
  while (start < ContentType.size()) {
    // A parameter runs to the next ";" outside double quotes.
    std::size_t end = start + 1;
    for (bool quoted = false; end < ContentType.size() && (quoted || ContentType[end] != ';'); ++end) {
      if (ContentType[end] == '"')
        quoted = !quoted;
    }
    const std::string_view parameter = ContentType.substr(start + 1, end - start - 1);
    const std::size_t equals = parameter.find('=');
    if (equals != std::string_view::npos &&
        SameTextAscii(TrimBlanks(parameter.substr(0, equals)), "charset")) {
      std::string_view value = TrimBlanks(parameter.substr(equals + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      return SameTextAscii(value, "utf-8");
    }
    start = end;
  }
  // Without a charset a text type is UTF-8, the encoding STOMP implies for every "text/" type.
  return true;
}

void TZQAbstractTransport::CheckContentType(const std::string& ContentType) {
  if (!ReadsAsText(ContentType))
    throw EMQException(Format("Unsupported content type %s", {ContentType}));
}

const TZQAbstractTransport::TSubscriptionShare& TZQAbstractTransport::ShareFor(
    const std::string& Subscription, const std::string& DestinationName) {
  auto share =
      std::find_if(FSubscriptionShares.begin(), FSubscriptionShares.end(),
                   [&](const TSubscriptionShare& Item) { return Item.Subscription.Get() == Subscription; });
  if (share == FSubscriptionShares.end()) {
    if (FSubscriptionShares.size() < MaxSubscriptionShares) {
      share = FSubscriptionShares.emplace(FSubscriptionShares.end());
    } else {
      share = FSubscriptionShares.begin() + static_cast<std::ptrdiff_t>(FOldestShare);
      FOldestShare = (FOldestShare + 1) % MaxSubscriptionShares;
    }
    *share = TSubscriptionShare{Subscription, std::string(), nullptr};
  }
  if (!share->Destination || share->DestinationName != DestinationName) {
    IDestinationPtr destination = CreateDestinationFromStompName(ReceivedDestinationName(DestinationName));
    share->DestinationName = DestinationName;
    share->Destination = std::move(destination);
  }
  return *share;
}

IMessagePtr TZQAbstractTransport::CreateTextMessage(IStompFrame& Frame, const std::string& Subscription) {
  CheckContentType(Frame.HeaderOrEmpty("content-type"));
  const TSubscriptionShare& share = ShareFor(Subscription, Frame.HeaderOrEmpty("destination"));
  auto message = std::make_shared<TZQTextMessage>(weak_from_this(), share.Subscription);
  message->SetConnectionNumber(GetConnectionNumber());
  CopyStandardHeaders(*message, Frame, share.Destination);
  message->SetText(Frame.TakeBody());
  return message;
}

IMessagePtr TZQAbstractTransport::CreateBytesMessage(IStompFrame& Frame, const std::string& Subscription) {
  const TSubscriptionShare& share = ShareFor(Subscription, Frame.HeaderOrEmpty("destination"));
  auto message = std::make_shared<TZQBytesMessage>(weak_from_this(), Frame.TakeBody(), share.Subscription);
  message->SetConnectionNumber(GetConnectionNumber());
  CopyStandardHeaders(*message, Frame, share.Destination);
  return message;
}

IMessagePtr TZQAbstractTransport::CreateObjectMessage(IStompFrame& Frame, const std::string& Subscription) {
  const TSubscriptionShare& share = ShareFor(Subscription, Frame.HeaderOrEmpty("destination"));
  auto message = std::make_shared<TZQObjectMessage>(weak_from_this(), Frame.TakeBody(), share.Subscription);
  message->SetConnectionNumber(GetConnectionNumber());
  CopyStandardHeaders(*message, Frame, share.Destination);
  return message;
}

IMessagePtr TZQAbstractTransport::CreateMapMessage(IStompFrame& Frame, const std::string& Subscription) {
  const TSubscriptionShare& share = ShareFor(Subscription, Frame.HeaderOrEmpty("destination"));
  auto message = std::make_shared<TZQMapMessage>(weak_from_this(), Frame.TakeBody(), share.Subscription);
  message->SetConnectionNumber(GetConnectionNumber());
  CopyStandardHeaders(*message, Frame, share.Destination);
  return message;
}

void TZQAbstractTransport::CopyStandardHeaders(TZQMessage& Message, IStompFrame& Frame,
                                               const IDestinationPtr& Destination) {
  Message.SetMessageID(TakeHeader(Frame, "message-id"));
  Message.SetCorrelationID(TakeHeader(Frame, "correlation-id"));
  Message.SetDestination(Destination);
  Message.SetExpiration(GetExpiration(Frame));
  Message.SetDeliveryMode(Frame.HeaderOrEmpty("persistent") == "true" ? 1 : 0);
  // Another client may send a priority beyond the message's range, and the broker passes it on: it is
  // taken to the nearest bound rather than failing a delivery the broker counts as made.
  Message.SetPriority(std::clamp(StrToIntDef(Frame.HeaderOrEmpty("priority"), 0), 0, 255));
  const std::string& replyTo = Frame.HeaderOrEmpty("reply-to");
  if (!replyTo.empty()) {
    // A reply-to of a form the mapping does not know leaves the reply-to unset; the message itself is
    // still delivered rather than lost with the consumed frame.
    try {
      Message.SetReplyTo(CreateDestinationFromStompName(replyTo));
    } catch (const EMQException&) {
      Message.SetReplyTo(nullptr);
    }
  }
  Message.SetTimestamp(UnixMillisToDateTime(StrToInt64Def(Frame.HeaderOrEmpty("timestamp"), 0)));
  Message.SetType(TakeHeader(Frame, "type"));
  Message.SetRedelivered(Frame.HeaderOrEmpty("redelivered") == "true");
  CopyProperties(Message, Frame);
}

void TZQAbstractTransport::CopyProperties(TZQMessage& Message, IStompFrame& Frame) const {
  TStompHeaders& headers = Frame.GetHeaders();
  // The properties are counted first, for room for all of them at once; the answers for the first 64
  // headers are kept for the second pass.
  constexpr std::size_t kept = 64;
  uint64_t standard = 0;
  std::size_t properties = 0;
  for (std::size_t i = 0; i < headers.size(); ++i) {
    if (IsStandardHeader(headers[i].Name)) {
      standard |= i < kept ? uint64_t{1} << i : 0;
    } else {
      ++properties;
    }
  }
  Message.ReserveProperties(properties);
  for (std::size_t i = 0; i < headers.size(); ++i) {
    const bool isStandard = i < kept ? ((standard >> i) & 1) != 0 : IsStandardHeader(headers[i].Name);
    if (!isStandard) {
      Message.SetStringProperty(headers[i].Name, std::move(headers[i].Value));
    }
  }
}

std::string TZQAbstractTransport::GetPlainDestinationName(const IDestinationPtr& Destination) const {
  std::string name = GetDestinationName(Destination);
  const std::size_t question = name.find('?');
  if (question != std::string::npos) {
    name.erase(question);
  }
  return name;
}

std::string AppendDestinationParam(const std::string& Destination, const std::string& Name,
                                   const std::string& Value) {
  const char separator = Destination.find('?') == std::string::npos ? '?' : '&';
  std::string result;
  result.reserve(Destination.size() + Name.size() + Value.size() + 2);
  result.append(Destination).append(1, separator).append(Name).append(1, '=').append(Value);
  return result;
}

}  // namespace velmor
