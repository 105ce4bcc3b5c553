// The connection builder's URL read back by the STOMP client and connected with on the real broker.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BrokerFixture.h"
#include "ZQMQInterfaces.h"
#include "optional/ZQConnectionBuilder.h"

namespace velmor {
namespace {

// A virtual host "v?h" for the test's user, made unless an earlier run left it, removed afterwards.
class ConnectionBuilderBrokerTest : public testing::BrokerTest {
 protected:
  void SetUp() override {
    BrokerTest::SetUp();
    if (IsSkipped())
      return;
    if (testing::BrokerCtl("list_vhosts -q name").find("v?h\n") == std::string::npos) {
      ASSERT_NE(testing::BrokerCtl("add_vhost 'v?h'"), "<failed>");
    }
    ASSERT_NE(testing::BrokerCtl("set_permissions -p 'v?h' " + testing::Broker().User + " '.*' '.*' '.*'"),
              "<failed>");
  }
  void TearDown() override { testing::BrokerCtl("delete_vhost 'v?h'"); }
};

// The queue subscribed to lies in "v?h", and the "?" of the last option costs none before it: the
// broker speaks 1.0 because it was asked to, and the subscription waited for its receipt.
TEST_F(ConnectionBuilderBrokerTest, OptionsHoldingAQuestionMarkReachTheBroker) {
  const testing::BrokerAddress broker = testing::Broker();
  const IConnectionPtr connection = TZQConnectionBuilder::Create(broker.Host)
                                        ->SetPort(broker.Port)
                                        ->SetUser(broker.User)
                                        ->SetPassword(broker.Pass)
                                        ->SetStompVersion("1.0")
                                        ->SetVirtualHost("v?h")
                                        ->SetSubscribeReceipt(true)
                                        ->AddParam("connect.x-note", "why?")
                                        ->CreateConnection();
  connection->Start();
  EXPECT_EQ(std::dynamic_pointer_cast<IConnectionInfo>(connection)->GetProtocolVersion(), 1);
  const std::string queue = testing::UniqueName("builder-vhost");
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  session->CreateConsumer(session->CreateQueue(queue));
  EXPECT_NE(testing::BrokerCtl("list_queues -p 'v?h' -q name").find(queue), std::string::npos);
  connection->Close();
}

}  // namespace
}  // namespace velmor
