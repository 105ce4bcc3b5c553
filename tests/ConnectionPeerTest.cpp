// Connection, session, producer and consumer against a scripted broker, where the exact frames matter:
// forwarding, refused temporary queues, messages kept for other consumers (early replies among them),
// the connect time-out and closing after a failed session close.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FakeStompPeer.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "WaitUntil.h"
#include "ZQDateTime.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using ::testing::EndsWith;
using testing::FakeStompPeer;
using testing::FrameHeader;
using testing::MessageOf;
using ::testing::StartsWith;
using testing::TextOf;

// The broker's MESSAGE for the temporary queue Queue ("tmp-0"): its subscription is the queue's name.
std::string TemporaryQueueMessage(const std::string& Queue, const std::string& Body, const std::string& Id) {
  return testing::MessageFrame("/reply-queue/amq.gen-" + Queue, Id, "/temp-queue/" + Queue, Body,
                               {{"content-type", "text/plain"}});
}

std::shared_ptr<TZQConnection> Started(const FakeStompPeer& Peer) {
  auto connection = testing::NewConnection(Peer.Url());
  connection->Start();
  return connection;
}

// A topic option named like a header that keeps a durable subscription would make it silently
// non-durable: it is refused before anything is written.
TEST(ConnectionPeerTest, ADurableSubscriberRefusesTopicOptionsThatWouldEndItWithItsConnection) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).ExpectFrameStartingWith("DISCONNECT\n");
  peer.Start();
  const auto connection = Started(peer);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  for (const std::string option : {"persistent=false", "durable=false", "auto-delete=true"}) {
    EXPECT_EQ(MessageOf<EIllegalArgumentException>(
                  [&] { session->CreateDurableSubscriber(session->CreateTopic("news?" + option), "sub"); }),
              "Destination option \"" + option.substr(0, option.find('=')) +
                  "\" is not allowed: SUBSCRIBE sets that header itself");
  }
  // A name whose deliveries could not be read back.
  EXPECT_EQ(MessageOf<EIllegalArgumentException>([&] {
              session->CreateDurableSubscriber(session->CreateTopic("news"), std::string(16257, 'n'));
            }),
            "Header \"id\" cannot be encoded: the broker would deliver its messages with ids longer than "
            "16384 octets; a durable subscription name may have at most 16256 octets");
  // Names whose deliveries' ids the broker would write with octets that cannot be read back.
  for (const auto& [name, held] : std::vector<std::pair<std::string, std::string>>{
           {"orders:eu", "\":\""}, {"a\\b", "\"\\\""}, {"a\nb", "a line break"}}) {
    EXPECT_EQ(MessageOf<EIllegalArgumentException>(
                  [&] { session->CreateDurableSubscriber(session->CreateTopic("news"), name); }),
              "A durable subscription name must not hold " + held +
                  ": the broker writes the name unescaped into the ids of its deliveries, which could not "
                  "be read");
  }
  connection->Close();
  EXPECT_TRUE(peer.Done());
}

// The connection's temporary queues are refused as send targets before anything is written.
TEST(ConnectionPeerTest, AForwardedMessageCarriesOnlyItsOwnHeadersAndNoTemporaryQueueIsASendTarget) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .Send(testing::MessageFrame("/reply-queue/amq.gen-0", "m-1", "/temp-queue/tmp-0", "hello",
                                  {{"content-type", "text/plain"}, {"ack", "ack-1"}, {"color", "red"}}))
      .ReadFrame();
  peer.Start();
  const auto connection = Started(peer);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto temporary = session->CreateTemporaryQueue();
  const auto consumer = session->CreateConsumer(temporary);
  const IMessagePtr received = consumer->Receive(5000);
  ASSERT_EQ(TextOf(received), "hello");
  const std::string refused =
      "Cannot send to the temporary queue \"tmp-0\": the broker accepts it only as a reply-to";
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { session->CreateProducer(temporary); }), refused);
  const auto producer = session->CreateProducer(session->CreateQueue("out"));
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { producer->Send(temporary, received); }), refused);
  producer->Send(received);
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  EXPECT_EQ(frames[1].find("\nack:"), std::string::npos) << frames[1];
  EXPECT_EQ(frames[1].find("\nsubscription:"), std::string::npos) << frames[1];
  EXPECT_EQ(frames[1].find("content-type"), frames[1].rfind("content-type")) << frames[1];
  EXPECT_EQ(FrameHeader(frames[1], "color"), "red");
  connection->Close();
}

