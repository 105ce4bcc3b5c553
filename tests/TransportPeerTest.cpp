// The RabbitMQ transport against a scripted broker: the exact SEND frames for each kind of message, the
// receipt rules, the three receive calls, MESSAGE frames kept by a receipt wait, and unsubscription.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeStompPeer.h"
#include "ZQBytesMessage.h"
#include "ZQExceptions.h"
#include "ZQMQTransportRabbitMQ.h"
#include "ZQMapMessage.h"
#include "ZQObjectMessage.h"
#include "ZQTextMessage.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::FakeStompPeer;
using testing::PeerHeaders;
using ::testing::StartsWith;

std::shared_ptr<TZQMQTransportRabbitMQ> Open(const FakeStompPeer& Peer, const std::string& Query = "") {
  auto transport = TZQMQTransportRabbitMQ::Create();
  transport->SetURI(TZQURI::Create(Peer.Url(Query)));
  transport->Connect();
  return transport;
}

std::shared_ptr<TZQTextMessage> Text(const std::string& Body) {
  auto message = std::make_shared<TZQTextMessage>(std::weak_ptr<TZQStompClient>{});
  message->SetText(Body);
  return message;
}

std::string TextOf(const IMessagePtr& Message) {
  const auto text = std::dynamic_pointer_cast<ITextMessage>(Message);
  return text ? text->GetText() : "<not a text message>";
}

// A broker MESSAGE with a text body.
std::string TextMessageFrame(const std::string& Body, const std::string& Id = "m-1") {
  return testing::MessageFrame("/queue/a", Id, "sub-1", Body, {{"content-type", "text/plain"}});
}

// --- SEND frames ---

struct SendCase {
  const char* Title;
  std::function<void(TZQMQTransportRabbitMQ&)> Send;
  std::string Expected;
};

class TransportSendPeerTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(TransportSendPeerTest, WritesExactlyThisFrame) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).ExpectFrame(GetParam().Expected);
  peer.Start();
  const auto transport = Open(peer);
  GetParam().Send(*transport);
  EXPECT_TRUE(peer.Done());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, TransportSendPeerTest,
    ::testing::Values(
        SendCase{"LargeTextWrittenWhole",
                 [](TZQMQTransportRabbitMQ& T) { T.Send(*Text(std::string(300000, 'L')), "/queue/a", -1); },
                 "SEND\ndestination:/queue/a\ncontent-length:300000\ncontent-type:text/plain\n\n" +
                     std::string(300000, 'L') + '\0'},
        SendCase{"TextWithContentLengthCountingNuls",
                 [](TZQMQTransportRabbitMQ& T) { T.Send(*Text("ab\0cd"s), "/queue/a", -1); },
                 "SEND\ndestination:/queue/a\ncontent-length:5\ncontent-type:text/plain\n\nab\0cd\0"s},
        SendCase{
            "BytesWithContentLength",
            [](TZQMQTransportRabbitMQ& T) { T.Send(TZQBytesMessage({}, "\0\1\0"s, ""), "/queue/a", -1); },
            "SEND\ndestination:/queue/a\ncontent-length:3\ncontent-type:application/octet-stream\n\n\0\1\0\0"s},
        SendCase{
            "MapWithContentLength",
            [](TZQMQTransportRabbitMQ& T) {
              T.SetMapTransformationID("m1");
              T.Send(TZQMapMessage({}, "k\0v"s, ""), "/queue/a", -1);
            },
            "SEND\ndestination:/queue/a\ncontent-length:3\ncontent-type:text/plain\ntransformation:m1\n\nk\0v\0"s},
        SendCase{
            "ObjectWithContentLength",
            [](TZQMQTransportRabbitMQ& T) {
              T.SetObjectTransformationID("o1");
              T.Send(TZQObjectMessage({}, "obj", ""), "/queue/a", -1);
            },
            "SEND\ndestination:/queue/a\ncontent-length:3\ncontent-type:text/plain\ntransformation:o1\n\nobj\0"s},
        SendCase{
            "TimeToLiveInMilliseconds",
            [](TZQMQTransportRabbitMQ& T) { T.Send(*Text("x"), "/queue/a", -1, 400ms); },
            "SEND\ndestination:/queue/a\ncontent-length:1\nexpiration:400\ncontent-type:text/plain\n\nx\0"s},
        SendCase{"DurableUnsubscribe",
                 [](TZQMQTransportRabbitMQ& T) { T.UnsubscribeDurable("/topic/news", "sub-d"); },
                 "UNSUBSCRIBE\nid:sub-d\npersistent:true\nauto-delete:false\n\n\0"s},
        SendCase{"TemporaryQueueConsumerSendsNoUnsubscribe",
                 [](TZQMQTransportRabbitMQ& T) {
                   T.Unsubscribe("/temp-queue/tmp-0");
                   T.Unsubscribe("/reply-queue/amq.gen-r1");
                   T.Unsubscribe("sub-1");
                 },
                 "UNSUBSCRIBE\nid:sub-1\n\n\0"s},
        SendCase{"DestinationWithParametersWritesNothing",
                 [](TZQMQTransportRabbitMQ& T) {
                   EXPECT_THROW(T.Send(*Text("x"), "/queue/a?b=c", -1), EMQException);
                   T.Send(*Text("y"), "/queue/a", -1);
                 },
                 "SEND\ndestination:/queue/a\ncontent-length:1\ncontent-type:text/plain\n\ny\0"s}),
    [](const ::testing::TestParamInfo<SendCase>& info) { return std::string(info.param.Title); });

