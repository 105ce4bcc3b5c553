// A received message acknowledges and rejects itself on its connection: the ACK and NACK frames that
// reach the broker, per protocol version, and what happens once the connection is gone.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeStompPeer.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "RecordingClient.h"
#include "WaitUntil.h"
#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"
#include "ZQMQConsumer.h"
#include "ZQMQInterfaces.h"
#include "ZQStompClient.h"
#include "ZQTextMessage.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using testing::FakeStompPeer;
using testing::MessageFromFrame;
using testing::PeerHeaders;
using namespace std::string_literals;

// A STOMP client that keeps the MESSAGE frames it is handed.
class TAckClient final : public testing::TRecordingClient {
 public:
  static std::shared_ptr<TAckClient> Open(const std::string& Url) {
    auto client = testing::NewClient<TAckClient>(TZQCommAdapterIndy::Create(), Url);
    client->Connect();
    return client;
  }

  // Reads one frame; it must be a MESSAGE.
  IStompFramePtr ReadMessageFrame() {
    Messages.clear();
    GetCommAdapter()->ReadOneMessage(5000, true);
    return Messages.empty() ? nullptr : Messages.front();
  }
};

// One MESSAGE as a broker of that version sends it; "ack" is there for every version, so that the
// versions before 1.2 show that they ignore it.
std::string BrokerMessage() {
  return testing::MessageFrame("/queue/a", "m-1", "sub-1", "hello", {{"ack", "ack-1"}});
}

struct AckCase {
  const char* Name;
  const char* Version;
  bool Reject;
  const char* Transaction;
  std::string Expected;
};

void PrintTo(const AckCase& Case, std::ostream* os) {
  *os << Case.Name;
}

class AckFramePeerTest : public ::testing::TestWithParam<AckCase> {};

TEST_P(AckFramePeerTest, WritesTheFrameOfTheNegotiatedVersion) {
  const AckCase& Case = GetParam();
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame(Case.Version))
      .Send(BrokerMessage())
      .ExpectFrame(Case.Expected);
  peer.Start();

  const auto client = TAckClient::Open(peer.Url());
  const IStompFramePtr frame = client->ReadMessageFrame();
  ASSERT_NE(frame, nullptr);
  const auto message = MessageFromFrame(client, *frame);
  std::dynamic_pointer_cast<ITransactionIdSupport>(message)->SetTransactionID(Case.Transaction);
  std::dynamic_pointer_cast<IExtraHeadersSupport>(message)->SetExtraHeaders({"x-a=1", "x-b=2"});
  if (Case.Reject) {
    message->Nack();
  } else {
    message->Acknowledge();
  }
  EXPECT_TRUE(peer.Done());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, AckFramePeerTest,
    ::testing::Values(
        AckCase{"Ack10", "1.0", false, "", "ACK\nmessage-id:m-1\n\n\0"s},
        AckCase{"Ack10InTransaction", "1.0", false, "tx-1", "ACK\nmessage-id:m-1\ntransaction:tx-1\n\n\0"s},
        AckCase{"Ack11", "1.1", false, "", "ACK\nmessage-id:m-1\nsubscription:sub-1\n\n\0"s},
        AckCase{"Ack11InTransaction", "1.1", false, "tx-1",
                "ACK\nmessage-id:m-1\nsubscription:sub-1\ntransaction:tx-1\n\n\0"s},
        AckCase{"Ack12", "1.2", false, "", "ACK\nid:ack-1\n\n\0"s},
        AckCase{"Ack12InTransaction", "1.2", false, "tx-1", "ACK\nid:ack-1\ntransaction:tx-1\n\n\0"s},
        AckCase{"Nack11", "1.1", true, "", "NACK\nmessage-id:m-1\nsubscription:sub-1\nx-a:1\nx-b:2\n\n\0"s},
        AckCase{"Nack11InTransaction", "1.1", true, "tx-1",
                "NACK\nmessage-id:m-1\nsubscription:sub-1\nx-a:1\nx-b:2\ntransaction:tx-1\n\n\0"s},
        AckCase{"Nack12", "1.2", true, "", "NACK\nid:ack-1\nx-a:1\nx-b:2\n\n\0"s},
        AckCase{"Nack12InTransaction", "1.2", true, "tx-1",
                "NACK\nid:ack-1\nx-a:1\nx-b:2\ntransaction:tx-1\n\n\0"s}),
    [](const ::testing::TestParamInfo<AckCase>& info) { return std::string(info.param.Name); });

