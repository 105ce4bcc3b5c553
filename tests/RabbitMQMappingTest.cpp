// The RabbitMQ mapping without a broker: destination names both ways, the SEND header list of each
// message kind, and what a received MESSAGE frame becomes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ZQAbstractTransport.h"
#include "ZQBytesMessage.h"
#include "ZQDateTime.h"
#include "ZQExceptions.h"
#include "ZQMQTransportRabbitMQ.h"
#include "ZQMapMessage.h"
#include "ZQObjectMessage.h"
#include "ZQQueue.h"
#include "ZQStompFrame.h"
#include "ZQTextMessage.h"
#include "ZQTopic.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Messages built here never acknowledge, so they need no STOMP client.
const std::weak_ptr<TZQStompClient> NoTransport;

HeaderList HeadersOf(const IStompFrame& Frame) {
  HeaderList list;
  for (const TStompHeaderItem& item : Frame.GetHeaders()) {
    list.emplace_back(item.Name, item.Value);
  }
  return list;
}

IStompFramePtr MessageFrame(const HeaderList& Headers, const std::string& Body = "") {
  IStompFramePtr frame = TZQStompFrame::CreateForCommand("MESSAGE");
  for (const auto& [name, value] : Headers) {
    frame->AddHeader(name, value);
  }
  frame->SetBody(Body);
  return frame;
}

// Runs Action and returns the message of the EMQException (or subclass) it raises; "" when none.
template <class TException = EMQException>
std::string ErrorOf(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const TException& error) {
    return error.what();
  }
  return "";
}

class RabbitMQMappingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Transport->SetMapTransformationID("map-1");
    Transport->SetObjectTransformationID("object-1");
  }

  HeaderList SendHeaders(const TZQMessage& Message, std::chrono::milliseconds TimeToLive = 0ms) {
    TZQStompFrame frame;
    Transport->MessageToFrame(Message, frame, 3, TimeToLive);
    return HeadersOf(frame);
  }

  std::string SendBody(const TZQMessage& Message) {
    TZQStompFrame frame;
    Transport->MessageToFrame(Message, frame, 3, 0ms);
    return frame.GetBody();
  }

  IMessagePtr Receive(const HeaderList& Headers, const std::string& Body = "") {
    Transport->OnMessageFrame(MessageFrame(Headers, Body));
    return Transport->GetLastMessage();
  }

  const std::shared_ptr<TZQMQTransportRabbitMQ> Transport = TZQMQTransportRabbitMQ::Create();
};

// The messages a transport builds reach it through a weak reference, so it exists only shared.
TEST(RabbitMQTransportTest, CanOnlyBeMadeThroughCreate) {
  EXPECT_FALSE(std::is_default_constructible_v<TZQMQTransportRabbitMQ>);
  const std::shared_ptr<TZQMQTransportRabbitMQ> transport = TZQMQTransportRabbitMQ::Create();
  ASSERT_NE(transport, nullptr);
  EXPECT_EQ(transport->weak_from_this().lock(), transport);
}

// --- Destination objects to broker names ---

struct NameCase {
  const char* Title;
  std::function<IDestinationPtr()> Make;
  const char* Expected;
};

