#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "BrokerFixture.h"
#include "OrvaneFormDriver.h"
#include "QtApplicationEnvironment.h"

namespace orvane {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

[[maybe_unused]] ::testing::Environment* const Application =
    ::testing::AddGlobalTestEnvironment(new velmor::testing::QtApplicationEnvironment("Orvane"));

// Orvane's window pointed at the test broker.
class OrvaneConnectBrokerTest : public velmor::testing::BrokerTest,
                                protected velmor::testing::OrvaneFormDriver {
 protected:
  void SetUp() override {
    BrokerTest::SetUp();
    const velmor::testing::BrokerAddress broker = velmor::testing::Broker();
    Type("EditHost", QString::fromStdString(broker.Host));
    Type("EditPort", QString::number(broker.Port));
    Type("EditUser", QString::fromStdString(broker.User));
    Type("EditPassword", QString::fromStdString(broker.Pass));
  }
};

TEST_F(OrvaneConnectBrokerTest, ConnectShowsTheServer) {
  Click("BtnConnect");
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_FALSE(Boxes[0].IsError) << Boxes[0].Text;
  EXPECT_THAT(Boxes[0].Text, StartsWith("Connect was successful, server is: \nRabbitMQ/"));
  EXPECT_THAT(Boxes[0].Text, testing::EndsWith("\n\n(click Ok to disconnect)"));
}

TEST_F(OrvaneConnectBrokerTest, WrongPasswordShowsOneError) {
  Type("EditPassword", "not-the-password");
  QTest::keyClick(Child<QLineEdit>("EditPassword"), Qt::Key_Return);
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_TRUE(Boxes[0].IsError);
  EXPECT_THAT(Boxes[0].Text, testing::Not(HasSubstr("Connect was successful")));
  EXPECT_FALSE(Boxes[0].Text.empty());
}

}  // namespace
}  // namespace orvane