TEST(TransportPeerTest, PersistentSendReturnsOnlyAfterItsReceipt) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .ExpectFrameStartingWith(
          "SEND\ndestination:/queue/a\ncontent-length:1\npersistent:true\n"
          "content-type:text/plain\nreceipt:send.receipt.id.")
      .Stall(100ms)
      .SendReceiptForLastFrame();
  peer.Start();
  const auto transport = Open(peer);
  auto message = Text("x");
  message->SetDeliveryMode(1);
  transport->Send(*message, "/queue/a", -1);
  EXPECT_TRUE(transport->GetReceiptReceived());
  EXPECT_TRUE(peer.Done());
}

// The broker answers the receipt of a SEND inside a transaction only when COMMIT applies it: the send
// does not wait, and the COMMIT hands the receipt ids of its persistent SENDs to the caller.
TEST(TransportPeerTest, APersistentSendInsideATransactionLeavesItsReceiptToTheCommit) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame().ReadFrame();
  peer.Start();
  const auto transport = Open(peer);
  auto persistent = Text("p");
  persistent->SetDeliveryMode(1);
  persistent->SetTransactionID("tx-1");
  transport->Send(*persistent, "/queue/a", -1);
  auto plain = Text("n");
  plain->SetTransactionID("tx-1");
  transport->Send(*plain, "/queue/a", -1);
  const std::vector<std::string> receipts = transport->CommitTransaction("tx-1");
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  EXPECT_THAT(frames[1], ::testing::StartsWith("SEND\ndestination:/queue/a\ncontent-length:1\npersistent:true\n"
                                               "transaction:tx-1\ncontent-type:text/plain\nreceipt:send.receipt."));
  EXPECT_EQ(receipts, std::vector<std::string>{testing::FrameHeader(frames[1], "receipt")});
  EXPECT_EQ(testing::FrameHeader(frames[2], "receipt"), "");
  EXPECT_EQ(frames[3], "COMMIT\ntransaction:tx-1\n\n"s + '\0');
}

TEST(TransportPeerTest, ReservedPropertyStopsTheSendBeforeAnythingIsWritten) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .ExpectFrame("SEND\ndestination:/queue/a\ncontent-length:1\ncontent-type:text/plain\n\ny\0"s);
  peer.Start();
  const auto transport = Open(peer);
  auto bad = Text("x");
  bad->SetStringProperty("login", "me");
  EXPECT_THROW(transport->Send(*bad, "/queue/a", -1), EZQReservedProperty);
  transport->Send(*Text("y"), "/queue/a", -1);
  EXPECT_TRUE(peer.Done());
}

// --- Receiving ---