TEST(MessageAckPeerTest, NackOnStomp10IsRefusedBeforeAnythingIsWritten) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame("1.0"))
      .Send(BrokerMessage())
      .ExpectFrame("ACK\nmessage-id:m-1\n\n\0"s);
  peer.Start();

  const auto client = TAckClient::Open(peer.Url());
  const IStompFramePtr frame = client->ReadMessageFrame();
  ASSERT_NE(frame, nullptr);
  const auto message = MessageFromFrame(client, *frame);
  try {
    message->Nack();
    FAIL() << "NACK went out on STOMP 1.0";
  } catch (const EZQStompError& e) {
    EXPECT_STREQ(e.what(), "STOMP 1.1 support is required for this operation.");
  }
  // The ACK is the first frame after CONNECT that the broker reads: the NACK wrote nothing.
  message->Acknowledge();
  EXPECT_TRUE(peer.Done());
}

TEST(MessageAckPeerTest, UnderStomp12WithoutAnAckHeaderTheAckIdIsEmptyAndRefused) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(testing::ConnectedFrame("1.2"))
      .Send(testing::MessageFrame("/queue/a", "m-1", "sub-1", "hello"))
      .ExpectFrame("ACK\nid:later\n\n\0"s);
  peer.Start();

  const auto client = TAckClient::Open(peer.Url());
  const IStompFramePtr frame = client->ReadMessageFrame();
  ASSERT_NE(frame, nullptr);
  const auto message = MessageFromFrame(client, *frame);
  EXPECT_EQ(message->GetAckID(), "");
  EXPECT_THROW(message->Acknowledge(), EAssertionFailed);
  message->SetStringProperty("ack", "later");
  message->Acknowledge();
  EXPECT_TRUE(peer.Done());
}

TEST(MessageAckPeerTest, AcknowledgeAfterTheClientIsGoneRaisesAndWritesNothing) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame("1.2")).Send(BrokerMessage()).ExpectClosed();
  peer.Start();

  auto client = TAckClient::Open(peer.Url());
  const IStompFramePtr frame = client->ReadMessageFrame();
  ASSERT_NE(frame, nullptr);
  const auto message = MessageFromFrame(client, *frame);
  client.reset();

  EXPECT_THROW(message->Acknowledge(), EIllegalStateException);
  EXPECT_THROW(message->Nack(), EIllegalStateException);
  EXPECT_THROW((void)message->GetAckID(), EIllegalStateException);
  // The message itself stays readable.
  EXPECT_EQ(message->GetText(), "hello");
  EXPECT_EQ(message->GetStringProperty("ack"), "ack-1");
  EXPECT_TRUE(peer.Done());
  EXPECT_EQ(peer.Written().find("ACK"), std::string::npos) << testing::Printable(peer.Written());
}

// A received message settled where the broker expects no ACK or NACK, or takes none any more: what is
// refused raises before anything is written, what is settled already writes nothing, and the
// connection keeps working.
struct SettleWorld {
  std::shared_ptr<TZQConnection> Connection;
  ISessionPtr Session;
  // The consumer as the simplified API holds it: releasing it closes the consumer.
  std::shared_ptr<TZQMQConsumer> Consumer;
  IMessagePtr Message;
};

struct SettleCase {
  const char* Name;
  const char* Version;
  uint8_t Mode;  // AcknowledgeModeTransacted makes a transacted session
  // What happens after the receive, and how many frames that writes.
  std::function<void(SettleWorld&)> Before;
  int FramesBefore;
  bool Reject;         // Nack, else Acknowledge
  std::string Raised;  // "<nothing raised>" when the call returns
  // How the connection ends before the call: "" (it stays), "broker" or "client".
  std::string Ends = "";
};

