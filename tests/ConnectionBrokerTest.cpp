// The connection against the real broker: what CONNECTED said, heart-beats, and the broker's ERROR.
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

}  // namespace
}  // namespace velmor