TEST(TransportPeerTest, EachReceiveCallReturnsTheMessageOfTheFrameItRead) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .Send(TextMessageFrame("one", "m-1"))
      .Send(TextMessageFrame("two", "m-2"))
      .Send(TextMessageFrame("three", "m-3"))
      .Send(testing::ReceiptFrame("r-1"));
  peer.Start();
  const auto transport = Open(peer);
  std::vector<IMessagePtr> offered;
  transport->SetOnMessage([&](const IMessagePtr& Message) { offered.push_back(Message); });

  const IMessagePtr one = transport->Receive();
  EXPECT_EQ(TextOf(one), "one");
  EXPECT_EQ(one->GetMessageID(), "m-1");
  EXPECT_EQ(TextOf(transport->Receive(2000)), "two");
  IMessagePtr three;
  for (int attempt = 0; attempt < 2000 && !three; ++attempt) {
    three = transport->ReceiveNoWait();
  }
  EXPECT_EQ(TextOf(three), "three");
  // A RECEIPT gives no message.
  EXPECT_EQ(transport->Receive(2000), nullptr);
  EXPECT_EQ(transport->GetLastMessage(), nullptr);
  EXPECT_EQ(offered.size(), 3u);
  EXPECT_TRUE(peer.Done());
}

TEST(TransportPeerTest, ReceiveCallsWithoutAFrameReturnNothing) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame());
  peer.Start();
  const auto transport = Open(peer);
  EXPECT_EQ(transport->ReceiveNoWait(), nullptr);
  EXPECT_EQ(transport->Receive(20), nullptr);
  EXPECT_TRUE(peer.Done());
}

TEST(TransportPeerTest, ErrorFrameEndsTheReceiveWithTheBrokersText) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).Send(testing::ErrorFrame("bad thing", "details"));
  peer.Start();
  const auto transport = Open(peer);
  try {
    transport->Receive(2000);
    FAIL() << "no error";
  } catch (const EZQStompServerErrorMessage& error) {
    EXPECT_STREQ(error.what(), "bad thing details");
  }
}

TEST(TransportPeerTest, MessagesReadDuringAReceiptWaitAreReturnedFirstInOrder) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .ExpectFrameStartingWith("SEND\ndestination:/queue/b\ncontent-length:1\npersistent:true\n")
      .Send(TextMessageFrame("kept-1", "m-1"))
      .Send(TextMessageFrame("kept-2", "m-2"))
      .SendReceiptForLastFrame()
      .Send(TextMessageFrame("later", "m-3"));
  peer.Start();
  const auto transport = Open(peer);
  std::vector<std::string> offered;
  transport->SetOnMessage([&](const IMessagePtr& Message) { offered.push_back(TextOf(Message)); });

  auto message = Text("x");
  message->SetDeliveryMode(1);
  transport->Send(*message, "/queue/b", -1);
  // The kept frames become messages only when a receive call hands them out.
  EXPECT_TRUE(offered.empty());
  EXPECT_EQ(TextOf(transport->ReceiveNoWait()), "kept-1");
  EXPECT_EQ(TextOf(transport->Receive()), "kept-2");
  EXPECT_EQ(TextOf(transport->Receive(2000)), "later");
  EXPECT_EQ(offered, (std::vector<std::string>{"kept-1", "kept-2", "later"}));
  EXPECT_TRUE(peer.Done());
}

TEST(TransportPeerTest, UnmappableReplyToStillDeliversTheMessage) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .Send(testing::MessageFrame("/queue/a", "m-1", "sub-1", "body",
                                  {{"content-type", "text/plain"}, {"reply-to", "/somewhere/else"}}))
      .Send(TextMessageFrame("next", "m-2"));
  peer.Start();
  const auto transport = Open(peer);
  const IMessagePtr message = transport->Receive(2000);
  EXPECT_EQ(TextOf(message), "body");
  EXPECT_EQ(message->GetReplyTo(), nullptr);
  EXPECT_EQ(TextOf(transport->Receive(2000)), "next");
  EXPECT_TRUE(peer.Done());
}

}  // namespace
}  // namespace velmor
