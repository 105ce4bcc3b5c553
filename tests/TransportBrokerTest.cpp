// The RabbitMQ transport against the real broker: round trips of every message kind with their header
// fields, receipts of persistent sends, the time-to-live, reply-to destinations and request and reply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BrokerFixture.h"
#include "ZQBytesMessage.h"
#include "ZQDateTime.h"
#include "ZQExceptions.h"
#include "ZQMQTransportRabbitMQ.h"
#include "ZQMapMessage.h"
#include "ZQObjectMessage.h"
#include "ZQQueue.h"
#include "ZQTextMessage.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using ::testing::Contains;
using ::testing::Not;

// Queues of these tests vanish a minute after their last use: the subscriber and every sender declare
// them with the same "x-expires".
const std::string QueueExpiry = "60000";
constexpr int32_t ReceiveTimeout = 5000;
constexpr double MillisPerDay = 86400000.0;

class TransportBrokerTest : public testing::BrokerTest {
 protected:
  void TearDown() override {
    for (const auto& transport : FOpened) {
      try {
        transport->Disconnect();
      } catch (const EVelmorError&) {
      }
    }
  }

  std::shared_ptr<TZQMQTransportRabbitMQ> Open(const std::string& Query = "") {
    auto transport = TZQMQTransportRabbitMQ::Create();
    transport->SetLogin(testing::Broker().User);
    transport->SetPasscode(testing::Broker().Pass);
    transport->SetURI(TZQURI::Create(testing::BrokerUrl(Query)));
    transport->Connect();
    FOpened.push_back(transport);
    return transport;
  }

  // Subscribes (with a receipt, so the subscription stands when this returns) to the queue Name.
  static void SubscribeQueue(TZQMQTransportRabbitMQ& Transport, const std::string& Name,
                             const std::string& Id) {
    Transport.Subscribe("/queue/" + Name + "?x-expires=" + QueueExpiry, AckModeAuto, Id, "", false);
  }

  template <class TMessage, class... TArgs>
  static std::shared_ptr<TMessage> Make(TArgs&&... Args) {
    auto message = std::make_shared<TMessage>(std::weak_ptr<TZQStompClient>{}, std::forward<TArgs>(Args)...);
    message->SetStringProperty("x-expires", QueueExpiry);
    return message;
  }

  static std::shared_ptr<TZQTextMessage> Text(const std::string& Body) {
    auto message = Make<TZQTextMessage>();
    message->SetText(Body);
    return message;
  }

  static std::string TextOf(const IMessagePtr& Message) {
    const auto text = std::dynamic_pointer_cast<ITextMessage>(Message);
    return text ? text->GetText() : "<not a text message>";
  }

  static std::string ContentOf(const IMessagePtr& Message) {
    if (const auto bytes = std::dynamic_pointer_cast<IBytesMessage>(Message))
      return bytes->GetContent();
    if (const auto content = std::dynamic_pointer_cast<IMessageContent>(Message))
      return content->GetContent();
    return "<no content>";
  }

  static std::string QueueNameOf(const IDestinationPtr& Destination) {
    const auto queue = std::dynamic_pointer_cast<IQueue>(Destination);
    return queue ? queue->GetQueueName() : "<not a queue>";
  }

 private:
  std::vector<std::shared_ptr<TZQMQTransportRabbitMQ>> FOpened;
};

TEST_F(TransportBrokerTest, TextRoundTripKeepsBodyFieldsAndProperties) {
  const std::string name = testing::UniqueName("transport-text");
  const auto receiver = Open("subscribe.receipt=true");
  SubscribeQueue(*receiver, name, "sub-1");
  const auto sender = Open();
  const std::string body =
      "Gr\xC3\xBC\xC3\x9F"
      "e, \xE4\xB8\x96\xE7\x95\x8C \xE2\x9C\x93 a:b\\c\nd";
  const auto message = Text(body);
  message->SetCorrelationID("corr-\xC3\xA9");
  message->SetType("order:new");
  message->SetPriority(5);
  message->SetReplyTo(TZQQueue::Create("answers"));
  message->SetStringProperty("color", "gr\xC3\xBCn");
  message->SetIntProperty("count", -42);
  message->SetBooleanProperty("flag", true);
  sender->Send(*message, "/queue/" + name, -1);

  const IMessagePtr received = receiver->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(TextOf(received), body);
  EXPECT_EQ(received->GetCorrelationID(), "corr-\xC3\xA9");
  EXPECT_EQ(received->GetType(), "order:new");
  EXPECT_EQ(received->GetPriority(), 5);
  EXPECT_EQ(received->GetDeliveryMode(), 0);
  EXPECT_EQ(QueueNameOf(received->GetReplyTo()), "answers");
  EXPECT_EQ(QueueNameOf(received->GetDestination()), name);
  EXPECT_EQ(received->GetStringProperty("color"), "gr\xC3\xBCn");
  EXPECT_EQ(received->GetIntProperty("count"), -42);
  EXPECT_TRUE(received->GetBooleanProperty("flag"));
  EXPECT_EQ(received->GetStringProperty("subscription"), "sub-1");
  EXPECT_FALSE(received->GetMessageID().empty());
}