class DestinationNameTest : public RabbitMQMappingTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DestinationNameTest, GivesTheBrokerName) {
  EXPECT_EQ(Transport->GetDestinationName(GetParam().Make()), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DestinationNameTest,
    ::testing::Values(
        NameCase{"Queue", [] { return TZQQueue::Create("orders"); }, "/queue/orders"},
        NameCase{"ReplyQueueName", [] { return TZQQueue::Create("amq.gen-X1"); }, "/reply-queue/amq.gen-X1"},
        NameCase{"CapitalAmqGen", [] { return TZQQueue::Create("Amq.gen-X1"); }, "/queue/Amq.gen-X1"},
        NameCase{"QueueExchange", [] { return TZQQueue::Create("/EXCHANGE/ex/rk"); }, "/EXCHANGE/ex/rk"},
        NameCase{"AmqQueue", [] { return TZQQueue::Create("/Amq/Queue/q1"); }, "/Amq/Queue/q1"},
        NameCase{"QueueWithOptions", [] { return TZQQueue::Create("q?x=1"); }, "/queue/q?x=1"},
        NameCase{"Topic", [] { return TZQTopic::Create("news"); }, "/topic/news"},
        NameCase{"TopicExchange", [] { return TZQTopic::Create("/Exchange/amq.topic/a.b"); },
                 "/Exchange/amq.topic/a.b"},
        NameCase{"TemporaryQueue", [] { return TZQTemporaryQueue::Create("tmp-0"); }, "/temp-queue/tmp-0"},
        NameCase{"BrokerReplyQueue", [] { return TZQReplyQueue::Create("amq.gen-Y2"); },
                 "/reply-queue/amq.gen-Y2"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.Title); });

TEST_F(RabbitMQMappingTest, RefusesTemporaryTopicsAndMissingDestinations) {
  EXPECT_EQ(ErrorOf([&] { Transport->GetDestinationName(TZQTemporaryTopic::Create("tmp-1")); }),
            "GetDestinationName");
  EXPECT_EQ(ErrorOf([&] { Transport->GetDestinationName(nullptr); }), "Destination is unassigned");
  // Short enough to send, but the broker would deliver it percent-encoded in a line too long to read.
  std::string accents;
  for (int i = 0; i < 5462; ++i)
    accents += "\xC3\xA9";
  EXPECT_EQ(
      ErrorOf<EIllegalArgumentException>([&] { Transport->GetDestinationName(TZQQueue::Create(accents)); }),
      "Header \"destination\" cannot be encoded: the broker would deliver it in a line longer than 16384 "
      "octets");
}

TEST_F(RabbitMQMappingTest, DestinationWhoseKindDoesNotMatchItsClassGivesAClearError) {
  const IQueuePtr queue = TZQQueue::Create("q");
  queue->SetDestinationKind(DestinationKindTopic);
  EXPECT_EQ(ErrorOf<EIllegalStateException>([&] { Transport->GetDestinationName(queue); }),
            "Destination of kind 1 does not implement ITopic");
  const IQueuePtr plain = TZQQueue::Create("q");
  plain->SetDestinationKind(DestinationKindTemporaryQueue);
  EXPECT_EQ(ErrorOf<EIllegalStateException>([&] { Transport->GetDestinationName(plain); }),
            "Destination of kind 2 does not implement ITemporaryQueue");
}

TEST_F(RabbitMQMappingTest, PlainDestinationNameDropsOptions) {
  EXPECT_EQ(Transport->GetPlainDestinationName(TZQTopic::Create("news?persistent=true")), "/topic/news");
}

// --- Broker names to destination objects, and back ---

struct StompNameCase {
  const char* Title;
  const char* Received;
  uint8_t Kind;
  const char* Name;
  const char* SentBackAs;
};

class StompNameTest : public RabbitMQMappingTest, public ::testing::WithParamInterface<StompNameCase> {};

TEST_P(StompNameTest, BecomesADestinationThatMapsBack) {
  const StompNameCase& c = GetParam();
  const IDestinationPtr destination = Transport->CreateDestinationFromStompName(c.Received);
  ASSERT_NE(destination, nullptr);
  EXPECT_EQ(destination->GetDestinationKind(), c.Kind);
  if (c.Kind == DestinationKindTopic) {
    EXPECT_EQ(std::dynamic_pointer_cast<ITopic>(destination)->GetTopicName(), c.Name);
  } else {
    EXPECT_EQ(std::dynamic_pointer_cast<IQueue>(destination)->GetQueueName(), c.Name);
  }
  EXPECT_EQ(Transport->GetDestinationName(destination), c.SentBackAs);
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, StompNameTest,
    ::testing::Values(StompNameCase{"Queue", "/queue/orders", DestinationKindQueue, "orders",
                                    "/queue/orders"},
                      StompNameCase{"ReplyQueueAsQueue", "/queue/amq.gen-A", DestinationKindQueue,
                                    "amq.gen-A", "/reply-queue/amq.gen-A"},
                      StompNameCase{"Topic", "/topic/news", DestinationKindTopic, "news", "/topic/news"},
                      StompNameCase{"Exchange", "/exchange/amq.topic/a.b", DestinationKindTopic,
                                    "/exchange/amq.topic/a.b", "/exchange/amq.topic/a.b"},
                      StompNameCase{"ReplyQueue", "/reply-queue/amq.gen-B", DestinationKindTemporaryQueue,
                                    "amq.gen-B", "/reply-queue/amq.gen-B"},
                      StompNameCase{"ReplyQueueOtherName", "/reply-queue/r1", DestinationKindTemporaryQueue,
                                    "r1", "/reply-queue/r1"},
                      StompNameCase{"AmqQueue", "/amq/queue/work", DestinationKindQueue, "/amq/queue/work",
                                    "/amq/queue/work"}),
    [](const ::testing::TestParamInfo<StompNameCase>& info) { return std::string(info.param.Title); });

// RabbitMQ writes octets below 0x20, "%" and octets from 0x80 as "%XX" in a MESSAGE's "destination";
// exactly those escapes are undone, and the "reply-to" is taken as it comes.
TEST_F(RabbitMQMappingTest, ReceivedDestinationIsDecodedAndReplyToIsNot) {
  const IMessagePtr message = Receive({{"destination", "/queue/caf%C3%A9%20%25%09%7F%41%c3%2%"},
                                       {"reply-to", "/queue/caf%C3%A9"},
                                       {"subscription", "s"}});
  ASSERT_NE(message, nullptr);
  const auto destination = std::dynamic_pointer_cast<IQueue>(message->GetDestination());
  ASSERT_NE(destination, nullptr);
  EXPECT_EQ(destination->GetQueueName(), "caf\xC3\xA9%20%\t%7F%41%c3%2%");
  EXPECT_EQ(Transport->GetDestinationName(destination), "/queue/caf\xC3\xA9%20%\t%7F%41%c3%2%");
  const auto replyTo = std::dynamic_pointer_cast<IQueue>(message->GetReplyTo());
  ASSERT_NE(replyTo, nullptr);
  EXPECT_EQ(replyTo->GetQueueName(), "caf%C3%A9");
}

TEST_F(RabbitMQMappingTest, RefusesBrokerNamesOfUnknownForm) {
  for (const std::string name : {"/temp-queue/tmp-0", "", "/queues/x", "queue/x", "/Queue/x"}) {
    EXPECT_EQ(ErrorOf([&] { Transport->CreateDestinationFromStompName(name); }),
              "CreateDestinationFromStompName for \"" + name + "\" failed")
        << name;
  }
}

TEST_F(RabbitMQMappingTest, BrokerReplyQueueIsATemporaryQueueThatCannotBeDeleted) {
  const IDestinationPtr destination = Transport->CreateDestinationFromStompName("/reply-queue/amq.gen-C");
  const ITemporaryQueuePtr queue = std::dynamic_pointer_cast<ITemporaryQueue>(destination);
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(ErrorOf([&] { queue->Delete(); }), "Feature not implemented");
  EXPECT_EQ(ErrorOf([&] { queue->Delete(); }), "Feature not implemented");
  // Exactly the interfaces of a temporary queue, and still usable.
  EXPECT_NE(std::dynamic_pointer_cast<IQueue>(destination), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<ITopic>(destination), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<ITemporaryTopic>(destination), nullptr);
  EXPECT_EQ(queue->GetDestinationKind(), DestinationKindTemporaryQueue);
  EXPECT_EQ(queue->GetQueueName(), "amq.gen-C");
  EXPECT_EQ(Transport->GetDestinationName(destination), "/reply-queue/amq.gen-C");
}

// --- SEND headers per message kind ---

TEST_F(RabbitMQMappingTest, PlainTextMessageCarriesOnlyItsContentType) {
  TZQTextMessage message(NoTransport);
  message.SetText("hello");
  EXPECT_EQ(SendHeaders(message), (HeaderList{{"content-type", "text/plain"}}));
  EXPECT_EQ(SendBody(message), "hello");
}

// Sets every field that becomes a header.
template <class TMessage>
void FillFields(TMessage& Message) {
  Message.SetCorrelationID("corr-1");
  Message.SetDeliveryMode(1);
  Message.SetPriority(7);
  Message.SetReplyTo(TZQQueue::Create("replies"));
  Message.SetType("order");
  Message.SetTransactionID("tx-1");
  Message.SetStringProperty("b-prop", "2");
  Message.SetIntProperty("a-prop", 1);
  // Neither the message's own expiration nor its timestamp goes out.
  Message.SetExpiration(NowUTC() + 1.0);
  Message.SetTimestamp(NowUTC());
}

HeaderList WithBodyHeaders(HeaderList Body) {
  HeaderList list = {{"correlation-id", "corr-1"},
                     {"expiration", "1400"},
                     {"persistent", "true"},
                     {"priority", "7"},
                     {"reply-to", "/queue/replies"},
                     {"type", "order"},
                     {"transaction", "tx-1"},
                     {"b-prop", "2"},
                     {"a-prop", "1"}};
  list.insert(list.end(), Body.begin(), Body.end());
  return list;
}

TEST_F(RabbitMQMappingTest, TextMessageHeadersInOrder) {
  TZQTextMessage message(NoTransport);
  FillFields(message);
  message.SetText("h\xC3\xA9llo");
  EXPECT_EQ(SendHeaders(message, 1400ms), WithBodyHeaders({{"content-type", "text/plain"}}));
  EXPECT_EQ(SendBody(message), "h\xC3\xA9llo");
}

TEST_F(RabbitMQMappingTest, BytesMessageHeadersInOrder) {
  TZQBytesMessage message(NoTransport, std::string("a\0b", 3), "");
  FillFields(message);
  EXPECT_EQ(SendHeaders(message, 1400ms), WithBodyHeaders({{"content-type", "application/octet-stream"}}));
  EXPECT_EQ(SendBody(message), std::string("a\0b", 3));
}

TEST_F(RabbitMQMappingTest, ObjectMessageHeadersInOrder) {
  TZQObjectMessage message(NoTransport, "{obj}", "");
  FillFields(message);
  EXPECT_EQ(SendHeaders(message, 1400ms),
            WithBodyHeaders({{"content-type", "text/plain"}, {"transformation", "object-1"}}));
  EXPECT_EQ(SendBody(message), "{obj}");
}

TEST_F(RabbitMQMappingTest, MapMessageHeadersInOrder) {
  TZQMapMessage message(NoTransport, "{map}", "");
  FillFields(message);
  EXPECT_EQ(SendHeaders(message, 1400ms),
            WithBodyHeaders({{"content-type", "text/plain"}, {"transformation", "map-1"}}));
  EXPECT_EQ(SendBody(message), "{map}");
}

TEST_F(RabbitMQMappingTest, EmptyTransformationIdIsWrittenEmpty) {
  Transport->SetMapTransformationID("");
  TZQMapMessage message(NoTransport);
  EXPECT_EQ(SendHeaders(message), (HeaderList{{"content-type", "text/plain"}, {"transformation", ""}}));
}

TEST_F(RabbitMQMappingTest, ExpirationIsTheTimeToLiveOfTheSendInExactMilliseconds) {
  TZQTextMessage message(NoTransport);
  for (const auto& [ttl, expected] : std::vector<std::pair<std::chrono::milliseconds, std::string>>{
           {1ms, "1"}, {400ms, "400"}, {1400ms, "1400"}, {2600ms, "2600"}, {60000ms, "60000"}}) {
    EXPECT_EQ(SendHeaders(message, ttl),
              (HeaderList{{"expiration", expected}, {"content-type", "text/plain"}}));
  }
}

TEST_F(RabbitMQMappingTest, NoTimeToLiveSendsNoExpirationWhateverTheMessageHolds) {
  TZQTextMessage message(NoTransport);
  message.SetExpiration(NowUTC() + 1.0);  // an absolute expiration, as a received message keeps it
  EXPECT_EQ(SendHeaders(message, 0ms), (HeaderList{{"content-type", "text/plain"}}));
  EXPECT_EQ(SendHeaders(message, -5ms), (HeaderList{{"content-type", "text/plain"}}));
}

TEST_F(RabbitMQMappingTest, ReplyToTemporaryQueueAndReplyQueue) {
  TZQTextMessage message(NoTransport);
  message.SetReplyTo(TZQTemporaryQueue::Create("tmp-3"));
  EXPECT_EQ(SendHeaders(message)[0], (std::pair<std::string, std::string>{"reply-to", "/temp-queue/tmp-3"}));
  message.SetReplyTo(TZQReplyQueue::Create("amq.gen-Z"));
  EXPECT_EQ(SendHeaders(message)[0],
            (std::pair<std::string, std::string>{"reply-to", "/reply-queue/amq.gen-Z"}));
  message.SetReplyTo(TZQTemporaryTopic::Create("tmp-4"));
  EXPECT_EQ(ErrorOf([&] { SendHeaders(message); }), "GetDestinationName");
}

TEST_F(RabbitMQMappingTest, ReservedPropertyNamesAreRefused) {
  for (const std::string_view reserved : ReservedHeaderNames) {
    TZQTextMessage message(NoTransport);
    message.SetStringProperty(std::string(reserved), "x");
    EXPECT_EQ(ErrorOf<EZQReservedProperty>([&] { SendHeaders(message); }),
              std::string(reserved) + " is a reserved property name");
  }
  for (const std::string name : {"expiration", "receipt"}) {
    TZQTextMessage message(NoTransport);
    message.SetStringProperty(name, "5");
    EXPECT_EQ(ErrorOf<EZQReservedProperty>([&] { SendHeaders(message, 100ms); }),
              name + " is a reserved property name");
  }
}

TEST_F(RabbitMQMappingTest, PropertyNamesDifferingInCaseFromReservedOnesPass) {
  TZQTextMessage message(NoTransport);
  message.SetStringProperty("Login", "x");
  EXPECT_EQ(SendHeaders(message), (HeaderList{{"Login", "x"}, {"content-type", "text/plain"}}));
}

// --- Received frames ---

struct KindCase {
  const char* Title;
  HeaderList Headers;
  const char* Kind;
};

class ReceivedKindTest : public RabbitMQMappingTest, public ::testing::WithParamInterface<KindCase> {};

std::string KindOf(const IMessagePtr& Message) {
  if (std::dynamic_pointer_cast<TZQTextMessage>(Message))
    return "text";
  if (std::dynamic_pointer_cast<TZQBytesMessage>(Message))
    return "bytes";
  if (std::dynamic_pointer_cast<TZQMapMessage>(Message))
    return "map";
  if (std::dynamic_pointer_cast<TZQObjectMessage>(Message))
    return "object";
  return "none";
}

TEST_P(ReceivedKindTest, FrameBecomesTheMessageKind) {
  HeaderList headers = {{"destination", "/queue/q"}};
  headers.insert(headers.end(), GetParam().Headers.begin(), GetParam().Headers.end());
  EXPECT_EQ(KindOf(Receive(headers, "body")), GetParam().Kind);
}

INSTANTIATE_TEST_SUITE_P(
    ContentTypes, ReceivedKindTest,
    ::testing::Values(
        KindCase{"TextPlain", {{"content-type", "text/plain"}}, "text"},
        KindCase{"TextHtml", {{"content-type", "text/html"}}, "text"},
        KindCase{"TextUtf8", {{"content-type", "text/plain;charset=UTF-8"}}, "text"},
        KindCase{"TextUtf8Blank", {{"content-type", "text/plain; charset=utf-8"}}, "text"},
        KindCase{"TextQuotedUtf8", {{"content-type", "text/plain;charset=\"utf-8\""}}, "text"},
        KindCase{"TextUtf8AfterOtherParameter",
                 {{"content-type", "text/plain;format=flowed;Charset=UTF-8"}},
                 "text"},
        KindCase{"TextOtherCharset", {{"content-type", "text/plain;charset=ISO-8859-1"}}, "bytes"},
        KindCase{"TextQuotedOtherCharset", {{"content-type", "text/plain;charset=\"utf-16\""}}, "bytes"},
        KindCase{"TextParametersWithoutCharset", {{"content-type", "text/plain; format=flowed"}}, "text"},
        KindCase{"UnknownTransformation",
                 {{"content-type", "text/plain"}, {"transformation", "zzz"}},
                 "bytes"},
        KindCase{"EmptyTransformation", {{"content-type", "text/plain"}, {"transformation", ""}}, "text"},
        KindCase{"Map", {{"content-type", "text/plain"}, {"transformation", "map-1"}}, "map"},
        KindCase{"Object", {{"content-type", "text/plain"}, {"transformation", "object-1"}}, "object"},
        KindCase{"Octets", {{"content-type", "application/octet-stream"}}, "bytes"},
        KindCase{"OctetsWithTransformation",
                 {{"content-type", "application/json"}, {"transformation", "zzz"}},
                 "bytes"},
        KindCase{"CapitalText", {{"content-type", "Text/plain"}}, "bytes"},
        KindCase{"NoContentType", {}, "bytes"}),
    [](const ::testing::TestParamInfo<KindCase>& info) { return std::string(info.param.Title); });

// A body that cannot be read as its headers announce comes as bytes: its octets unchanged, and the
// headers that announced it among the properties.
TEST_F(RabbitMQMappingTest, AnUnreadableBodyComesAsBytesWithItsOctetsAndHeaders) {
  const IMessagePtr latin1 = Receive(
      {{"destination", "/queue/q"}, {"content-type", "text/plain; charset=ISO-8859-1"}}, "caf\xE9");
  ASSERT_EQ(KindOf(latin1), "bytes");
  EXPECT_EQ(std::dynamic_pointer_cast<IBytesMessage>(latin1)->GetContent(), "caf\xE9");
  EXPECT_EQ(latin1->GetStringProperty("content-type"), "text/plain; charset=ISO-8859-1");
  const IMessagePtr unknown = Receive(
      {{"destination", "/queue/q"}, {"content-type", "text/plain"}, {"transformation", "zzz"}}, "{\"a\":1}");
  ASSERT_EQ(KindOf(unknown), "bytes");
  EXPECT_EQ(std::dynamic_pointer_cast<IBytesMessage>(unknown)->GetContent(), "{\"a\":1}");
  EXPECT_EQ(unknown->GetPropertyNames(), (PMStrings{"content-type", "transformation"}));
  EXPECT_EQ(unknown->GetStringProperty("transformation"), "zzz");
}

TEST_F(RabbitMQMappingTest, ReceivedStandardHeadersFillTheFields) {
  const TDateTime before = NowUTC();
  const IMessagePtr message = Receive({{"subscription", "sub-1"},
                                       {"destination", "/topic/news"},
                                       {"message-id", "m-1"},
                                       {"correlation-id", "c-1"},
                                       {"expiration", "5000"},
                                       {"persistent", "true"},
                                       {"priority", "9"},
                                       {"reply-to", "/queue/answers"},
                                       {"timestamp", "1700000000123"},
                                       {"type", "t-1"},
                                       {"redelivered", "true"},
                                       {"content-type", "text/plain"},
                                       {"receipt", "send.receipt.id.0.1"},
                                       {"x-custom", "v"}},
                                      "h\xC3\xA9");
  const TDateTime after = NowUTC();
  const auto text = std::dynamic_pointer_cast<ITextMessage>(message);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetText(), "h\xC3\xA9");
  EXPECT_EQ(message->GetMessageID(), "m-1");
  EXPECT_EQ(message->GetCorrelationID(), "c-1");
  EXPECT_EQ(std::dynamic_pointer_cast<ITopic>(message->GetDestination())->GetTopicName(), "news");
  const double fiveSeconds = 5000.0 / 86400000.0;
  EXPECT_GE(message->GetExpiration(), before + fiveSeconds);
  EXPECT_LE(message->GetExpiration(), after + fiveSeconds);
  EXPECT_EQ(message->GetDeliveryMode(), 1);
  EXPECT_EQ(message->GetPriority(), 9);
  EXPECT_EQ(std::dynamic_pointer_cast<IQueue>(message->GetReplyTo())->GetQueueName(), "answers");
  EXPECT_EQ(message->GetTimestamp(), UnixMillisToDateTime(1700000000000));
  EXPECT_EQ(message->GetType(), "t-1");
  EXPECT_TRUE(message->GetRedelivered());
  // Only the headers the mapping does not use itself become properties; the broker's echo of a SEND's
  // receipt request is not one of them.
  EXPECT_EQ(message->GetPropertyNames(), (PMStrings{"subscription", "content-type", "x-custom"}));
}

