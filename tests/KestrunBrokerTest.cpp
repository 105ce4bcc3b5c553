#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrokerFixture.h"
#include "KestrunLogic.h"
#include "KestrunTestSupport.h"
#include "VelmorThread.h"
#include "ZQConnectionFactory.h"

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

  velmor::IConnectionFactoryPtr Factory() const {
    return LibraryFactoryMaker().Configured(velmor::testing::BrokerUrl("connect.host=" + FHost),
                                            velmor::testing::Broker().User, velmor::testing::Broker().Pass);
  }

  // Runs a test to its end and returns everything it reported.
  std::vector<std::string> RunToEnd(const TTestSettings& Settings) {
    auto Sink = std::make_shared<TRecordingSink>();
    {
      TTestRun Run(Factory(), Settings, Sink);
      EXPECT_TRUE(Sink->WaitForResult(std::chrono::minutes(5)));
    }
    EXPECT_EQ(Sink->Results(), 1u);
    return Sink->Events();
  }

  const std::string FHost = velmor::testing::UniqueName("kestrun-");
};

TEST_F(KestrunBrokerTest, OnePairCarriesAThousandSmallMessages) {
  const auto Events = RunToEnd({1000, 10, 1});
  for (const char* Line :
       {"Send 1000 messages to queue ExampleQueue.0", "Receive 1000 messages from queue ExampleQueue.0",
        "1000 messages sent to queue ExampleQueue.0"}) {
    EXPECT_THAT(Events, Contains(Line));
  }
  const size_t Result = TRecordingSink::ResultIndex(Events);
  EXPECT_LT(TRecordingSink::IndexOf(Events, "1000 messages received from queue ExampleQueue.0"), Result);
  ASSERT_LT(Result, Events.size());
  const uint32_t Rate = static_cast<uint32_t>(std::stoul(Events[Result].substr(7)));
  EXPECT_GT(Rate, 0U);
  EXPECT_EQ(ResultText(Rate), std::to_string(Rate) + " msgs/s");
}

TEST_F(KestrunBrokerTest, EightPairsOfLargeMessagesLoseNothing) {
  const auto Events = RunToEnd({10000, 2000, 8});
  for (const std::string& Line : Events) {
    EXPECT_THAT(Line, Not(HasSubstr("ERROR")));
  }
  for (int32_t Index = 0; Index < 8; ++Index) {
    EXPECT_THAT(Events, Contains("10000 messages received from queue " + QueueName(Index)));
  }
  const std::string Depths = velmor::testing::BrokerCtl("list_queues -q -s -p " + FHost + " name messages");
  for (int32_t Index = 0; Index < 8; ++Index) {
    EXPECT_THAT(Depths, HasSubstr(QueueName(Index) + "\t0\n"));
  }
}

}  // namespace
}  // namespace kestrun
