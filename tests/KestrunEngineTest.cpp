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

using testing::TextOf;
using testing::TRecordingSink;
using namespace std::chrono_literals;

const testing::TReceiveStep TimedOut = [] { return velmor::IMessagePtr(); };
const testing::TReceiveStep NotText = [] {
  return std::make_shared<velmor::TZQBytesMessage>(std::weak_ptr<velmor::TZQStompClient>());
};
const testing::TReceiveStep ReceiveFails = []() -> velmor::IMessagePtr {
  throw velmor::EMQException("Connection reset by peer");
};

class KestrunEngineTest : public ::testing::Test {
 protected:
  // Runs a test whose senders are held until the result came, and returns everything it reported.
  std::vector<std::string> RunToEnd(const TTestSettings& Settings) {
    Factory->HoldSenders(true);
    {
      TTestRun Run(Factory, Settings, Sink);
      EXPECT_TRUE(Sink->WaitForResult());
      EXPECT_EQ(Factory->Sent(), 0);
      Factory->HoldSenders(false);
    }
    EXPECT_EQ(Sink->Results(), 1u);
    // Ending the run waited until every sender and every connected receiver had closed its connection.
    EXPECT_EQ(Factory->Closed(), 2 * Settings.ThreadCount - FailConnections);
    return Sink->Events();
  }

  std::shared_ptr<testing::TScriptedFactory> Factory = std::make_shared<testing::TScriptedFactory>();
  std::shared_ptr<TRecordingSink> Sink = std::make_shared<TRecordingSink>();
  int FailConnections = 0;
};

struct TRunCase {
  const char* Name;
  TTestSettings Settings;
  int FailConnections;
  std::deque<testing::TReceiveStep> Script;  // of ExampleQueue.0
  std::vector<std::string> Lines;            // each logged before the result
  bool ZeroRate;
};

class KestrunRunTest : public KestrunEngineTest, public ::testing::WithParamInterface<TRunCase> {};

// Receivers finish while every sender still waits to begin; the one result comes after all of them.
TEST_P(KestrunRunTest, LogsEachReceiversOutcomeBeforeTheOneResult) {
  FailConnections = Factory->FailConnections = GetParam().FailConnections;
  Factory->Scripts["ExampleQueue.0"] = GetParam().Script;
  const auto Events = RunToEnd(GetParam().Settings);
  const size_t Result = TRecordingSink::ResultIndex(Events);
  ASSERT_LT(Result, Events.size());
  for (const std::string& Line : GetParam().Lines) {
    EXPECT_LT(TRecordingSink::IndexOf(Events, Line), Result) << Line;
  }
  if (GetParam().ZeroRate) {
    EXPECT_EQ(Events[Result], "RESULT 0");
  }
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
                 false},
        TRunCase{"FirstMessageUnchecked",
                 {2, 10, 1},
                 0,
                 {TextOf(2), TextOf(11)},
                 {"Message 0 bad message size: 11", "2 messages received from queue ExampleQueue.0"},
                 false},
        TRunCase{
            "NothingCame", {3, 10, 1}, 0, {}, {"ERROR: no message received from queue ExampleQueue.0"}, true},
        TRunCase{"NotATextMessage", {3, 10, 1}, 0, {TextOf(10), NotText}, {"Interface not supported"}, false},
        TRunCase{
            "ReceiveFails", {3, 10, 1}, 0, {TextOf(10), ReceiveFails}, {"Connection reset by peer"}, false},
        TRunCase{"EndsAtOnce", {10, 10, 1}, 1, {}, {"Connection refused"}, true},
        TRunCase{"NoPairs", {10, 10, 0}, 0, {}, {}, true}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(KestrunEngineTest, ReceiverWhoseConnectionFailsDoesNotStopTheOther) {
  FailConnections = Factory->FailConnections = 1;
  Factory->Scripts["ExampleQueue.0"] = {TextOf(10)};
  Factory->Scripts["ExampleQueue.1"] = {TextOf(10)};
  const auto Events = RunToEnd({1, 10, 2});
  const size_t Result = TRecordingSink::ResultIndex(Events);
  EXPECT_LT(TRecordingSink::IndexOf(Events, "Connection refused"), Result);
  EXPECT_LT(std::min(TRecordingSink::IndexOf(Events, "1 messages received from queue ExampleQueue.0"),
                     TRecordingSink::IndexOf(Events, "1 messages received from queue ExampleQueue.1")),
            Result);
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

INSTANTIATE_TEST_SUITE_P(Rates, KestrunRateTest,
                         ::testing::Values(TRateCase{1000, 500ms, 2000}, TRateCase{3, 7ms, 428},
                                           TRateCase{1000, 999999ns, 1000000}, TRateCase{7, 1500us, 7000}));

TEST(KestrunRateTest, RateBeyondThirtyTwoBitsIsARangeError) {
  EXPECT_EQ(velmor::testing::MessageOf<velmor::ERangeError>([] { ComputeRate(int64_t{1} << 33, 1ms); }),
            "Range check error");
}

}  // namespace
}  // namespace kestrun
