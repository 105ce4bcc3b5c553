#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "KestrunTestSupport.h"
#include "MessageOf.h"
#include "VelmorThread.h"

namespace kestrun {
namespace {

using ::testing::Contains;
using testing::IndexOf;
using ::testing::Not;
using testing::NotText;
using testing::ReceiveFails;
using testing::ResultIndex;
using testing::TextOf;
using testing::TimedOut;
using testing::TRecordingSink;

class KestrunEngineTest : public ::testing::Test {
 protected:
  // Runs a test to its end and returns everything it reported.
  std::vector<std::string> RunToEnd(const TTestSettings& Settings) {
    {
      TTestRun Run(Factory, Settings, Sink);
      EXPECT_TRUE(Sink->WaitForResult());
    }
    EXPECT_EQ(Sink->Results(), 1);
    return Sink->Events();
  }

  std::shared_ptr<testing::TScriptedBroker> Broker = std::make_shared<testing::TScriptedBroker>();
  velmor::IConnectionFactoryPtr Factory = std::make_shared<testing::TScriptedFactory>(Broker);
  std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
};

struct TReceiverCase {
  const char* Name;
  std::deque<testing::TReceiveStep> Script;
  int32_t MessageCount;
  std::vector<std::string> Lines;
};

class KestrunReceiverScriptTest : public KestrunEngineTest,
                                  public ::testing::WithParamInterface<TReceiverCase> {};

TEST_P(KestrunReceiverScriptTest, LogsItsOutcomeBeforeTheOneResult) {
  Broker->Scripts["ExampleQueue.0"] = GetParam().Script;
  const auto Events = RunToEnd({GetParam().MessageCount, 10, 1});
  const std::string Start =
      "Receive " + std::to_string(GetParam().MessageCount) + " messages from queue ExampleQueue.0";
  ASSERT_LT(IndexOf(Events, Start), ResultIndex(Events));
  for (const std::string& Line : GetParam().Lines) {
    EXPECT_LT(IndexOf(Events, Line), ResultIndex(Events)) << Line;
  }
  // Both the sender's context and the receiver's connection were closed.
  EXPECT_EQ(Broker->ClosedCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, KestrunReceiverScriptTest,
    ::testing::Values(
        TReceiverCase{"MessageTimeoutShortMessage",
                      {TextOf(10), TimedOut(), TextOf(3), TextOf(10)},
                      4,
                      {"Message 1 bad message size: 3", "ERROR: 1 messages missing in queue ExampleQueue.0"}},
        TReceiverCase{"OneMessage", {TextOf(10)}, 1, {"1 messages received from queue ExampleQueue.0"}},
        TReceiverCase{"FirstMessageUnchecked",
                      {TextOf(2), TextOf(11)},
                      2,
                      {"Message 0 bad message size: 11", "2 messages received from queue ExampleQueue.0"}},
        TReceiverCase{"NothingCame", {}, 3, {"ERROR: no message received from queue ExampleQueue.0"}},
        TReceiverCase{"NotATextMessage", {TextOf(10), NotText()}, 3, {"Interface not supported"}},
        TReceiverCase{"ReceiveFails", {TextOf(10), ReceiveFails()}, 3, {"Connection reset by peer"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(KestrunEngineTest, PairsCarryEveryMessageOverTheirOwnQueues) {
  const auto Events = RunToEnd({200, 20, 3});
  for (const char* Queue : {"ExampleQueue.0", "ExampleQueue.1", "ExampleQueue.2"}) {
    const std::string Name = Queue;
    EXPECT_THAT(Events, Contains("Send 200 messages to queue " + Name));
    EXPECT_THAT(Events, Contains("200 messages sent to queue " + Name));
    EXPECT_LT(IndexOf(Events, "200 messages received from queue " + Name), ResultIndex(Events));
  }
  EXPECT_EQ(Broker->Sent(), 600);
  EXPECT_NE(Events[ResultIndex(Events)], "RESULT 0");
}

TEST_F(KestrunEngineTest, ReceiverWhoseConnectionFailsStillEndsTheRun) {
  Broker->FailConnections = 1;
  const auto Events = RunToEnd({50, 10, 2});
  EXPECT_LT(IndexOf(Events, "Connection refused"), ResultIndex(Events));
  const bool OneReceived =
      IndexOf(Events, "50 messages received from queue ExampleQueue.0") < Events.size() ||
      IndexOf(Events, "50 messages received from queue ExampleQueue.1") < Events.size();
  EXPECT_TRUE(OneReceived);
}

TEST_F(KestrunEngineTest, ReceiversThatFinishBeforeTheSendersBeganGiveOneResult) {
  Broker->HoldSenders(true);
  Broker->Scripts["ExampleQueue.0"] = {};
  Broker->Scripts["ExampleQueue.1"] = {};
  {
    TTestRun Run(Factory, {10, 10, 2}, Sink);
    // The result comes while both senders still wait to send their first message.
    ASSERT_TRUE(Sink->WaitForResult());
    EXPECT_EQ(Broker->Sent(), 0);
    Broker->HoldSenders(false);
  }
  const auto Events = Sink->Events();
  EXPECT_EQ(Sink->Results(), 1);
  EXPECT_EQ(Events[ResultIndex(Events)], "RESULT 0");
  EXPECT_LT(IndexOf(Events, "ERROR: no message received from queue ExampleQueue.1"), ResultIndex(Events));
  // Ending the run asked the senders to stop and waited until both had closed their contexts.
  EXPECT_EQ(Broker->ClosedCount(), 4);
}

TEST_F(KestrunEngineTest, RunThatEndsAtOnceReportsZero) {
  Broker->FailConnections = 1;
  Broker->HoldSenders(true);
  {
    TTestRun Run(Factory, {10, 10, 1}, Sink);
    ASSERT_TRUE(Sink->WaitForResult());
    Broker->HoldSenders(false);
  }
  const auto Events = Sink->Events();
  EXPECT_EQ(Events[ResultIndex(Events)], "RESULT 0");
  EXPECT_EQ(Sink->Results(), 1);
}

TEST_F(KestrunEngineTest, SenderErrorIsLogged) {
  Broker->FailSends = true;
  const auto Events = RunToEnd({5, 10, 1});
  EXPECT_THAT(Events, Contains("Send refused"));
  EXPECT_THAT(Events, Not(Contains("5 messages sent to queue ExampleQueue.0")));
  EXPECT_THAT(Events, Contains("ERROR: no message received from queue ExampleQueue.0"));
}

TEST_F(KestrunEngineTest, NoPairsStillGiveAResult) {
  const auto Events = RunToEnd({10, 10, 0});
  EXPECT_EQ(Events, std::vector<std::string>{"RESULT 0"});
}

struct TRateCase {
  int64_t Received;
  std::chrono::nanoseconds Elapsed;
  uint32_t Rate;
};

class KestrunRateTest : public ::testing::TestWithParam<TRateCase> {};

TEST_P(KestrunRateTest, CountsWholeMillisecondsAndTruncates) {
  EXPECT_EQ(ComputeRate(GetParam().Received, GetParam().Elapsed), GetParam().Rate);
}

using namespace std::chrono_literals;
INSTANTIATE_TEST_SUITE_P(Rates, KestrunRateTest,
                         ::testing::Values(TRateCase{1000, 500ms, 2000}, TRateCase{0, 10ms, 0},
                                           TRateCase{3, 7ms, 428}, TRateCase{1000, 999999ns, 1000000},
                                           TRateCase{5, 0ns, 5000}, TRateCase{7, 1500us, 7000}),
                         [](const auto& Info) {
                           return std::to_string(Info.param.Received) + "In" +
                                  std::to_string(Info.param.Elapsed.count()) + "ns";
                         });

TEST(KestrunRateTest, RateBeyondThirtyTwoBitsIsARangeError) {
  EXPECT_EQ(velmor::testing::MessageOf<velmor::ERangeError>([] { ComputeRate(int64_t{1} << 33, 1ms); }),
            "Range check error");
}

TEST(KestrunQueueNameTest, NumbersQueuesFromZero) {
  EXPECT_EQ(QueueName(0), "ExampleQueue.0");
  EXPECT_EQ(QueueName(7), "ExampleQueue.7");
}

}  // namespace
}  // namespace kestrun