// A queue of the application's own whose name changes between sends.
class TRenamedQueue final : public IQueue {
 public:
  uint8_t GetDestinationKind() const override { return DestinationKindQueue; }
  void SetDestinationKind(uint8_t /*Kind*/) override {}
  std::string GetQueueName() const override { return Name; }
  std::string Name = "first";
};

// The frame carries the send's delivery fields, the caller's message keeps its own (but the expiration),
// and each send goes where its destination points at that moment.
TEST(ConnectionPeerTest, ASendStampsItsFrameAloneAndFollowsItsDestination) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame());
  for (int frame = 0; frame < 6; ++frame)
    peer.ReadFrame();
  peer.Start();
  const auto connection = Started(peer);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const IQueuePtr queueA = session->CreateQueue("a");
  const auto producer = session->CreateProducer(queueA);
  const ITextMessagePtr message = session->CreateTextMessage("hi");
  message->SetCorrelationID("c-1");
  message->SetDeliveryMode(1);
  message->SetPriority(7);
  std::dynamic_pointer_cast<ITransactionIdSupport>(message)->SetTransactionID("tx-own");

  producer->Send(message, 0, 4, 60000);
  EXPECT_EQ(message->GetDeliveryMode(), 1);
  EXPECT_EQ(message->GetPriority(), 7);
  EXPECT_EQ(std::dynamic_pointer_cast<ITransactionIdSupport>(message)->GetTransactionID(), "tx-own");
  EXPECT_EQ(message->GetTimestamp(), 0.0);
  EXPECT_EQ(message->GetDestination(), nullptr);
  EXPECT_GT(message->GetExpiration(), NowUTC());

  const auto renamed = std::make_shared<TRenamedQueue>();
  producer->Send(session->CreateQueue("b"), message);
  producer->Send(message);
  producer->Send(renamed, message);
  renamed->Name = "second";
  producer->Send(renamed, message);
  // A library destination whose kind changed is looked at again: a queue is no topic.
  queueA->SetDestinationKind(DestinationKindTopic);
  EXPECT_THROW(producer->Send(message), EIllegalStateException);
  queueA->SetDestinationKind(DestinationKindQueue);
  producer->Send(message);
  ASSERT_TRUE(peer.Done());

  const std::vector<std::string> frames = peer.Frames();
  EXPECT_EQ(frames[1],
            "SEND\ndestination:/queue/a\ncontent-length:2\ncorrelation-id:c-1\nexpiration:60000\npriority:4\n"
            "content-type:text/plain\n\nhi\0"s);
  const std::vector<std::string> destinations = {"/queue/b", "/queue/a", "/queue/first", "/queue/second",
                                                 "/queue/a"};
  for (std::size_t i = 0; i < destinations.size(); ++i) {
    EXPECT_EQ(FrameHeader(frames[i + 2], "destination"), destinations[i]);
    EXPECT_EQ(FrameHeader(frames[i + 2], "persistent"), "");
    EXPECT_EQ(FrameHeader(frames[i + 2], "transaction"), "");
  }
  connection->Close();
}

TEST(ConnectionPeerTest, MessagesForOtherConsumersAreKeptWithinBoundsAndStampedByTheirOwnSession) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .ReadFrame()  // BEGIN of the transacted session
      .Send(TemporaryQueueMessage("tmp-1", "b1", "m-1"))
      .Send(TemporaryQueueMessage("tmp-1", "b2", "m-2"))
      .Send(TemporaryQueueMessage("tmp-0", "a1", "m-3"))
      .Send(TemporaryQueueMessage("tmp-9", "ghost", "m-4"));
  peer.Start();
  const auto connection = Started(peer);
  connection->SetMessageStoreLimits(1, 1024);
  const ISessionPtr plain = connection->CreateSession(false, AcknowledgeModeAuto);
  const ISessionPtr transacted = connection->CreateSession(true, AcknowledgeModeTransacted);
  const auto consumerA = plain->CreateConsumer(plain->CreateTemporaryQueue());
  const auto consumerB = transacted->CreateConsumer(transacted->CreateTemporaryQueue());

  // Counted by its size as received, headers included: the frame without the LF after its NUL.
  const std::size_t b1Octets = TemporaryQueueMessage("tmp-1", "b1", "m-1").size() - 1;
  EXPECT_THAT(MessageOf<EIllegalStateException>([&] { consumerA->Receive(5000); }),
              StartsWith("1 messages (" + std::to_string(b1Octets) +
                         " octets) wait for other consumers of this connection"));
  const IMessagePtr b1 = consumerB->Receive(5000);
  EXPECT_EQ(TextOf(b1), "b1");
  EXPECT_EQ(TextOf(consumerB->Receive(5000)), "b2");
  const IMessagePtr a1 = consumerA->Receive(5000);
  EXPECT_EQ(TextOf(a1), "a1");
  const auto transactionOf = [](const IMessagePtr& Message) {
    return std::dynamic_pointer_cast<ITransactionIdSupport>(Message)->GetTransactionID();
  };
  EXPECT_EQ(transactionOf(b1), FrameHeader(peer.Frames().at(1), "transaction"));
  EXPECT_EQ(transactionOf(a1), "");
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { consumerA->Receive(5000); }),
            "Received a MESSAGE frame with unexpected subscription id. Received \"/temp-queue/tmp-9\" but "
            "expected \"/temp-queue/tmp-0\".");
  EXPECT_TRUE(peer.Done());
}

