// The connection against the real broker: what CONNECTED said, heart-beats, the broker's ERROR and the
// Start after it.
#include <gtest/gtest.h>

#include <string>

#include "BrokerFixture.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

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
  EXPECT_TRUE(heartbeats.WaitHeartbeat(10000));
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
