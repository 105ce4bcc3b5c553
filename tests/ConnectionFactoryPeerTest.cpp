// Which credentials a connection made by the factory logs in with: those written in the broker URL win,
// the user name and the password each on its own, over the factory's and over the call's.
#include <gtest/gtest.h>

#include <string>

#include "FakeStompPeer.h"
#include "ZQConnectionFactory.h"
#include "ZQMQInterfaces.h"

namespace velmor {
namespace {

using testing::FakeStompPeer;

struct CredentialCase {
  const char* Title;
  const char* UserInfo;  // written before the host, "@" included
  bool CallCredentials;  // CreateConnection with its own user name and password
  const char* Login;
  const char* Passcode;
};

class ConnectionFactoryCredentialPeerTest : public ::testing::TestWithParam<CredentialCase> {};

TEST_P(ConnectionFactoryCredentialPeerTest, ConnectCarriesTheWinningCredentials) {
  const CredentialCase& param = GetParam();
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame("1.2", {{"server", "peer"}})).Drain().Start();
  const std::string url =
      "stomp://" + std::string(param.UserInfo) + peer.Host() + ":" + std::to_string(peer.Port());
  TZQConnectionFactory factory("factory-user", "factory-pass", url);

  const IConnectionPtr connection =
      param.CallCredentials ? factory.CreateConnection("call-user", "call-pass") : factory.CreateConnection();
  connection->Start();
  connection->Close();

  ASSERT_TRUE(peer.Done());
  const std::string connect = peer.Frames().at(0);
  EXPECT_EQ(testing::FrameHeader(connect, "login"), param.Login);
  EXPECT_EQ(testing::FrameHeader(connect, "passcode"), param.Passcode);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ConnectionFactoryCredentialPeerTest,
    ::testing::Values(CredentialCase{"BothInURL", "url-user:url-pass@", false, "url-user", "url-pass"},
                      CredentialCase{"UserInURL", "url-user@", false, "url-user", "factory-pass"},
                      CredentialCase{"NoneInURL", "", false, "factory-user", "factory-pass"},
                      CredentialCase{"UserInURLOverCall", "url-user@", true, "url-user", "call-pass"},
                      CredentialCase{"NoneInURLWithCall", "", true, "call-user", "call-pass"}),
    [](const auto& Info) { return std::string(Info.param.Title); });

}  // namespace
}  // namespace velmor
