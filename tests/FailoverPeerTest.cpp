// The failover loop over real TCP: closed ports, fake brokers that refuse, and the broker that
// finally answers, reached through the client's Connect as an application reaches it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "FakeStompPeer.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "RecordingClient.h"
#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using testing::FakeStompPeer;
using testing::FrameHeader;

// A client as the connection factory leaves it: TCP adapter, base credentials, the URL.
std::shared_ptr<testing::TRecordingClient> ClientFor(const std::string& URL) {
  return testing::NewClient(TZQCommAdapterIndy::Create(), URL, "base", "basepw");
}

// A loopback port on which nothing listens (a peer's port, closed again).
int ClosedPort() {
  FakeStompPeer peer;
  return peer.Port();
}

std::string ClosedUrl() {
  return "stomp://127.0.0.1:" + std::to_string(ClosedPort());
}

// A CONNECT with the given login (and, when not empty, heart-beat request).
auto ConnectWith(const std::string& Login, const std::string& Heartbeat = "") {
  return [Login, Heartbeat](const std::string& Frame) {
    return Frame.rfind("CONNECT\n", 0) == 0 && FrameHeader(Frame, "login") == Login &&
           (Heartbeat.empty() || FrameHeader(Frame, "heart-beat") == Heartbeat);
  };
}

constexpr const char* FastRetries = "?randomize=false&initialReconnectDelay=1&maxReconnectDelay=5";

TEST(FailoverPeerTest, SkipsAClosedPortAndReportsTheBrokerThatAnswered) {
  FakeStompPeer peer;
  peer.ExpectFrameMatching("CONNECT with the base login", ConnectWith("base"))
      .Send(testing::ConnectedFrame("1.2", {{"session", "s-1"}, {"server", "peer-b"}}));
  peer.Start();
  const std::string url =
      "failover:(" + ClosedUrl() + "," + peer.Url() + ")" + FastRetries + "&maxReconnectAttempts=3";
  const auto client = ClientFor(url);
  client->Connect();
  EXPECT_TRUE(client->IsConnected());
  EXPECT_TRUE(client->GetConnected());
  EXPECT_EQ(client->GetServer(), "peer-b");
  EXPECT_EQ(client->GetSessionID(), "s-1");
  EXPECT_EQ(client->GetURI()->GetURI(), peer.Url());
  EXPECT_EQ(client->GetVersion(), 3);
  EXPECT_TRUE(peer.Done());
}

TEST(FailoverPeerTest, AllBrokersDownEndsAtTheAttemptLimitAndKeepsTheFailoverUrl) {
  const std::string url =
      "failover:(" + ClosedUrl() + "," + ClosedUrl() + ")" + FastRetries + "&maxReconnectAttempts=3";
  const auto client = ClientFor(url);
  try {
    client->Connect();
    FAIL() << "connected";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "Reached 3 reconnect attempts");
  }
  EXPECT_FALSE(client->IsConnected());
  EXPECT_EQ(client->GetURI()->GetURI(), url);
  EXPECT_EQ(client->GetLogin(), "base");
  EXPECT_EQ(client->GetPasscode(), "basepw");
}

TEST(FailoverPeerTest, HeartBeatRequestOfAFailedAttemptDoesNotSpoilTheNext) {
  FakeStompPeer refusing;
  refusing.ExpectFrameMatching("CONNECT asking 1000,1000", ConnectWith("base", "1000,1000"))
      .Send(testing::ErrorFrame("Access refused"));
  refusing.Start();
  FakeStompPeer answering;
  answering.ExpectFrameMatching("CONNECT asking 2000,3000", ConnectWith("base", "2000,3000"))
      .Send(testing::ConnectedFrame("1.2", {{"heart-beat", "4000,500"}, {"server", "peer-b"}}));
  answering.Start();
  const std::string url = "failover:(" + refusing.Url("connect.heart-beat=1000,1000") + "," +
                          answering.Url("connect.heart-beat=2000,3000") + ")" + FastRetries +
                          "&maxReconnectAttempts=1";
  const auto client = ClientFor(url);
  client->Connect();
  EXPECT_TRUE(client->IsConnected());
  EXPECT_EQ(client->GetServer(), "peer-b");
  // Negotiated afresh: outgoing the larger of 2000 and 500, incoming the larger of 3000 and 4000.
  EXPECT_EQ(client->GetCommAdapter()->GetOutgoingHeartbeat(), 2000);
  EXPECT_EQ(client->GetCommAdapter()->GetIncomingHeartbeat(), 4000);
  EXPECT_TRUE(refusing.Done());
  EXPECT_TRUE(answering.Done());
}

TEST(FailoverPeerTest, BrokerThatClosesDuringConnectIsSkipped) {
  FakeStompPeer closing;
  closing.ReadFrame().CloseConnection();
  closing.Start();
  FakeStompPeer answering;
  answering.ExpectFrameMatching("CONNECT", ConnectWith("base")).Send(testing::ConnectedFrame("1.1"));
  answering.Start();
  const auto client = ClientFor("failover:(" + closing.Url() + "," + answering.Url() + ")" + FastRetries +
                                "&maxReconnectAttempts=2");
  client->Connect();
  EXPECT_TRUE(client->IsConnected());
  EXPECT_EQ(client->GetVersion(), 2);
  EXPECT_TRUE(closing.Done());
  EXPECT_TRUE(answering.Done());
}

