#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CaseName.h"
#include "MessageOf.h"
#include "ZQAbstractCommAdapter.h"
#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"
#include "ZQSocket.h"
#include "ZQStompClient.h"
#include "ZQURI.h"

namespace velmor {
namespace {

std::atomic<uint32_t> FakeNow{0};
uint32_t FakeTicks() {
  return FakeNow.load();
}

// Installs a tick counter the test moves by hand.
class TicksFixture : public ::testing::Test {
 protected:
  void SetUp() override { SetTickSource(&FakeTicks); }
  void TearDown() override { SetTickSource(nullptr); }
  static void SetNow(uint32_t Now) { FakeNow = Now; }
};

using testing::MessageOf;

std::shared_ptr<TZQCommAdapterIndy> NewAdapter() {
  return std::make_shared<TZQCommAdapterIndy>();
}

TEST(TicksTest, ElapsedTicksCountsAcrossTheWrapAt2To32) {
  EXPECT_EQ(ElapsedTicks(4294967280u, 16u), 32u);
  EXPECT_EQ(ElapsedTicks(100u, 250u), 150u);
  EXPECT_EQ(ElapsedTicks(7u, 7u), 0u);
}

TEST_F(TicksFixture, CurrentTicksReadsTheInstalledSource) {
  SetNow(12345);
  EXPECT_EQ(CurrentTicks(), 12345u);
}

TEST(TicksTest, CurrentTicksWithoutSourceIsTheSystemCounter) {
  SetTickSource(nullptr);
  const uint32_t first = CurrentTicks();
  EXPECT_LT(ElapsedTicks(first, CurrentTicks()), 60000u);
}

struct HeartbeatCase {
  const char* Name;
  uint32_t MarkedAt;
  uint32_t CheckedAt;
  int32_t Interval;
  bool Late;
};

class HeartbeatLateTest : public TicksFixture, public ::testing::WithParamInterface<HeartbeatCase> {};

TEST_P(HeartbeatLateTest, CheckHeartbeatRaisesOnlyAfterTwiceTheIncomingInterval) {
  const HeartbeatCase& c = GetParam();
  auto adapter = NewAdapter();
  adapter->SetIncomingHeartbeat(c.Interval);
  SetNow(c.MarkedAt);
  adapter->MarkHeartbeat();
  SetNow(c.CheckedAt);
  if (c.Late) {
    EXPECT_EQ(MessageOf<EZQStompServerHeartbeatMissing>([&] { adapter->CheckHeartbeat(); }),
              "Heartbeat too late");
  } else {
    EXPECT_NO_THROW(adapter->CheckHeartbeat());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, HeartbeatLateTest,
    ::testing::Values(HeartbeatCase{"TwiceTheIntervalIsInTime", 5000, 7000, 1000, false},
                      HeartbeatCase{"OneTickMoreIsLate", 5000, 7001, 1000, true},
                      HeartbeatCase{"CheckedAtTheMark", 5000, 5000, 1000, false},
                      // The counter wraps between the mark and the check.
                      HeartbeatCase{"WrappedTwiceTheIntervalIsInTime", 4294966296u, 1000, 1000, false},
                      HeartbeatCase{"WrappedOneTickMoreIsLate", 4294966296u, 1001, 1000, true},
                      HeartbeatCase{"MarkedAtTheLastTickInTime", 4294967295u, 1999, 1000, false},
                      HeartbeatCase{"MarkedAtTheLastTickLate", 4294967295u, 2000, 1000, true},
                      HeartbeatCase{"LargestIntervalInTime", 0, 2147483646, 1073741823, false},
                      HeartbeatCase{"LargestIntervalLate", 0, 2147483647, 1073741823, true}),
    testing::ByName);

TEST_F(TicksFixture, CheckHeartbeatBeforeAnyMarkMeasuresFromTickZero) {
  auto adapter = NewAdapter();
  adapter->SetIncomingHeartbeat(1000);
  SetNow(2000);
  EXPECT_NO_THROW(adapter->CheckHeartbeat());
  SetNow(2001);
  EXPECT_THROW(adapter->CheckHeartbeat(), EZQStompServerHeartbeatMissing);
}

TEST_F(TicksFixture, MarkHeartbeatRecordsTheTickCount) {
  auto adapter = NewAdapter();
  SetNow(4242);
  adapter->MarkHeartbeat();
  EXPECT_EQ(adapter->GetLastHeartbeat(), 4242u);
}

TEST(CommAdapterTest, CheckHeartbeatWithAHugeIntervalFailsWhileDoublingIt) {
  auto adapter = NewAdapter();
  adapter->SetIncomingHeartbeat(1073741824);
  EXPECT_THROW(adapter->CheckHeartbeat(), ERangeError);
}

TEST(CommAdapterTest, HeartbeatChecksRefuseWhenTheServerSendsNone) {
  auto adapter = NewAdapter();
  EXPECT_EQ(MessageOf<EZQStompError>([&] { adapter->CheckHeartbeat(); }), "Server does not send heartbeats.");
  EXPECT_EQ(MessageOf<EZQStompError>([&] { adapter->SendHeartbeat(); }),
            "Server does not expect heartbeats.");
  EXPECT_FALSE(adapter->IncomingHeartbeatEnabled());
  EXPECT_FALSE(adapter->OutgoingHeartbeatEnabled());
  adapter->SetIncomingHeartbeat(1);
  adapter->SetOutgoingHeartbeat(1);
  EXPECT_TRUE(adapter->IncomingHeartbeatEnabled());
  EXPECT_TRUE(adapter->OutgoingHeartbeatEnabled());
}

TEST(CommAdapterTest, WaitHeartbeatChecksTimeoutThenConnectionThenHeartbeats) {
  auto adapter = NewAdapter();
  EXPECT_EQ(MessageOf<EMQException>([&] { adapter->WaitHeartbeat(0); }),
            "Timeout must be greater than zero.");
  EXPECT_EQ(MessageOf<EMQException>([&] { adapter->WaitHeartbeat(100); }),
            "Transport layer is not connected.");
}

TEST(CommAdapterTest, RequireVersionNamesTheMissingProtocolVersion) {
  auto adapter = NewAdapter();
  EXPECT_EQ(adapter->GetVersion(), 1);
  EXPECT_EQ(MessageOf<EZQStompError>([&] { adapter->RequireVersion(2); }),
            "STOMP 1.1 support is required for this operation.");
  EXPECT_EQ(MessageOf<EZQStompError>([&] { adapter->RequireVersion(3); }),
            "STOMP 1.2 support is required for this operation.");
  EXPECT_NO_THROW(adapter->RequireVersion(4));
  adapter->SetVersion(3);
  EXPECT_NO_THROW(adapter->RequireVersion(2));
  EXPECT_NO_THROW(adapter->RequireVersion(3));
  EXPECT_TRUE(adapter->SupportsVersion(3));
  EXPECT_FALSE(adapter->SupportsVersion(4));
}

TEST(CommAdapterTest, SupportsOnlyTheStompSchemesExactly) {
  auto adapter = NewAdapter();
  EXPECT_TRUE(adapter->Supports("stomp"));
  EXPECT_TRUE(adapter->Supports("failover:(stomp"));
  EXPECT_FALSE(adapter->Supports("STOMP"));
  EXPECT_FALSE(adapter->Supports("stomp+ssl"));
  EXPECT_FALSE(adapter->Supports(""));
}

TEST(CommAdapterTest, NewAdapterStartsUnconnectedAtStomp10) {
  auto adapter = NewAdapter();
  EXPECT_FALSE(adapter->IsConnected());
  EXPECT_EQ(adapter->GetVersion(), 1);
  EXPECT_EQ(adapter->GetIncomingHeartbeat(), 0);
  EXPECT_EQ(adapter->GetOutgoingHeartbeat(), 0);
  EXPECT_EQ(adapter->GetConnectTimeout(), 0);
  EXPECT_FALSE(adapter->GetUseConnectTimeout());
  EXPECT_EQ(adapter->GetURI(), nullptr);
  EXPECT_EQ(adapter->GetClassName(), "TZQCommAdapterIndy");
}

struct SplitCase {
  const char* Name;
  std::string Text;
  std::vector<std::string> Items;
};

class OptionSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(OptionSplitTest, SplitsAtAmpersandByTheDelimitedListRule) {
  EXPECT_EQ(SplitOptionList(GetParam().Text), GetParam().Items);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, OptionSplitTest,
    ::testing::Values(SplitCase{"TwoItems", "a=1&b=2", {"a=1", "b=2"}}, SplitCase{"EmptyText", "", {}},
                      SplitCase{"TrailingAmpersandGivesAnEmptyItem", "a=1&", {"a=1", ""}},
                      SplitCase{"TrailingBlankGivesNoItem", "a=1& ", {"a=1"}},
                      SplitCase{"DoubleAmpersandGivesAnEmptyItem", "a=1&&b=2", {"a=1", "", "b=2"}},
                      SplitCase{"BlankSplitsAnItem", "a=x y&b=2", {"a=x", "y", "b=2"}},
                      SplitCase{"BlanksAroundItemsAreDropped", "  a=1 & b=2 ", {"a=1", "b=2"}},
                      SplitCase{"ControlCharactersSplit", "a=1\t\r\nb=2", {"a=1", "b=2"}},
                      SplitCase{"QuotedItemKeepsItsBlank", "\"a=x y\"&b=2", {"a=x y", "b=2"}},
                      SplitCase{"DoubledQuoteInsideQuotes", "\"a=say \"\"hi\"\"\"&b", {"a=say \"hi\"", "b"}},
                      SplitCase{"TextAfterAClosingQuoteIsAnItem", "\"a&b\"c&d", {"a&b", "c", "d"}},
                      SplitCase{"UnclosedQuote", "\"open", {"open"}},
                      SplitCase{"LoneAmpersand", "&", {"", ""}},
                      SplitCase{"Utf8Value", "a=\xC3\xA9", {"a=\xC3\xA9"}}),
    testing::ByName);

class QueryOptionsTest : public ::testing::TestWithParam<SplitCase> {};

// The query begins at the URL's first "?"; a later one belongs to a value, for the adapter and the STOMP
// client alike.
TEST_P(QueryOptionsTest, AdapterAndClientReadTheSameOptions) {
  const IURIPtr uri = CreateURI("stomp://h:1?" + GetParam().Text, 61613);
  EXPECT_EQ(QueryOptionList(uri->GetParams()), GetParam().Items);
  TZQConnectionParams params;
  params.Load(uri);
  EXPECT_EQ(params.GetOptionList(), GetParam().Items);
  auto adapter = NewAdapter();
  adapter->Init(uri);
  for (const std::string& item : GetParam().Items)
    EXPECT_EQ(adapter->GetParam(OptionName(item)), OptionItemValue(item)) << item;
}

INSTANTIATE_TEST_SUITE_P(
    Cut, QueryOptionsTest,
    ::testing::Values(
        SplitCase{"NoQuestionMark", "a=1&b=2", {"a=1", "b=2"}},
        SplitCase{"QuestionMarkInAValueStays", "a=1&b=x?c=3", {"a=1", "b=x?c=3"}},
        SplitCase{"QuestionMarkInAQuotedItemStays", "a=1&\"b=x?y\"&c=3", {"a=1", "b=x?y", "c=3"}},
        SplitCase{"QuestionMarkBetweenDoubledQuotesStays", "\"a=\"\"?\"\"\"&b=2", {"a=\"?\"", "b=2"}},
        SplitCase{"QuestionMarksInQuotedAndPlainItemsStay", "\"a=?\"&b=x?c=3", {"a=?", "b=x?c=3"}},
        SplitCase{"QuoteInsideAValueKeepsItsQuestionMark", "a=\"x?\"&c=3", {"a=\"x?\"", "c=3"}},
        SplitCase{"QuestionMarkAtTheEndOfAValueStays", "connect.accept-version=1.0&connect.x-note=why?",
                  {"connect.accept-version=1.0", "connect.x-note=why?"}}),
    testing::ByName);

TEST(CommAdapterTest, GetParamIgnoresCaseAndTakesTheFirstMatch) {
  auto adapter = NewAdapter();
  adapter->Init(CreateURI("stomp://localhost:61613?a=1&b=2&A=3&c&d=x=y", 61613));
  EXPECT_EQ(adapter->GetParam("A"), "1");
  EXPECT_EQ(adapter->GetParam("b"), "2");
  EXPECT_EQ(adapter->GetParam("d"), "x=y");
  EXPECT_EQ(adapter->GetParam("c"), "");
  EXPECT_EQ(adapter->GetParam("e"), "");
}

TEST(CommAdapterTest, InitReplacesUriAndOptions) {
  auto adapter = NewAdapter();
  const IURIPtr first = CreateURI("stomp://localhost:61613?a=1", 61613);
  const IURIPtr second = CreateURI("stomp://localhost:61614?b=2", 61613);
  adapter->Init(first);
  EXPECT_EQ(adapter->GetURI(), first);
  adapter->Init(second);
  EXPECT_EQ(adapter->GetURI(), second);
  EXPECT_EQ(adapter->GetParam("a"), "");
  EXPECT_EQ(adapter->GetParam("b"), "2");
}

TEST(CommAdapterTest, InitRefusesAPortOutsideTheRangeAndChangesNothing) {
  auto adapter = NewAdapter();
  const IURIPtr good = CreateURI("stomp://localhost:61613?a=1", 61613);
  adapter->Init(good);
  for (const char* url :
       {"stomp://localhost:70000?a=2", "stomp://localhost:65536?a=2", "stomp://localhost:-1?a=2"}) {
    EXPECT_THROW(adapter->Init(CreateURI(url, 61613)), ERangeError) << url;
    EXPECT_EQ(adapter->GetURI(), good);
    EXPECT_EQ(adapter->GetParam("a"), "1");
  }
}

TEST(CommAdapterTest, ConnectWithPortThatIsNoNumberFailsWithPortRequired) {
  auto adapter = NewAdapter();
  adapter->SetOnConnected([](IStompCommAdapter&) {});
  adapter->SetOnFrame([](const IStompFramePtr&) {});
  auto uri = CreateURI("stomp://localhost:61613", 61613);
  uri->SetPort("abc");
  adapter->Init(uri);
  EXPECT_EQ(MessageOf<EPortRequired>([&] { adapter->Connect(); }), "A Port is required");
  EXPECT_FALSE(adapter->IsConnected());
}

TEST(CommAdapterTest, ConnectWithoutHostFailsWithHostRequired) {
  auto adapter = NewAdapter();
  adapter->SetOnConnected([](IStompCommAdapter&) {});
  adapter->SetOnFrame([](const IStompFramePtr&) {});
  adapter->Init(CreateURI("stomp://:61613", 61613));
  EXPECT_EQ(MessageOf<EHostRequired>([&] { adapter->Connect(); }), "A Host is required");
  EXPECT_FALSE(adapter->IsConnected());
}

TEST(CommAdapterTest, ConnectAndReadRefuseWithoutHandlers) {
  auto adapter = NewAdapter();
  adapter->Init(CreateURI("stomp://localhost:61613", 61613));
  EXPECT_THROW(adapter->Connect(), EIllegalStateException);
  EXPECT_THROW(adapter->Poll(), EIllegalStateException);
}

TEST(CommAdapterTest, ReadingWithoutConnectionFailsWithNotConnected) {
  auto adapter = NewAdapter();
  adapter->SetOnFrame([](const IStompFramePtr&) {});
  EXPECT_EQ(MessageOf<ENotConnected>([&] { adapter->Poll(); }), "Not Connected");
  EXPECT_EQ(MessageOf<ENotConnected>([&] { adapter->Receive(); }), "Not Connected");
  EXPECT_EQ(MessageOf<ENotConnected>([&] { adapter->Write("x", -1); }), "Not Connected");
  EXPECT_FALSE(adapter->IsConnected());
}

TEST(CommAdapterTest, HandlersAreStoredAndHandedBack) {
  auto adapter = NewAdapter();
  int spare = 0;
  adapter->SetSpareHandler([&] { ++spare; });
  adapter->GetSpareHandler()();
  EXPECT_EQ(spare, 1);
  EXPECT_FALSE(adapter->GetOnFrame());
  adapter->SetOnFrame([](const IStompFramePtr&) {});
  EXPECT_TRUE(adapter->GetOnFrame());
}

}  // namespace
}  // namespace velmor
