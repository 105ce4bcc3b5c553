#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeStompPeer.h"
#include "ZQMQInterfaces.h"
#include "optional/ZQConnectionBuilder.h"

namespace velmor {
namespace {

using testing::ConnectedFrame;
using testing::FakeStompPeer;
using testing::FrameHeader;

class ConnectionBuilderPeerTest : public ::testing::TestWithParam<bool> {};

// The CONNECT frame carries the virtual host as typed and the builder's credentials, over IPv4 and over
// an IPv6 loopback written in brackets.
TEST_P(ConnectionBuilderPeerTest, ConnectsWithVirtualHostAndCredentialsAsGiven) {
  const bool ipv6 = GetParam();
  if (ipv6 && !FakeStompPeer::IPv6LoopbackAvailable())
    GTEST_SKIP() << "no IPv6 loopback";
  FakeStompPeer peer(ipv6);
  peer.ReadFrame().Send(ConnectedFrame("1.2", {{"server", "Peer/1"}})).Drain();
  peer.Start();

  const IConnectionBuilderPtr builder = TZQConnectionBuilder::Create(peer.Url());
  builder->SetVirtualHost("my vhost&send.receipt=true")->SetUser("someone")->SetPassword("secret");
  const IConnectionPtr connection = builder->CreateConnection();
  connection->Start();
  EXPECT_EQ(std::dynamic_pointer_cast<IConnectionInfo>(connection)->GetServer(), "Peer/1");
  connection->Close();
  EXPECT_TRUE(peer.Done());

  const std::vector<std::string> frames = peer.Frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(FrameHeader(frames[0], "host"), "my vhost&send.receipt=true");
  EXPECT_EQ(FrameHeader(frames[0], "login"), "someone");
  EXPECT_EQ(FrameHeader(frames[0], "passcode"), "secret");
}

INSTANTIATE_TEST_SUITE_P(Loopback, ConnectionBuilderPeerTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "IPv6" : "IPv4";
                         });

}  // namespace
}  // namespace velmor
