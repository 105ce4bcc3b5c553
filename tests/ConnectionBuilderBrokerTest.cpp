#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BrokerFixture.h"
#include "ZQExceptions.h"
#include "ZQMQInterfaces.h"
#include "optional/ZQConnectionBuilder.h"

namespace velmor {
namespace {

class ConnectionBuilderBrokerTest : public testing::BrokerTest {
 protected:
  IConnectionBuilderPtr BuilderFor(const std::string& Password) const {
    const testing::BrokerAddress broker = testing::Broker();
    IConnectionBuilderPtr builder = TZQConnectionBuilder::Create(broker.Host);
    builder->SetPort(broker.Port)->SetUser(broker.User)->SetPassword(Password)->SetStompVersion("1.2");
    return builder;
  }
};

TEST_F(ConnectionBuilderBrokerTest, ConnectionOutlivesBuilderAndLogsInWithItsCredentials) {
  IConnectionBuilderPtr builder = BuilderFor(testing::Broker().Pass);
  const IConnectionPtr connection = builder->CreateConnection();
  builder.reset();
  connection->Start();
  const auto info = std::dynamic_pointer_cast<IConnectionInfo>(connection);
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(info->IsConnected());
  EXPECT_THAT(info->GetServer(), ::testing::StartsWith("RabbitMQ/"));
  connection->Close();
  EXPECT_FALSE(info->IsConnected());
}

TEST_F(ConnectionBuilderBrokerTest, ContextConnectsWithBuilderCredentials) {
  const IMQContextPtr context = BuilderFor(testing::Broker().Pass)->CreateContext();
  EXPECT_NO_THROW(context->Start());
  context->Close();
}

TEST_F(ConnectionBuilderBrokerTest, WrongPasswordFailsAtStart) {
  const IConnectionPtr connection = BuilderFor("not-the-password")->CreateConnection();
  EXPECT_THROW(connection->Start(), EVelmorError);
  connection->Close();
}

TEST_F(ConnectionBuilderBrokerTest, SchemeWithoutAdapterIsRefused) {
  try {
    BuilderFor(testing::Broker().Pass)->SetUseSSL(true)->CreateConnection();
    ADD_FAILURE() << "made a connection for stomp+ssl";
  } catch (const EConfigurationException& e) {
    EXPECT_STREQ(e.what(), "Unsupported Protocol \"stomp+ssl\" !");
  }
}

}  // namespace
}  // namespace velmor