// The broker delivers to a temporary queue without a SUBSCRIBE: a reply that comes before the queue's
// consumer exists is kept for it.
TEST(ConnectionPeerTest, AReplyThatComesBeforeItsConsumerIsKeptForIt) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame())
      .ReadFrame()  // SUBSCRIBE of the plain consumer
      .Send(TemporaryQueueMessage("tmp-0", "reply", "m-1"))
      .SendWith([&peer] {
        return testing::MessageFrame("/queue/plain", "m-2", FrameHeader(peer.LastFrame(), "id"), "plain",
                                     {{"content-type", "text/plain"}});
      })
      .Drain();
  peer.Start();
  const auto connection = Started(peer);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto temporary = session->CreateTemporaryQueue();
  EXPECT_EQ(TextOf(session->CreateConsumer(session->CreateQueue("plain"))->Receive(5000)), "plain");
  EXPECT_EQ(TextOf(session->CreateConsumer(temporary)->ReceiveNoWait()), "reply");
  connection->Close();
  EXPECT_TRUE(peer.Done());
}

// A consumer's UNSUBSCRIBE waits in vain for its receipt while a MESSAGE comes: its session's close
// raises and leaves the connection open. Closing the connection, which meets such a session too, still
// says DISCONNECT and closes the socket.
TEST(ConnectionPeerTest, CloseDisconnectsAlsoWhenASessionCloseFails) {
  FakeStompPeer peer;
  // CONNECT; per session a SUBSCRIBE answered by a MESSAGE and an UNSUBSCRIBE answered by nothing.
  peer.ReadFrame().Send(testing::ConnectedFrame());
  for (int session = 0; session < 2; ++session) {
    peer.ReadFrame().SendWith([&peer] {
      return testing::MessageFrame("/queue/q", "m-1", FrameHeader(peer.LastFrame(), "id"), "m",
                                   {{"content-type", "text/plain"}});
    });
    peer.ReadFrame();
  }
  peer.ExpectFrameStartingWith("DISCONNECT\n").ExpectClosed();
  peer.Start();
  const auto connection =
      testing::NewConnection(peer.Url("unsubscribe.receipt=true&unsubscribe.receipt.timeout=200"));
  connection->Start();
  // Each MESSAGE lies in the socket before the UNSUBSCRIBE goes out, so the receipt wait reads a frame
  // and then runs out, however slowly the peer's thread goes.
  const auto subscribed = [&](const ISessionPtr& Session, std::size_t Steps) {
    Session->CreateConsumer(Session->CreateQueue("q"));
    ASSERT_TRUE(testing::WaitUntil([&] { return peer.StepsDone() >= Steps; }));
  };
  const ISessionPtr failing = connection->CreateSession(false, AcknowledgeModeAuto);
  ASSERT_NO_FATAL_FAILURE(subscribed(failing, 4));
  EXPECT_THAT(MessageOf<EZQStompError>([&] { failing->Close(); }),
              StartsWith("No RECEIPT received. Timeout: 200 msec Expected: unsubscribe.receipt."));
  EXPECT_TRUE(connection->IsConnected());
  ASSERT_NO_FATAL_FAILURE(subscribed(connection->CreateSession(false, AcknowledgeModeAuto), 7));
  EXPECT_NO_THROW(connection->Close());
  EXPECT_FALSE(connection->IsConnected());
  EXPECT_TRUE(peer.Done());
  EXPECT_NO_THROW(connection->Close());
}

