// The connection against the real broker: what CONNECTED said, heart-beats, and closing that leaves
// nothing behind on the broker.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "BrokerFixture.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using testing::BrokerUrl;
using testing::MessageOf;
using testing::NewConnection;
using testing::UniqueName;

class ConnectionBrokerTest : public testing::BrokerTest {};

TEST_F(ConnectionBrokerTest, ReportsServerVersionAndHeartbeats) {
  const auto connection = NewConnection(BrokerUrl("connect.heart-beat=1000,1000"));
  EXPECT_FALSE(connection->IsConnected());
  connection->Start();
  EXPECT_TRUE(connection->IsConnected());
  EXPECT_EQ(connection->GetServer().rfind("RabbitMQ/", 0), 0u) << connection->GetServer();
  EXPECT_EQ(connection->GetProtocolVersion(), 3);
  EXPECT_FALSE(connection->GetSessionID().empty());
  IHeartbeatControl& heartbeats = *connection;
  heartbeats.SendHeartbeat();
  EXPECT_TRUE(heartbeats.WaitHeartbeat(3000));
  EXPECT_NO_THROW(heartbeats.CheckHeartbeat());
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { connection->SetClientID("late"); }),
            "Setting ClientID on a used Connection is not allowed");
  connection->Close();
  EXPECT_FALSE(connection->IsConnected());
}

TEST_F(ConnectionBrokerTest, IsConnectedTurnsFalseWhenTheBrokerSendsError) {
  const auto connection = NewConnection(BrokerUrl());
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto consumer = session->CreateConsumer(session->CreateTopic(UniqueName("conn-error")));
  // A queue that does not exist under "/amq/queue/": the broker answers ERROR and closes.
  session->CreateConsumer(session->CreateQueue("/amq/queue/" + UniqueName("missing")));
  EXPECT_THROW(consumer->Receive(5000), EZQStompServerErrorMessage);
  EXPECT_FALSE(connection->IsConnected());
  connection->Close();
}

TEST_F(ConnectionBrokerTest, CloseDisconnectsAlsoWhenASessionCloseFails) {
  // The UNSUBSCRIBE of the closing consumer waits 1 ms for its receipt while messages stream in: the
  // wait ends with "No RECEIPT received", and the session's close raises.
  const auto connection = NewConnection(BrokerUrl("unsubscribe.receipt=true&unsubscribe.receipt.timeout=1"));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto queue = session->CreateQueue(UniqueName("conn-close-fail"));
  const auto producer = session->CreateProducer(queue);
  for (int i = 0; i < 2000; ++i) {
    auto message = session->CreateTextMessage(std::string(2000, 'm'));
    message->SetStringProperty("x-expires", "60000");
    producer->Send(message);
  }
  const ISessionPtr failing = connection->CreateSession(false, AcknowledgeModeAuto);
  failing->CreateConsumer(queue);
  std::this_thread::sleep_for(200ms);
  EXPECT_THROW(failing->Close(), EZQStompError);
  const ISessionPtr other = connection->CreateSession(false, AcknowledgeModeAuto);
  other->CreateConsumer(queue);
  std::this_thread::sleep_for(100ms);
  const std::vector<int> ports = testing::LocalPortsTo(testing::Broker().Port);
  ASSERT_EQ(ports.size(), 1u);
  // The broker may leave this connection out of its list while it is blocked writing to it (the client
  // reads nothing here), so the client's own state shows that it is open.
  ASSERT_TRUE(connection->IsConnected());
  EXPECT_NO_THROW(connection->Close());
  // The broker's own list proves the close: the client's local port is gone from it within 1 s.
  const auto deadline = std::chrono::steady_clock::now() + 1s;
  while (testing::BrokerListsPeerPort(ports[0]) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(testing::BrokerListsPeerPort(ports[0])) << "local port " << ports[0];
  EXPECT_NO_THROW(connection->Close());
}

// The broker refuses a subscription to a queue that does not exist under "/amq/queue/" with an ERROR and
// closes the connection. The Start after it leaves that consumer closed with the broker's text and
// subscribes the others again, which then receive.
TEST_F(ConnectionBrokerTest, AStartAfterARefusedConsumerResumesTheOthersAndLeavesItClosed) {
  const auto connection = NewConnection(BrokerUrl());
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const std::string names[] = {UniqueName("resume-before"), UniqueName("resume-after")};
  const auto before = session->CreateConsumer(session->CreateQueue(names[0] + "?x-expires=60000"));
  const auto refused = session->CreateConsumer(session->CreateQueue("/amq/queue/" + UniqueName("missing")));
  const auto after = session->CreateConsumer(session->CreateQueue(names[1] + "?x-expires=60000"));
  const std::string refusal = MessageOf<EZQStompServerErrorMessage>([&] { before->Receive(5000); });
  EXPECT_EQ(refusal.rfind("not_found NOT_FOUND - no queue", 0), 0u) << refusal;

  connection->Start();
  EXPECT_TRUE(connection->IsConnected());
  for (const std::string& name : names) {
    auto message = session->CreateTextMessage(name);
    message->SetStringProperty("x-expires", "60000");
    session->CreateProducer(session->CreateQueue(name))->Send(message);
  }
  EXPECT_EQ(testing::TextOf(before->Receive(5000)), names[0]);
  EXPECT_EQ(testing::TextOf(after->Receive(5000)), names[1]);
  EXPECT_EQ(MessageOf<EZQStompServerErrorMessage>([&] { refused->Receive(10); }), refusal);
  EXPECT_NO_THROW(refused->Close());
  connection->Close();
}

}  // namespace
}  // namespace velmor