TEST_F(TransportBrokerTest, BodiesWithNulOctetsArriveWholeAndTheStreamStaysIntact) {
  const std::string name = testing::UniqueName("transport-nul");
  const auto receiver = Open("subscribe.receipt=true");
  SubscribeQueue(*receiver, name, "sub-1");
  const auto sender = Open();
  receiver->SetMapTransformationID("map-v1");
  receiver->SetObjectTransformationID("object-v1");
  sender->SetMapTransformationID("map-v1");
  sender->SetObjectTransformationID("object-v1");

  std::string octets;
  for (int i = 0; i < 256; ++i)
    octets.push_back(static_cast<char>(i));
  sender->Send(*Make<TZQBytesMessage>("\0\0ab\0"s + octets, ""), "/queue/" + name, -1);
  sender->Send(*Text("ab\0cd"s), "/queue/" + name, -1);
  sender->Send(*Make<TZQMapMessage>("k=v\0k2=\xC3\xA4"s, ""), "/queue/" + name, -1);
  sender->Send(*Make<TZQObjectMessage>("{\"o\":\0}"s, ""), "/queue/" + name, -1);
  sender->Send(*Text("after"), "/queue/" + name, -1);

  const IMessagePtr bytes = receiver->Receive(ReceiveTimeout);
  ASSERT_NE(std::dynamic_pointer_cast<IBytesMessage>(bytes), nullptr);
  EXPECT_EQ(ContentOf(bytes), "\0\0ab\0"s + octets);
  EXPECT_EQ(TextOf(receiver->Receive(ReceiveTimeout)), "ab\0cd"s);
  const IMessagePtr map = receiver->Receive(ReceiveTimeout);
  ASSERT_NE(std::dynamic_pointer_cast<IMapMessage>(map), nullptr);
  EXPECT_EQ(ContentOf(map), "k=v\0k2=\xC3\xA4"s);
  const IMessagePtr object = receiver->Receive(ReceiveTimeout);
  ASSERT_NE(std::dynamic_pointer_cast<IObjectMessage>(object), nullptr);
  EXPECT_EQ(ContentOf(object), "{\"o\":\0}"s);
  EXPECT_EQ(TextOf(receiver->Receive(ReceiveTimeout)), "after");
}

TEST_F(TransportBrokerTest, PersistentSendReturnsAfterItsReceiptAndTheMessageStaysPersistent) {
  const std::string name = testing::UniqueName("transport-persistent");
  const auto sender = Open();
  const auto message = Text("kept");
  message->SetDeliveryMode(1);
  sender->Send(*message, "/queue/" + name, -1);
  EXPECT_TRUE(sender->GetReceiptReceived());

  const auto receiver = Open("subscribe.receipt=true");
  SubscribeQueue(*receiver, name, "sub-1");
  const IMessagePtr received = receiver->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(TextOf(received), "kept");
  EXPECT_EQ(received->GetDeliveryMode(), 1);
  // The broker hands the SEND's receipt request back; it is not a property of the message.
  EXPECT_THAT(received->GetPropertyNames(), Not(Contains("receipt")));
}

TEST_F(TransportBrokerTest, MessageArrivingDuringAReceiptWaitIsReturnedByTheNextReceive) {
  const std::string name = testing::UniqueName("transport-kept");
  const auto transport = Open("subscribe.receipt=true");
  SubscribeQueue(*transport, name, "sub-1");
  transport->Send(*Text("first"), "/queue/" + name, -1);
  const auto persistent = Text("second");
  persistent->SetDeliveryMode(1);
  transport->Send(*persistent, "/queue/" + name, -1);

  EXPECT_EQ(TextOf(transport->Receive(ReceiveTimeout)), "first");
  EXPECT_EQ(TextOf(transport->Receive(ReceiveTimeout)), "second");
  EXPECT_FALSE(transport->HasPendingMessageFrames());
}