TEST_F(RabbitMQMappingTest, ReceivedFrameWithoutOptionalHeaders) {
  const IMessagePtr message =
      Receive({{"destination", "/queue/q"}, {"persistent", "TRUE"}, {"expiration", "0"}});
  EXPECT_EQ(message->GetTimestamp(), UnixEpochDateTime);
  EXPECT_EQ(message->GetDeliveryMode(), 0);
  EXPECT_EQ(message->GetExpiration(), 0);
  EXPECT_EQ(message->GetReplyTo(), nullptr);
  EXPECT_FALSE(message->GetRedelivered());
}

TEST_F(RabbitMQMappingTest, ReceivedExpirationThatIsNotAPositiveNumberMeansNone) {
  for (const std::string value : {"0", "-5", "soon", ""}) {
    EXPECT_EQ(Transport->GetExpiration(*MessageFrame({{"expiration", value}})), 0) << value;
  }
}

TEST_F(RabbitMQMappingTest, MapFrameKeepsRawBodyAndHeadersAsProperties) {
  const IMessagePtr message = Receive({{"subscription", "s"},
                                       {"destination", "/queue/q"},
                                       {"content-type", "text/plain"},
                                       {"transformation", "map-1"}},
                                      std::string("k=v\0", 4));
  EXPECT_EQ(std::dynamic_pointer_cast<IMessageContent>(message)->GetContent(), std::string("k=v\0", 4));
  EXPECT_EQ(message->GetPropertyNames(), (PMStrings{"subscription", "content-type", "transformation"}));
}

