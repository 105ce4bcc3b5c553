#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BrokerFixture.h"
#include "FakeStompPeer.h"
#include "ZQAdapterRegistry.h"
#include "ZQExceptions.h"
#include "ZQSocket.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using namespace std::string_literals;

std::string ConnectFrame(const std::string& Login, const std::string& Passcode,
                         const std::string& Heartbeat) {
  std::string frame = "CONNECT\naccept-version:1.2\nhost:/\nlogin:" + Login + "\npasscode:" + Passcode + "\n";
  if (!Heartbeat.empty())
    frame += "heart-beat:" + Heartbeat + "\n";
  return frame + "\n" + '\0';
}

// The registry's default adapter with handlers that write CONNECT and record the frames read.
class CommAdapterBrokerTest : public testing::BrokerTest {
 protected:
  void SetUp() override {
    testing::BrokerTest::SetUp();
    Adapter = CreateDefaultAdapter();
    Adapter->SetOnConnected([this](IStompCommAdapter& Self) { Self.Write(Connect, -1); });
    Adapter->SetOnFrame([this](const IStompFramePtr& Frame) { Frames.push_back(Frame); });
  }

  void ConnectTo(const std::string& Host) {
    const testing::BrokerAddress broker = testing::Broker();
    Connect = ConnectFrame(broker.User, broker.Pass, Heartbeat);
    Adapter->Init(CreateURI("stomp://" + Host + ":" + std::to_string(broker.Port), 61613));
    Adapter->Connect();
  }

  static bool BrokerOnLoopback() {
    const std::string host = testing::Broker().Host;
    return host == "127.0.0.1" || host == "localhost";
  }

  IStompCommAdapterPtr Adapter;
  std::vector<IStompFramePtr> Frames;
  std::string Connect;
  std::string Heartbeat;
};

TEST_F(CommAdapterBrokerTest, ConnectsOverIPv4AndReadsConnected) {
  ConnectTo(testing::Broker().Host);
  EXPECT_TRUE(Adapter->IsConnected());
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0]->GetCommand(), "CONNECTED");
  EXPECT_EQ(Frames[0]->GetHeader("version"), "1.2");
  EXPECT_NE(Frames[0]->GetHeader("server").find("RabbitMQ"), std::string::npos);
  Adapter->Disconnect();
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(CommAdapterBrokerTest, ConnectsOverIPv6AndReadsConnected) {
  if (!BrokerOnLoopback())
    GTEST_SKIP() << "the broker is not on this machine's loopback";
  if (!testing::FakeStompPeer::IPv6LoopbackAvailable())
    GTEST_SKIP() << "this machine has no IPv6 loopback";
  ConnectTo("[::1]");
  EXPECT_TRUE(Adapter->IsConnected());
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0]->GetCommand(), "CONNECTED");
  Adapter->Disconnect();
}

TEST_F(CommAdapterBrokerTest, AReceiptComesBackAndTheBrokersCloseEndsReceive) {
  ConnectTo(testing::Broker().Host);
  Adapter->SetVersion(3);
  Adapter->Write("DISCONNECT\nreceipt:bye-1\n\n"s + '\0', -1);
  Adapter->ReadOneMessage(5000, true);
  ASSERT_EQ(Frames.size(), 2u);
  EXPECT_EQ(Frames[1]->GetCommand(), "RECEIPT");
  EXPECT_EQ(Frames[1]->GetHeader("receipt-id"), "bye-1");
  EXPECT_THROW(Adapter->Receive(), EConnClosedGracefully);
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(CommAdapterBrokerTest, AWrongPasscodeIsAnsweredWithAnErrorFrame) {
  const testing::BrokerAddress broker = testing::Broker();
  Connect = ConnectFrame(broker.User, broker.Pass + "-wrong", "");
  Adapter->Init(CreateURI("stomp://" + broker.Host + ":" + std::to_string(broker.Port), 61613));
  Adapter->Connect();
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0]->GetCommand(), "ERROR");
  EXPECT_FALSE(Frames[0]->GetHeader("message").empty());
  Adapter->Disconnect();
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(CommAdapterBrokerTest, WaitHeartbeatSeesTheBrokersHeartbeats) {
  Heartbeat = "0,500";
  ConnectTo(testing::Broker().Host);
  ASSERT_EQ(Frames.size(), 1u);
  // The broker sends at the larger of what it can and what was asked: "<interval>,0".
  const std::string heartbeat = Frames[0]->GetHeader("heart-beat");
  const int interval = std::stoi(heartbeat.substr(0, heartbeat.find(',')));
  ASSERT_GE(interval, 500) << heartbeat;
  ASSERT_LE(interval, 5000) << heartbeat;
  Adapter->SetIncomingHeartbeat(interval);
  EXPECT_TRUE(Adapter->WaitHeartbeat(10 * interval));
  EXPECT_NO_THROW(Adapter->CheckHeartbeat());
  Adapter->Disconnect();
}

}  // namespace
}  // namespace velmor
