// A received message acknowledges and rejects itself on its connection: the ACK and NACK frames that
// reach the broker, per protocol version, and what happens once the connection is gone.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeStompPeer.h"
#include "RecordingClient.h"
#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"
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

}  // namespace
}  // namespace velmor