// The messages of a subscription share one destination object while their destination stays the same,
// also with more subscriptions than whose objects are kept.
TEST_F(RabbitMQMappingTest, MessagesOfASubscriptionShareTheirDestinationWhileItStays) {
  const auto receive = [&](const std::string& Subscription, const std::string& Destination) {
    const auto message = std::dynamic_pointer_cast<TZQMessage>(Receive(
        {{"subscription", Subscription}, {"destination", Destination}, {"content-type", "text/plain"}}));
    EXPECT_EQ(message->GetSubscription(), Subscription);
    EXPECT_EQ(Transport->GetDestinationName(message->GetDestination()), Destination);
    return message->GetDestination();
  };
  const IDestinationPtr first = receive("s-1", "/queue/a");
  EXPECT_EQ(receive("s-1", "/queue/a"), first);
  EXPECT_NE(receive("s-2", "/queue/a"), first);
  EXPECT_EQ(receive("s-1", "/queue/a"), first);
  EXPECT_NE(receive("s-1", "/topic/b"), first);
  for (int i = 0; i < 40; ++i) {
    receive("s-" + std::to_string(i % 20), "/queue/q" + std::to_string(i));
  }
  EXPECT_EQ(ErrorOf([&] { receive("s-1", "/temp-queue/x"); }),
            "CreateDestinationFromStompName for \"/temp-queue/x\" failed");
  const IDestinationPtr last = receive("s-1", "/queue/q21");
  EXPECT_EQ(receive("s-1", "/queue/q21"), last);
}