// The broker may go on delivering after an ERROR, and counts what it sent as delivered: a MESSAGE
// that came behind the ERROR is kept for its consumer, which the next Start subscribes again.
TEST(ConnectionPeerTest, AMessageThatCameBehindAnErrorIsHandedOutAfterTheNextStart) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame();  // CONNECT, SUBSCRIBE
  peer.SendWith([&peer] {
    return testing::ErrorFrame("No subscription found") +
           testing::MessageFrame("/queue/q", "m-1", FrameHeader(peer.LastFrame(), "id"), "behind",
                                 {{"content-type", "text/plain"}});
  });
  peer.AcceptNext().ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().SendReceiptForLastFrame();
  peer.Start();
  const auto connection = Started(peer);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto consumer = session->CreateConsumer(session->CreateQueue("q"));
  EXPECT_EQ(MessageOf<EZQStompServerErrorMessage>([&] { consumer->Receive(5000); }), "No subscription found");
  connection->Start();
  EXPECT_EQ(TextOf(consumer->ReceiveNoWait()), "behind");
  EXPECT_TRUE(peer.Done());
}

TEST(ConnectionPeerTest, AConnectTimeOutEndsAStartAgainstASilentBroker) {
  FakeStompPeer peer;
  peer.ReadFrame().Stall(5000ms);
  peer.Start();
  auto connection = testing::NewConnection(peer.Url());
  connection->SetConnectTimeout(2000);
  const auto start = std::chrono::steady_clock::now();
  const std::string text = MessageOf<EMQException>([&] { connection->Start(); });
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_THAT(text, StartsWith("The connection has failed due to a transport problem: "));
  EXPECT_THAT(text, EndsWith(" (ConnectTimeOut: 2000 msec)"));
  EXPECT_GE(elapsed, 1800ms);
  EXPECT_LT(elapsed, 4500ms) << "not the 5000 ms the connection waits without a connect time-out";
  EXPECT_EQ(MessageOf<EMQException>([&] { connection->SetClientID("c"); }), text);
  connection.reset();
}

// The broker expects a heart-beat every 500 ms and sends its message only once it has seen three: the
// receive that waits for it writes them.
TEST(ConnectionPeerTest, AReceiveThatWaitsLongerThanTheHeartBeatIntervalWritesTheClientsHeartBeats) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame("1.2", {{"heart-beat", "0,500"}})).ReadFrame();
  peer.ExpectHeartbeat().ExpectHeartbeat().ExpectHeartbeat();
  peer.SendWith([&peer] {
    return testing::MessageFrame("/queue/q", "m-1", FrameHeader(peer.Frames().at(1), "id"), "after beats",
                                 {{"content-type", "text/plain"}});
  });
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url("connect.heart-beat=500,0"));
  const auto start = std::chrono::steady_clock::now();
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto consumer = session->CreateConsumer(session->CreateQueue("q"));
  EXPECT_EQ(TextOf(consumer->Receive(10000)), "after beats");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Each beat falls due 500 ms after the last write, the SUBSCRIBE first.
  EXPECT_GE(elapsed, 1500ms);
  EXPECT_LE(elapsed, 8000ms);
  EXPECT_TRUE(peer.Done());
}

// The broker writes each chunk of a steady stream as the rest of one MESSAGE and the start of the next,
// so every receive finds part of its frame read already: the receives still write the heart-beats that
// fall due meanwhile, and the broker reads one before the test stops receiving.
TEST(ConnectionPeerTest, ReceivesFromASteadyStreamWriteTheHeartBeatsThatFallDueMeanwhile) {
  constexpr int count = 12;
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame("1.2", {{"heart-beat", "0,200"}})).ReadFrame();
  const auto frame = [&peer](int Index) {
    return testing::MessageFrame("/queue/q", "m-" + std::to_string(Index),
                                 FrameHeader(peer.Frames().at(1), "id"), "body",
                                 {{"content-type", "text/plain"}});
  };
  for (int i = 0; i <= count; ++i) {
    peer.SendWith([frame, i] {
      std::string chunk;
      if (i > 0)
        chunk = frame(i - 1).substr(frame(i - 1).size() / 2);
      if (i < count)
        chunk += frame(i).substr(0, frame(i).size() / 2);
      return chunk;
    });
    peer.Stall(120ms);
  }
  peer.ExpectHeartbeat();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url("connect.heart-beat=200,0"));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto consumer = session->CreateConsumer(session->CreateQueue("q"));
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(TextOf(consumer->Receive(10000)), "body");
  EXPECT_TRUE(peer.Done());
}

// A heart-beat from the broker does not end the wait for a receipt: it goes on within the receipt's
// time-out and the heart-beat grace (4 s), and the receipt that comes 1.5 s later is taken.
TEST(ConnectionPeerTest, AReceiptThatComesAfterABrokersHeartBeatWithinTheGraceEndsTheWait) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame("1.2", {{"heart-beat", "2000,0"}})).ReadFrame();
  peer.Send("\n").Stall(1500ms).SendReceiptForLastFrame();
  peer.Start();
  const auto connection =
      testing::NewConnection(peer.Url("connect.heart-beat=0,2000&subscribe.receipt=true"));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  EXPECT_EQ(MessageOf<EMQException>([&] { session->CreateConsumer(session->CreateQueue("q")); }),
            "<nothing raised>");
  EXPECT_TRUE(connection->IsConnected());
  EXPECT_TRUE(peer.Done());
}