void PrintTo(const SettleCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class SettlePeerTest : public ::testing::TestWithParam<SettleCase> {};

TEST_P(SettlePeerTest, RaisesOrReturnsWithoutWritingAndTheConnectionKeepsWorking) {
  const SettleCase& c = GetParam();
  const bool transacted = c.Mode == AcknowledgeModeTransacted;
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame(c.Version)).ReadFrame();
  if (transacted)
    peer.ReadFrame();
  peer.SendWith([&peer] {
    return testing::MessageFrame("/queue/q", "m-1", testing::FrameHeader(peer.LastFrame(), "id"), "one",
                                 {{"ack", "ack-1"}, {"content-type", "text/plain"}});
  });
  for (int i = 0; i < c.FramesBefore; ++i)
    peer.ReadFrame();
  if (c.Ends == "broker")
    peer.CloseConnection();
  else if (c.Ends == "client")
    peer.ExpectClosed();
  else
    peer.ExpectFrameStartingWith("SEND\ndestination:/queue/after\n");
  peer.Start();
  SettleWorld world;
  world.Connection = testing::NewConnection(peer.Url());
  world.Connection->Start();
  const ISessionPtr other = world.Connection->CreateSession(false, AcknowledgeModeAuto);
  world.Session = world.Connection->CreateSession(transacted, c.Mode);
  world.Consumer = std::make_shared<TZQMQConsumer>(world.Session, world.Session->CreateQueue("q"));
  world.Message = world.Consumer->Receive(5000);
  ASSERT_EQ(testing::TextOf(world.Message), "one");
  if (c.Before)
    c.Before(world);
  if (c.Ends == "broker")
    testing::WaitUntil([&] { return !world.Connection->IsConnected(); });
  EXPECT_EQ(testing::MessageOf<EIllegalStateException>(
                [&] { c.Reject ? world.Message->Nack() : world.Message->Acknowledge(); }),
            c.Raised);
  if (c.Ends.empty()) {
    other->CreateProducer(other->CreateQueue("after"))->Send(other->CreateTextMessage("x"));
    EXPECT_TRUE(world.Connection->IsConnected());
  }
  EXPECT_TRUE(peer.Done());
}

const std::string Nothing = "<nothing raised>";
const std::string Settled = "Cannot reject the message: it has been acknowledged or rejected already";

INSTANTIATE_TEST_SUITE_P(
    MessageAckPeerTest, SettlePeerTest,
    ::testing::Values(
        // The broker counted the message as consumed when it delivered it.
        SettleCase{"AcknowledgeUnderAutomaticAcknowledgementOn12", "1.2", AcknowledgeModeAuto, nullptr, 0, false,
                   Nothing},
        SettleCase{"AcknowledgeUnderAutomaticAcknowledgementOn11", "1.1", AcknowledgeModeAuto, nullptr, 0, false,
                   Nothing},
        SettleCase{"NackUnderAutomaticAcknowledgement", "1.2", AcknowledgeModeAuto, nullptr, 0, true,
                   "Cannot reject the message: it was acknowledged automatically when the broker delivered it"},
        // The transaction settles it at Commit or Rollback.
        SettleCase{"AcknowledgeInATransaction", "1.2", AcknowledgeModeTransacted, nullptr, 0, false, Nothing},
        // The broker takes no ACK or NACK of a subscription that ended.
        SettleCase{"AcknowledgeAfterTheConsumerWasReleased", "1.2", AcknowledgeModeClientIndividual,
                   [](SettleWorld& W) { W.Consumer.reset(); }, 1, false,
                   "Cannot acknowledge the message: its consumer is closed, and the broker hands the message "
                   "out again once the connection ends"},
        SettleCase{"NackInATransactionAfterTheConsumerClosed", "1.2", AcknowledgeModeTransacted,
                   [](SettleWorld& W) { W.Consumer->Close(); }, 2, true,
                   "Cannot reject the message: its consumer is closed"},
        // A message is settled once.
        SettleCase{"AcknowledgeTwice", "1.2", AcknowledgeModeClientIndividual,
                   [](SettleWorld& W) { W.Message->Acknowledge(); }, 1, false, Nothing},
        SettleCase{"NackAfterAcknowledge", "1.2", AcknowledgeModeClientIndividual,
                   [](SettleWorld& W) { W.Message->Acknowledge(); }, 1, true, Settled},
        SettleCase{"NackTwice", "1.1", AcknowledgeModeClient, [](SettleWorld& W) { W.Message->Nack(); }, 1, true,
                   Settled},
        // The connection is gone.
        SettleCase{"AcknowledgeAfterTheBrokerClosedTheConnection", "1.2", AcknowledgeModeClientIndividual,
                   nullptr, 0, false,
                   "Cannot acknowledge the message: the broker closed the connection it came on, and hands the "
                   "message out again",
                   "broker"},
        SettleCase{"AcknowledgeAfterTheConnectionWasClosed", "1.2", AcknowledgeModeAuto,
                   [](SettleWorld& W) { W.Connection->Close(); }, 2, false,
                   "Cannot acknowledge the message: the connection it belongs to is closed", "client"}),
    [](const ::testing::TestParamInfo<SettleCase>& Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace velmor