TEST_F(RabbitMQMappingTest, UnmappableReplyToLeavesReplyToUnsetAndKeepsTheMessage) {
  const IMessagePtr message = Receive({{"destination", "/queue/q"}, {"reply-to", "/temp-queue/x"}}, "b");
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->GetReplyTo(), nullptr);
}

TEST_F(RabbitMQMappingTest, ReceivedAmqQueueReplyToIsSentBackUnchanged) {
  const IMessagePtr message = Receive({{"destination", "/queue/q"}, {"reply-to", "/amq/queue/answers"}});
  EXPECT_EQ(Transport->GetDestinationName(message->GetReplyTo()), "/amq/queue/answers");
}

TEST_F(RabbitMQMappingTest, UnknownDestinationFailsTheReceive) {
  EXPECT_EQ(ErrorOf([&] {
              Receive({{"destination", "/temp-queue/x"}});
            }),
            "CreateDestinationFromStompName for \"/temp-queue/x\" failed");
  EXPECT_EQ(Transport->GetLastMessage(), nullptr);
}

TEST_F(RabbitMQMappingTest, PriorityOutOfRangeIsTakenToTheNearestBound) {
  EXPECT_EQ(Receive({{"destination", "/queue/q"}, {"priority", "256"}})->GetPriority(), 255);
  EXPECT_EQ(Receive({{"destination", "/queue/q"}, {"priority", "-1"}})->GetPriority(), 0);
}