TEST(FailoverPeerTest, EntryCredentialsGoOnlyToTheirBroker) {
  FakeStompPeer refusing;
  refusing
      .ExpectFrameMatching("CONNECT as u1",
                           [](const std::string& Frame) {
                             return FrameHeader(Frame, "login") == "u1" &&
                                    FrameHeader(Frame, "passcode") == "p1";
                           })
      .Send(testing::ErrorFrame("Access refused"));
  refusing.Start();
  FakeStompPeer answering;
  answering
      .ExpectFrameMatching("CONNECT with the base credentials",
                           [](const std::string& Frame) {
                             return FrameHeader(Frame, "login") == "base" &&
                                    FrameHeader(Frame, "passcode") == "basepw";
                           })
      .Send(testing::ConnectedFrame());
  answering.Start();
  const std::string url = "failover:(" + ClosedUrl() +
                          ",stomp://u1:p1@127.0.0.1:" + std::to_string(refusing.Port()) + "," +
                          answering.Url() + ")" + FastRetries + "&maxReconnectAttempts=3";
  const auto client = ClientFor(url);
  client->Connect();
  EXPECT_TRUE(client->IsConnected());
  EXPECT_TRUE(refusing.Done());
  EXPECT_TRUE(answering.Done());
}

struct NeverConnectCase {
  const char* Name;
  std::string Inside;  // entries after the peer's own, inside the brackets
  std::string After;   // after the closing bracket
  std::string Error;
};

TEST(FailoverPeerTest, EntriesThatCanNeverConnectFailBeforeAnySocketOpens) {
  testing::FakeStompPeerOptions options;
  options.StepTimeout = std::chrono::milliseconds(200);
  FakeStompPeer peer(options);
  const std::string port = std::to_string(peer.Port());
  const NeverConnectCase cases[] = {
      {"tls scheme", ",stomp+ssl://127.0.0.1:" + port, "?maxReconnectAttempts=1",
       "Unsupported Protocol \"stomp+ssl\" !"},
      {"unknown entry option", ",stomp://127.0.0.1:" + port + "?bogus=1", "?maxReconnectAttempts=1",
       "Connection URL contains unknown option: bogus=1"},
      {"unknown failover option", "", "?maxReconnectAttempts=1&bogus=1", "unknown option: bogus=1"},
  };
  for (const NeverConnectCase& c : cases) {
    const auto client = ClientFor("failover:(" + peer.Url() + c.Inside + ")" + c.After);
    try {
      client->Connect();
      ADD_FAILURE() << c.Name << ": connected";
    } catch (const EMQException& error) {
      EXPECT_EQ(error.what(), c.Error) << c.Name;
    }
  }
  // Nobody knocked: the peer's accept times out with no connection.
  peer.ReadFrame();
  peer.Start();
  EXPECT_FALSE(peer.WaitDone());
  EXPECT_EQ(peer.Connections(), 0);
}

TEST(FailoverPeerTest, EntryPortOutOfRangeFailsBeforeAnySocketOpens) {
  testing::FakeStompPeerOptions options;
  options.StepTimeout = std::chrono::milliseconds(200);
  FakeStompPeer peer(options);
  const auto client =
      ClientFor("failover:(" + peer.Url() + ",stomp://127.0.0.1:70000)?randomize=false&maxReconnectAttempts=1");
  try {
    client->Connect();
    ADD_FAILURE() << "connected";
  } catch (const ERangeError& error) {
    EXPECT_STREQ(error.what(), "Range check error");
  }
  EXPECT_FALSE(client->IsConnected());
  peer.ReadFrame();
  peer.Start();
  EXPECT_FALSE(peer.WaitDone());
  EXPECT_EQ(peer.Connections(), 0);
}

// Connected to the first broker, which then goes: Start goes through the list again in its order, and
// the consumer subscribes again on the broker that answers.
TEST(FailoverPeerTest, AStartAfterTheBrokerWentGoesThroughTheWholeListAgain) {
  FakeStompPeer first;
  first.ReadFrame().Send(testing::ConnectedFrame("1.2", {{"server", "peer-a"}}));
  first.ReadFrame().CloseConnection();
  first.AcceptNext().ExpectFrameStartingWith("CONNECT\n").Send(testing::ErrorFrame("Access refused"));
  first.Start();
  FakeStompPeer second;
  second.ExpectFrameStartingWith("CONNECT\n").Send(testing::ConnectedFrame("1.2", {{"server", "peer-b"}}));
  second.ExpectFrameStartingWith("SUBSCRIBE\ndestination:/queue/q\n").SendReceiptForLastFrame();
  second.SendWith([&second] {
    return testing::MessageFrame("/queue/q", "m-1", FrameHeader(second.LastFrame(), "id"), "from b",
                                 {{"content-type", "text/plain"}});
  });
  second.Start();
  const auto connection = testing::NewConnection("failover:(" + first.Url() + "," + second.Url() + ")" +
                                                 FastRetries + "&maxReconnectAttempts=3");
  connection->Start();
  EXPECT_EQ(connection->GetServer(), "peer-a");
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto consumer = session->CreateConsumer(session->CreateQueue("q"));
  EXPECT_EQ(testing::MessageOf<EVelmorError>([&] { consumer->Receive(5000); }),
            "Connection Closed Gracefully.");
  connection->Start();
  EXPECT_EQ(connection->GetServer(), "peer-b");
  EXPECT_EQ(testing::TextOf(consumer->Receive(5000)), "from b");
  EXPECT_TRUE(first.Done());
  EXPECT_TRUE(second.Done());
}

}  // namespace
}  // namespace velmor