TEST_F(TransportBrokerTest, PersistentSendInsideATransactionDoesNotWaitForAHeldBackReceipt) {
  const std::string name = testing::UniqueName("transport-tx");
  const auto sender = Open();
  sender->BeginTransaction("tx-1");
  const auto message = Text("in tx");
  message->SetDeliveryMode(1);
  message->SetTransactionID("tx-1");
  sender->Send(*message, "/queue/" + name, -1, 0ms);
  sender->CommitTransaction("tx-1");

  const auto receiver = Open("subscribe.receipt=true");
  SubscribeQueue(*receiver, name, "sub-1");
  EXPECT_EQ(TextOf(receiver->Receive(ReceiveTimeout)), "in tx");
}

TEST_F(TransportBrokerTest, TimeToLiveKeepsTheMessageUntilItExpires) {
  const std::string name = testing::UniqueName("transport-ttl");
  const auto sender = Open();
  // Nobody waits yet: an "expiration" of "0" would drop the message at once. A minute is more than any
  // loaded machine takes to subscribe.
  sender->Send(*Text("kept"), "/queue/" + name, -1, 60000ms);
  const auto receiver = Open("subscribe.receipt=true");
  SubscribeQueue(*receiver, name, "sub-1");
  const TDateTime before = NowUTC();
  const IMessagePtr received = receiver->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(TextOf(received), "kept");
  EXPECT_GT(received->GetExpiration(), before);
  EXPECT_LE(received->GetExpiration(), NowUTC() + 60000 / MillisPerDay);
}

TEST_F(TransportBrokerTest, TimeToLiveTravelsInExactMilliseconds) {
  const std::string name = testing::UniqueName("transport-ttl-exact");
  const auto receiver = Open("subscribe.receipt=true");
  SubscribeQueue(*receiver, name, "sub-1");
  const auto sender = Open();
  sender->Send(*Text("exact"), "/queue/" + name, -1, 1400ms);
  const TDateTime before = NowUTC();
  const IMessagePtr received = receiver->Receive(ReceiveTimeout);
  const TDateTime after = NowUTC();
  ASSERT_NE(received, nullptr);
  EXPECT_GE(received->GetExpiration(), before + 1400 / MillisPerDay);
  EXPECT_LE(received->GetExpiration(), after + 1400 / MillisPerDay);
}

TEST_F(TransportBrokerTest, AbsoluteExpirationOfTheMessageIsNotSent) {
  const std::string name = testing::UniqueName("transport-absolute");
  const auto receiver = Open("subscribe.receipt=true");
  SubscribeQueue(*receiver, name, "sub-1");
  const auto sender = Open();
  const auto message = Text("no ttl");
  message->SetExpiration(NowUTC() + 1.0);
  sender->Send(*message, "/queue/" + name, -1);
  // The connection is still usable: a persistent send gets its receipt.
  const auto next = Text("next");
  next->SetDeliveryMode(1);
  sender->Send(*next, "/queue/" + name, -1);

  const IMessagePtr received = receiver->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(received->GetExpiration(), 0);
  EXPECT_EQ(TextOf(receiver->Receive(ReceiveTimeout)), "next");
}

// RabbitMQ writes such a name percent-encoded in the MESSAGE's "destination"; the message names the
// queue as it was created, and an answer sent to it reaches that very queue.
TEST_F(TransportBrokerTest, AQueueNamedWithNonAsciiOctetsIsAnsweredThroughTheReceivedDestination) {
  const std::string name = testing::UniqueName("transport-caf\xC3\xA9 100%\t\x7F-");
  const auto transport = Open("subscribe.receipt=true");
  SubscribeQueue(*transport, name, "sub-1");
  transport->Send(*Text("question"), "/queue/" + name, -1);

  const IMessagePtr received = transport->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(QueueNameOf(received->GetDestination()), name);
  transport->Send(*Text("answer"), transport->GetDestinationName(received->GetDestination()), -1);
  const IMessagePtr answered = transport->Receive(ReceiveTimeout);
  EXPECT_EQ(TextOf(answered), "answer");
  ASSERT_NE(answered, nullptr);
  EXPECT_EQ(QueueNameOf(answered->GetDestination()), name);
}

