#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "KestrunTestSupport.h"
#include "MessageOf.h"
#include "VelmorThread.h"
#include "ZQBytesMessage.h"

namespace kestrun {
namespace {

using ::testing::Contains;
using testing::TextOf;
using namespace std::chrono_literals;

const testing::TReceiveStep TimedOut = [] { return velmor::IMessagePtr(); };
const testing::TReceiveStep NotText = [] {
  return std::make_shared<velmor::TZQBytesMessage>(std::weak_ptr<velmor::TZQStompClient>());
};
const testing::TReceiveStep ReceiveFails = []() -> velmor::IMessagePtr {
  throw velmor::EMQException("Connection reset by peer");
};

struct TRunCase {
  const char* Name;
  TTestSettings Settings;
  int FailConnections;
  std::deque<testing::TReceiveStep> Script;  // of every queue
  std::vector<std::string> Lines;            // each logged before the result
  bool ZeroRate;
  bool Failed;  // the result is marked as that of a failed run
};

class KestrunRunTest : public ::testing::TestWithParam<TRunCase> {};

// Receivers finish while every sender still waits to begin; the one result comes after all of them, and
// ending the run waits until every sender and every connected receiver has closed its connection.
TEST_P(KestrunRunTest, LogsEachReceiversOutcomeBeforeTheOneResult) {
  const auto Factory = std::make_shared<testing::TScriptedFactory>();
  const auto Sink = std::make_shared<testing::TRecordingSink>();
  Factory->FailConnections = GetParam().FailConnections;
  for (int32_t Index = 0; Index < GetParam().Settings.ThreadCount; ++Index) {
    Factory->Scripts[QueueName(Index)] = GetParam().Script;
  }
  Factory->HoldSenders(true);
  {
    TTestRun Run(Factory, GetParam().Settings, Sink);
    ASSERT_TRUE(Sink->WaitForResult());
    EXPECT_EQ(Factory->Sent(), 0);
    Factory->HoldSenders(false);
  }
  ASSERT_EQ(Sink->Results.size(), 1u);
  for (const std::string& Line : GetParam().Lines) {
    EXPECT_THAT(Sink->BeforeResult, Contains(Line));
  }
  EXPECT_EQ(Sink->Results[0] == 0, GetParam().ZeroRate);
  EXPECT_EQ(Sink->Failed, GetParam().Failed);
  EXPECT_EQ(Factory->Closed(), 2 * GetParam().Settings.ThreadCount - GetParam().FailConnections);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, KestrunRunTest,
    ::testing::Values(
        TRunCase{"MessageTimeoutShortMessage",
                 {4, 10, 1},
                 0,
                 {TextOf(10), TimedOut, TextOf(3), TextOf(10)},
                 {"Receive 4 messages from queue ExampleQueue.0", "Message 1 bad message size: 3",
                  "ERROR: 1 messages missing in queue ExampleQueue.0"},
                 false,
                 true},
        TRunCase{"OnlyASizeIsWrong",
                 {2, 10, 1},
                 0,
                 {TextOf(10), TextOf(11)},
                 {"Message 0 bad message size: 11", "2 messages received from queue ExampleQueue.0"},
                 false,
                 true},
        TRunCase{"NothingCame",
                 {3, 10, 1},
                 0,
                 {},
                 {"ERROR: no message received from queue ExampleQueue.0"},
                 true,
                 true},
        TRunCase{"NotATextMessage",
                 {3, 10, 1},
                 0,
                 {TextOf(10), NotText},
                 {"Interface not supported"},
                 false,
                 true},
        TRunCase{"ReceiveFails",
                 {3, 10, 1},
                 0,
                 {TextOf(10), ReceiveFails},
                 {"Connection reset by peer"},
                 false,
                 true},
        TRunCase{"ConnectionFailsRunEndsAtOnce", {10, 10, 1}, 1, {}, {"Connection refused"}, true, true},
        TRunCase{
            "SecondReceiverStillCounts", {1, 10, 2}, 1, {TextOf(10)}, {"Connection refused"}, false, true},
        TRunCase{"NoPairs", {10, 10, 0}, 0, {}, {}, true, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(KestrunSenderTest, LogsTheErrorThatEndsASender) {
  const auto Factory = std::make_shared<testing::TScriptedFactory>();
  const auto Sink = std::make_shared<testing::TRecordingSink>();
  Factory->FailSends = true;
  {
    TTestRun Run(Factory, {3, 10, 1}, Sink);
    // The run may end before the sender began; wait for its line before the run is stopped.
    EXPECT_TRUE(Sink->WaitForLog("Broken pipe"));
  }
  EXPECT_THAT(Sink->Errors, Contains("Broken pipe"));
  EXPECT_THAT(Sink->Logs, ::testing::Not(Contains("3 messages sent to queue ExampleQueue.0")));
}

TEST(KestrunRateTest, CountsWholeMillisecondsTruncatesAndRefusesRatesBeyondThirtyTwoBits) {
  EXPECT_EQ(ComputeRate(1000, 500ms), 2000u);
  EXPECT_EQ(ComputeRate(3, 7ms), 428u);
  EXPECT_EQ(ComputeRate(1000, 999999ns), 1000000u);
  EXPECT_EQ(ComputeRate(7, 1500us), 7000u);
  EXPECT_EQ(velmor::testing::MessageOf<velmor::ERangeError>([] { ComputeRate(int64_t{1} << 33, 1ms); }),
            "Range check error");
}

}  // namespace
}  // namespace kestrun