TEST_F(RabbitMQMappingTest, EveryBuiltMessageReachesTheCallback) {
  std::vector<IMessagePtr> offered;
  Transport->SetOnMessage([&](const IMessagePtr& Message) { offered.push_back(Message); });
  const IMessagePtr first = Receive({{"destination", "/queue/q"}});
  const IMessagePtr second = Receive({{"destination", "/queue/q"}, {"content-type", "text/plain"}});
  EXPECT_EQ(offered, (std::vector<IMessagePtr>{first, second}));
}

// --- Helpers of the unit ---

TEST(AppendDestinationParamTest, FirstOptionGetsAQuestionMarkLaterOnesAnAmpersand) {
  const std::string once = AppendDestinationParam("/topic/news", "persistent", "true");
  EXPECT_EQ(once, "/topic/news?persistent=true");
  EXPECT_EQ(AppendDestinationParam(once, "auto-delete", "false"),
            "/topic/news?persistent=true&auto-delete=false");
}

TEST(CheckDestinationNameTest, RefusesOnlyNamesWithBothQuestionMarkAndEquals) {
  EXPECT_EQ(ErrorOf([] { TZQAbstractTransport::CheckDestinationName("/queue/a?b=c"); }),
            "Destination must not contain parameters");
  EXPECT_EQ(ErrorOf([] { TZQAbstractTransport::CheckDestinationName("/queue/a=b?"); }),
            "Destination must not contain parameters");
  EXPECT_EQ(ErrorOf([] { TZQAbstractTransport::CheckDestinationName("/queue/a?b"); }), "");
  EXPECT_EQ(ErrorOf([] { TZQAbstractTransport::CheckDestinationName("/queue/a=b"); }), "");
}

}  // namespace
}  // namespace velmor
