#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BrokerFixture.h"
#include "KestrunLogic.h"
#include "KestrunTestSupport.h"
#include "MessagingMocks.h"
#include "VelmorThread.h"
#include "ZQExceptions.h"

namespace kestrun {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::TRecordingSink;

// The library's factory, except that a receiver subscribes only once the sender of its pair has sent all
// its messages (or a thread logged an error): Kestrun's receiver gives up when its first message takes
// longer than a second, and on a loaded machine a sender may well begin later than that. The pairs still
// run side by side, and every receiver still takes every message of its queue.
class TReceiveAfterSending final : public velmor::IConnectionFactory {
 public:
  TReceiveAfterSending(velmor::IConnectionFactoryPtr Library, std::shared_ptr<TRecordingSink> Sink,
                       int32_t MessageCount)
      : FLibrary(std::move(Library)), FSink(std::move(Sink)), FMessageCount(MessageCount) {}

  // A receiver's connection: the library's, with a session whose CreateConsumer waits for the sender.
  velmor::IConnectionPtr CreateConnection() override {
    using ::testing::_;
    const velmor::IConnectionPtr Real = FLibrary->CreateConnection();
    auto Connection = std::make_shared<::testing::NiceMock<velmor::testing::MockConnection>>();
    ON_CALL(*Connection, Start()).WillByDefault([Real] { Real->Start(); });
    ON_CALL(*Connection, Close()).WillByDefault([Real] { Real->Close(); });
    ON_CALL(*Connection, CreateSession(_)).WillByDefault([this, Real](uint8_t Mode) {
      const velmor::ISessionPtr RealSession = Real->CreateSession(Mode);
      auto Session = std::make_shared<::testing::NiceMock<velmor::testing::MockSession>>();
      ON_CALL(*Session, CreateQueue(_)).WillByDefault([RealSession](const std::string& Name) {
        return RealSession->CreateQueue(Name);
      });
      ON_CALL(*Session, CreateConsumer(_))
          .WillByDefault([this, RealSession](const velmor::IDestinationPtr& Queue) {
            const std::string Name = std::dynamic_pointer_cast<velmor::IQueue>(Queue)->GetQueueName();
            FSink->WaitForLogOrError(std::to_string(FMessageCount) + " messages sent to queue " + Name,
                                     std::chrono::minutes(4));
            return RealSession->CreateConsumer(Queue);
          });
      return Session;
    });
    return Connection;
  }
  velmor::IMQContextPtr CreateContext() override { return FLibrary->CreateContext(); }
  velmor::IConnectionPtr CreateConnection(const std::string&, const std::string&) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(uint8_t) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(const std::string&, const std::string&) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(const std::string&, const std::string&, uint8_t) override { NotUsed(); }

 private:
  [[noreturn]] static void NotUsed() { throw velmor::EUnsupportedOperationException("not used by Kestrun"); }

  const velmor::IConnectionFactoryPtr FLibrary;
  const std::shared_ptr<TRecordingSink> FSink;
  const int32_t FMessageCount;
};

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

  // Runs a test to its end, each receiver subscribing once its sender is done; one result came.
  std::shared_ptr<TRecordingSink> RunToEnd(const TTestSettings& Settings) {
    auto Sink = std::make_shared<TRecordingSink>();
    {
      TTestRun Run(std::make_shared<TReceiveAfterSending>(
                       LibraryFactoryMaker().Configured(velmor::testing::BrokerUrl("connect.host=" + FHost),
                                                        velmor::testing::Broker().User,
                                                        velmor::testing::Broker().Pass),
                       Sink, Settings.MessageCount),
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
