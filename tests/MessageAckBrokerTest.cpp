// Against RabbitMQ: a message acknowledged with Acknowledge is gone for good, one rejected with Nack
// comes back.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BrokerFixture.h"
#include "RecordingClient.h"
#include "ZQCommAdapterIndy.h"
#include "ZQStompClient.h"
#include "ZQTextMessage.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using testing::Broker;
using testing::BrokerUrl;
using testing::MessageFromFrame;
using testing::UniqueName;

// Unused queues of these tests disappear on the broker ten seconds after their last use.
const std::string QueueExpiry = "10000";

// A STOMP client that keeps the MESSAGE frames it is handed.
class TAckClient final : public testing::TRecordingClient {
 public:
  static std::shared_ptr<TAckClient> Open() {
    auto client = testing::NewClient<TAckClient>(
        TZQCommAdapterIndy::Create(), BrokerUrl("disconnect.receipt=true"), Broker().User, Broker().Pass);
    client->Connect();
    return client;
  }

  void SendText(const std::string& Queue, const std::string& Text) {
    Send("/queue/" + Queue, Text, {{"content-type", "text/plain"}, {"x-expires", QueueExpiry}}, true, false,
         -1);
  }

  void SubscribeTo(const std::string& Queue, uint8_t AckMode, const std::string& ID) {
    Subscribe("/queue/" + Queue + "?x-expires=" + QueueExpiry, AckMode, ID, "", false);
  }

  // The next MESSAGE frame within Timeout, or nullptr.
  IStompFramePtr NextMessageFrame(std::chrono::milliseconds Timeout) {
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (Messages.empty()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return nullptr;
      }
      GetCommAdapter()->ReadOneMessage(static_cast<int32_t>(left.count()), false);
    }
    IStompFramePtr frame = Messages.front();
    Messages.erase(Messages.begin());
    return frame;
  }
};

constexpr std::chrono::milliseconds Arrival{5000};
constexpr std::chrono::milliseconds Quiet{500};

class MessageAckBrokerTest : public testing::BrokerTest {};

TEST_F(MessageAckBrokerTest, AcknowledgedMessageIsNotRedelivered) {
  const std::string queue = UniqueName("velmor-ack");
  {
    const auto client = TAckClient::Open();
    ASSERT_EQ(client->GetVersion(), 3);
    client->SendText(queue, "one");
    client->SendText(queue, "two");
    client->SubscribeTo(queue, AckModeClientIndividual, "s1");

    const IStompFramePtr first = client->NextMessageFrame(Arrival);
    ASSERT_NE(first, nullptr);
    const auto one = MessageFromFrame(client, *first);
    EXPECT_EQ(one->GetText(), "one");
    EXPECT_FALSE(one->GetRedelivered());
    one->Acknowledge();

    // The second stays unacknowledged, so the broker must hand it out again; it is the control.
    const IStompFramePtr second = client->NextMessageFrame(Arrival);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->GetBodyText(), "two");
    client->Disconnect();
  }
  const auto client = TAckClient::Open();
  client->SubscribeTo(queue, AckModeClientIndividual, "s2");
  const IStompFramePtr again = client->NextMessageFrame(Arrival);
  ASSERT_NE(again, nullptr);
  const auto two = MessageFromFrame(client, *again);
  EXPECT_EQ(two->GetText(), "two");
  EXPECT_TRUE(two->GetRedelivered());
  two->Acknowledge();
  EXPECT_EQ(client->NextMessageFrame(Quiet), nullptr) << "an acknowledged message came back";
  client->Disconnect();
}

TEST_F(MessageAckBrokerTest, RejectedMessageIsRedelivered) {
  const std::string queue = UniqueName("velmor-nack");
  const auto client = TAckClient::Open();
  client->SendText(queue, "x");
  client->SubscribeTo(queue, AckModeClientIndividual, "s1");

  const IStompFramePtr first = client->NextMessageFrame(Arrival);
  ASSERT_NE(first, nullptr);
  const auto rejected = MessageFromFrame(client, *first);
  EXPECT_EQ(rejected->GetText(), "x");
  EXPECT_FALSE(rejected->GetRedelivered());
  rejected->Nack();

  const IStompFramePtr second = client->NextMessageFrame(Arrival);
  ASSERT_NE(second, nullptr) << "the rejected message did not come back";
  const auto redelivered = MessageFromFrame(client, *second);
  EXPECT_EQ(redelivered->GetText(), "x");
  EXPECT_TRUE(redelivered->GetRedelivered());
  redelivered->Acknowledge();
  EXPECT_EQ(client->NextMessageFrame(Quiet), nullptr);
  client->Disconnect();
}

TEST_F(MessageAckBrokerTest, MessageAcknowledgedInClientModeIsGoneAfterReconnect) {
  const std::string queue = UniqueName("velmor-ack-client");
  {
    const auto client = TAckClient::Open();
    client->SendText(queue, "only");
    client->SubscribeTo(queue, AckModeClient, "s1");
    const IStompFramePtr frame = client->NextMessageFrame(Arrival);
    ASSERT_NE(frame, nullptr);
    MessageFromFrame(client, *frame)->Acknowledge();
    client->Disconnect();
  }
  const auto client = TAckClient::Open();
  client->SubscribeTo(queue, AckModeClient, "s2");
  EXPECT_EQ(client->NextMessageFrame(Quiet), nullptr) << "an acknowledged message came back";
  client->Disconnect();
}

}  // namespace
}  // namespace velmor