// A broker that promised a heart-beat every second and falls silent: the receive, which has no time
// limit of its own, raises once twice that interval has passed, and the connection is gone.
TEST(ConnectionPeerTest, AReceiveFromABrokerThatFellSilentRaisesOnceTheHeartBeatGraceHasPassed) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame("1.2", {{"heart-beat", "1000,0"}})).ReadFrame();
  peer.Stall(8000ms).CloseConnection();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url("connect.heart-beat=0,1000"));
  const auto start = std::chrono::steady_clock::now();
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto consumer = session->CreateConsumer(session->CreateQueue("q"));
  EXPECT_EQ(MessageOf<EZQStompServerHeartbeatMissing>([&] { consumer->Receive(); }), "Heartbeat too late");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 2000ms);
  EXPECT_LE(elapsed, 6000ms);
  EXPECT_FALSE(connection->IsConnected());
}

// The broker refuses one subscription with an ERROR and closes. The Start after it subscribes each
// consumer with a receipt, learns so which one the broker refuses, leaves that one closed with the
// broker's text and connects once more for the others. What the broker had delivered to the refused
// consumer under automatic acknowledgement is still handed out before that text. Closing a consumer or
// a session while the connection is lost raises nothing.
TEST(ConnectionPeerTest, AStartAfterARefusedSubscriptionResumesTheOtherConsumersAndLeavesThatOneClosed) {
  const std::string refusal = testing::ErrorFrame("not_found", "NOT_FOUND - no queue 'gone'");
  FakeStompPeer peer;
  // CONNECT and the SUBSCRIBEs of "before", "gone", "after" and the other session's "spare".
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame().ReadFrame().ReadFrame();
  peer.SendWith([&peer, refusal] {
    return testing::MessageFrame("/amq/queue/gone", "m-0", FrameHeader(peer.Frames().at(2), "id"),
                                 "delivered", {{"content-type", "text/plain"}}) +
           refusal;
  });
  peer.CloseConnection();
  peer.AcceptNext().ReadFrame().Send(testing::ConnectedFrame());
  peer.ReadFrame().SendReceiptForLastFrame().ReadFrame().Send(refusal).CloseConnection();
  peer.AcceptNext().ReadFrame().Send(testing::ConnectedFrame());
  peer.ReadFrame().SendReceiptForLastFrame().ReadFrame().SendReceiptForLastFrame();
  peer.SendWith([&peer] {
    return testing::MessageFrame("/queue/after", "m-1", FrameHeader(peer.LastFrame(), "id"), "resumed",
                                 {{"content-type", "text/plain"}});
  });
  peer.Start();
  const auto connection = Started(peer);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const ISessionPtr spare = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto before = session->CreateConsumer(session->CreateQueue("before"));
  const auto gone = session->CreateConsumer(session->CreateQueue("/amq/queue/gone"));
  const auto after = session->CreateConsumer(session->CreateQueue("after"));
  spare->CreateConsumer(spare->CreateQueue("spare"));
  const std::string text = "not_found NOT_FOUND - no queue 'gone'";
  EXPECT_EQ(MessageOf<EZQStompServerErrorMessage>([&] { before->Receive(5000); }), text);
  EXPECT_EQ(MessageOf<EMQException>([&] { spare->Close(); }), "<nothing raised>");
  EXPECT_EQ(connection->GetSessionCount(), 1u);

  connection->Start();
  EXPECT_EQ(TextOf(after->Receive(5000)), "resumed");
  EXPECT_EQ(TextOf(gone->ReceiveNoWait()), "delivered");
  EXPECT_EQ(MessageOf<EZQStompServerErrorMessage>([&] { gone->Receive(10); }), text);
  EXPECT_EQ(MessageOf<EMQException>([&] { gone->Close(); }), "<nothing raised>");
  ASSERT_TRUE(peer.Done());
  // The second connection ends at "gone"; the third subscribes "before" and "after", "spare" never again.
  const std::vector<std::string> frames = peer.Frames();
  ASSERT_EQ(frames.size(), 11u);
  EXPECT_EQ(FrameHeader(frames[7], "destination"), "/amq/queue/gone");
  EXPECT_EQ(FrameHeader(frames[10], "destination"), "/queue/after");
}

}  // namespace
}  // namespace velmor
