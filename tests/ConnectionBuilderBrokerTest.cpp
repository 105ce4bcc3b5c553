// The connection builder's URL read back by the STOMP client and connected with on the real broker.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BrokerFixture.h"
#include "ZQMQInterfaces.h"
#include "optional/ZQConnectionBuilder.h"

namespace velmor {
namespace {

// A virtual host whose name holds "?", set up (again, if an earlier run left it) for the test's user
// and removed afterwards.
class ConnectionBuilderBrokerTest : public testing::BrokerTest {
 protected:
  void SetUp() override {
    BrokerTest::SetUp();
    if (IsSkipped())
      return;
    if (testing::BrokerCtl("list_vhosts -q name").find(VirtualHost + "\n") == std::string::npos) {
      ASSERT_NE(testing::BrokerCtl("add_vhost '" + VirtualHost + "'"), "<failed>");
    }
    ASSERT_NE(testing::BrokerCtl("set_permissions -p '" + VirtualHost + "' " + testing::Broker().User +
                                 " '.*' '.*' '.*'"),
              "<failed>");
  }
  void TearDown() override { testing::BrokerCtl("delete_vhost '" + VirtualHost + "'"); }

  const std::string VirtualHost = "v?h";
};

// Every option survives the trip: the queue subscribed to lies in the virtual host holding "?", and the
// "?" in the last option does not cost the options before it (the broker answers 1.0 only because it
// was asked, and the subscription waited for its receipt).
TEST_F(ConnectionBuilderBrokerTest, OptionsHoldingAQuestionMarkReachTheBroker) {
  const testing::BrokerAddress broker = testing::Broker();
  const IConnectionBuilderPtr builder = TZQConnectionBuilder::Create(broker.Host);
  builder->SetPort(broker.Port)
      ->SetUser(broker.User)
      ->SetPassword(broker.Pass)
      ->SetStompVersion("1.0")
      ->SetVirtualHost(VirtualHost)
      ->SetSubscribeReceipt(true)
      ->AddParam("connect.x-note", "why?");
  const IConnectionPtr connection = builder->CreateConnection();
  connection->Start();
  const auto info = std::dynamic_pointer_cast<IConnectionInfo>(connection);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->GetProtocolVersion(), 1);
  const std::string queue = testing::UniqueName("builder-vhost");
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  session->CreateConsumer(session->CreateQueue(queue));
  EXPECT_NE(testing::BrokerCtl("list_queues -p '" + VirtualHost + "' -q name").find(queue),
            std::string::npos);
  connection->Close();
}

}  // namespace
}  // namespace velmor