// The broker adds headers of its own to a delivery: the largest header block the library sends must
// still come back within what it reads.
TEST_F(TransportBrokerTest, TheLargestHeaderBlockSentIsDeliveredReadably) {
  const std::string name = testing::UniqueName("transport-big-headers");
  const auto transport = Open("subscribe.receipt=true");
  SubscribeQueue(*transport, name, "sub-big-headers");
  const auto message = Text("x");
  for (int i = 10; i < 71; ++i)
    message->SetStringProperty("p" + std::to_string(i), std::string(16000, 'v'));
  // "SEND", destination, content-length, content-type, x-expires, 61 of 16005 octets, "pz:" and the
  // blank line.
  const std::size_t rest =
      MaxSentHeaderBlockLength - 5 - (20 + name.size()) - 17 - 24 - 16 - 61 * 16005 - 4 - 1;
  message->SetStringProperty("pz", std::string(rest + 1, 'v'));
  EXPECT_THROW(transport->Send(*message, "/queue/" + name, -1), EIllegalArgumentException);
  message->SetStringProperty("pz", std::string(rest, 'v'));
  transport->Send(*message, "/queue/" + name, -1);
  const IMessagePtr received = transport->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(received->GetStringProperty("pz").size(), rest);
}

TEST_F(TransportBrokerTest, AmqQueueReplyToIsAnsweredUnderTheSameName) {
  const std::string requests = testing::UniqueName("transport-amq-req");
  const std::string replies = testing::UniqueName("transport-amq-rep");
  const auto requester = Open("subscribe.receipt=true");
  SubscribeQueue(*requester, replies, "sub-replies");
  const auto responder = Open("subscribe.receipt=true");
  SubscribeQueue(*responder, requests, "sub-requests");

  const auto request = Text("question");
  request->SetReplyTo(TZQQueue::Create("/amq/queue/" + replies));
  requester->Send(*request, "/queue/" + requests, -1);

  const IMessagePtr received = responder->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  ASSERT_NE(received->GetReplyTo(), nullptr);
  const std::string replyName = responder->GetDestinationName(received->GetReplyTo());
  EXPECT_EQ(replyName, "/amq/queue/" + replies);
  responder->Send(*Text("answer"), replyName, -1);
  EXPECT_EQ(TextOf(requester->Receive(ReceiveTimeout)), "answer");
}

TEST_F(TransportBrokerTest, RequestWithTemporaryQueueReplyToIsAnsweredThroughTheReceivedReplyTo) {
  const std::string requests = testing::UniqueName("transport-temp-req");
  const auto responder = Open("subscribe.receipt=true");
  SubscribeQueue(*responder, requests, "sub-requests");
  const auto requester = Open();

  const auto request = Text("question");
  request->SetReplyTo(TZQTemporaryQueue::Create("tmp-0"));
  request->SetCorrelationID("c-7");
  requester->Send(*request, "/queue/" + requests, -1);

  const IMessagePtr received = responder->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  ASSERT_NE(received->GetReplyTo(), nullptr);
  EXPECT_EQ(received->GetReplyTo()->GetDestinationKind(), DestinationKindTemporaryQueue);
  // x-expires would redeclare the broker's reply queue; it does not belong on a reply.
  const auto reply = std::make_shared<TZQTextMessage>(std::weak_ptr<TZQStompClient>{});
  reply->SetText("answer");
  reply->SetCorrelationID(received->GetCorrelationID());
  responder->Send(*reply, responder->GetDestinationName(received->GetReplyTo()), -1);
  // The connection stays usable (a refused destination would have closed it).
  const auto check = Text("check");
  check->SetDeliveryMode(1);
  responder->Send(*check, "/queue/" + requests, -1);

  const IMessagePtr answered = requester->Receive(ReceiveTimeout);
  ASSERT_NE(answered, nullptr);
  EXPECT_EQ(TextOf(answered), "answer");
  EXPECT_EQ(answered->GetCorrelationID(), "c-7");
}

TEST_F(TransportBrokerTest, ClosingAConsumerOfAReceivedReplyQueueKeepsTheConnection) {
  const std::string requests = testing::UniqueName("transport-reply-unsub");
  const auto responder = Open("subscribe.receipt=true");
  SubscribeQueue(*responder, requests, "sub-requests");
  const auto requester = Open();
  const auto request = Text("question");
  request->SetReplyTo(TZQTemporaryQueue::Create("tmp-1"));
  requester->Send(*request, "/queue/" + requests, -1);

  const IMessagePtr received = responder->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  ASSERT_NE(received->GetReplyTo(), nullptr);
  // A consumer of a temporary queue uses the destination name as its id and never subscribed; an
  // UNSUBSCRIBE for it would draw an ERROR that closes the connection.
  responder->Unsubscribe(responder->GetDestinationName(received->GetReplyTo()));
  const auto check = Text("check");
  check->SetDeliveryMode(1);
  responder->Send(*check, "/queue/" + requests, -1);
  EXPECT_TRUE(responder->GetReceiptReceived());
  EXPECT_EQ(TextOf(responder->Receive(ReceiveTimeout)), "check");
}

}  // namespace
}  // namespace velmor
