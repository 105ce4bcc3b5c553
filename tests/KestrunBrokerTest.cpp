#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrokerFixture.h"
#include "KestrunLogic.h"
#include "KestrunTestSupport.h"
#include "VelmorThread.h"

namespace kestrun {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TRecordingSink;

// Each test runs in a virtual host of its own, so its fixed queue names meet no other run; removing the
// virtual host removes its queues.
class KestrunBrokerTest : public velmor::testing::BrokerTest {
 protected:
  void SetUp() override {
    BrokerTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    ASSERT_NE(velmor::testing::BrokerCtl("add_vhost " + FHost), "<failed>");
    ASSERT_NE(velmor::testing::BrokerCtl("set_permissions -p " + FHost + " " +
                                         velmor::testing::Broker().User + " '.*' '.*' '.*'"),
              "<failed>");
  }
  void TearDown() override { velmor::testing::BrokerCtl("delete_vhost " + FHost); }

  // Runs a test to its end; one result came.
  std::shared_ptr<TRecordingSink> RunToEnd(const TTestSettings& Settings) {
    auto Sink = std::make_shared<TRecordingSink>();
    {
      TTestRun Run(
          LibraryFactoryMaker().Configured(velmor::testing::BrokerUrl("connect.host=" + FHost),
                                           velmor::testing::Broker().User, velmor::testing::Broker().Pass),
          Settings, Sink);
      EXPECT_TRUE(Sink->WaitForResult(std::chrono::minutes(5)));
    }
    EXPECT_EQ(Sink->Results.size(), 1u);
    return Sink;
  }

  const std::string FHost = velmor::testing::UniqueName("kestrun-");
};

TEST_F(KestrunBrokerTest, OnePairCarriesAThousandSmallMessages) {
  const auto Sink = RunToEnd({1000, 10, 1});
  EXPECT_THAT(Sink->Logs, Contains("Send 1000 messages to queue ExampleQueue.0"));
  EXPECT_THAT(Sink->Logs, Contains("1000 messages sent to queue ExampleQueue.0"));
  EXPECT_THAT(Sink->BeforeResult, Contains("Receive 1000 messages from queue ExampleQueue.0"));
  EXPECT_THAT(Sink->BeforeResult, Contains("1000 messages received from queue ExampleQueue.0"));
  ASSERT_FALSE(Sink->Results.empty());
  EXPECT_GT(Sink->Results[0], 0U);
  EXPECT_EQ(ResultText(Sink->Results[0]), std::to_string(Sink->Results[0]) + " msgs/s");
  EXPECT_FALSE(Sink->Failed);
}

TEST_F(KestrunBrokerTest, EightPairsOfLargeMessagesLoseNothing) {
  const auto Sink = RunToEnd({10000, 2000, 8});
  EXPECT_THAT(Sink->Logs, Not(Contains(HasSubstr("ERROR"))));
  const std::string Depths = velmor::testing::BrokerCtl("list_queues -q -s -p " + FHost + " name messages");
  for (int32_t Index = 0; Index < 8; ++Index) {
    EXPECT_THAT(Sink->BeforeResult, Contains("10000 messages received from queue " + QueueName(Index)));
    EXPECT_THAT(Depths, HasSubstr(QueueName(Index) + "\t0\n"));
  }
}

}  // namespace
}  // namespace kestrun
