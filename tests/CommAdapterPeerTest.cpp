#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "FakeStompPeer.h"
#include "ZQAbstractCommAdapter.h"
#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"
#include "ZQSocket.h"
#include "ZQURI.h"

// The largest single allocation while tracking is on, to show that an announced body length alone
// reserves no memory.
namespace {
std::atomic<bool> TrackAllocations{false};
std::atomic<std::size_t> LargestAllocation{0};
}  // namespace

void* operator new(std::size_t Size) {
  if (TrackAllocations.load(std::memory_order_relaxed)) {
    std::size_t seen = LargestAllocation.load(std::memory_order_relaxed);
    while (Size > seen && !LargestAllocation.compare_exchange_weak(seen, Size)) {
    }
  }
  if (void* memory = std::malloc(Size == 0 ? 1 : Size))
    return memory;
  throw std::bad_alloc();
}
// g++ sees the free() of memory from operator new after inlining, although both are replaced together.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* Memory) noexcept {
  std::free(Memory);
}
void operator delete(void* Memory, std::size_t) noexcept {
  std::free(Memory);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace velmor {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::ConnectedFrame;
using testing::ErrorFrame;
using testing::FakeStompPeer;
using testing::MessageFrame;
using testing::ReceiptFrame;

const std::string ConnectOctets = "CONNECT\naccept-version:1.2\nhost:/\n\n"s + '\0';

// A frame as the handler saw it.
struct SeenFrame {
  std::string Command;
  TStompHeaders Headers;
  std::string Body;
  bool operator==(const SeenFrame& Other) const {
    if (Command != Other.Command || Body != Other.Body || Headers.size() != Other.Headers.size())
      return false;
    for (size_t i = 0; i < Headers.size(); ++i) {
      if (Headers[i].Name != Other.Headers[i].Name || Headers[i].Value != Other.Headers[i].Value)
        return false;
    }
    return true;
  }
};

void PrintTo(const SeenFrame& Frame, std::ostream* Out) {
  *Out << testing::Printable(Frame.Command) << " [";
  for (const auto& header : Frame.Headers)
    *Out << testing::Printable(header.Name + ":" + header.Value) << "; ";
  *Out << "] " << testing::Printable(Frame.Body);
}

uint32_t CountingTicks() {
  static std::atomic<uint32_t> now{0};
  return ++now;
}

// An adapter whose handlers write CONNECT, take the version from CONNECTED, raise on ERROR (as the
// STOMP client does) and record every other frame.
struct Recorder {
  Recorder() : Adapter(std::make_shared<TZQCommAdapterIndy>()) {
    Adapter->SetOnConnected([](IStompCommAdapter& Self) { Self.Write(ConnectOctets, -1); });
    Adapter->SetOnFrame([this](const IStompFramePtr& Frame) {
      if (Frame->GetCommand() == "CONNECTED" && Frame->GetHeader("version") == "1.2")
        Adapter->SetVersion(3);
      if (Frame->GetCommand() == "ERROR") {
        Adapter->Disconnect();
        throw EZQStompServerErrorMessage(Frame->GetHeader("message"));
      }
      Frames.push_back(SeenFrame{Frame->GetCommand(), Frame->GetHeaders(), Frame->GetBody()});
    });
  }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void ConnectTo(const FakeStompPeer& Peer, const std::string& Query = "") {
    Adapter->Init(CreateURI(Peer.Url(Query), 61613));
    // Connected, though a peer that closes at once may already be seen gone.
    Adapter->Connect();
    ASSERT_EQ(Frames.size(), 1u);
    Frames.clear();
  }

  // Polls until Count frames came or the time is up.
  void PollFor(size_t Count, std::chrono::milliseconds Limit = 20000ms) {
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (Frames.size() < Count && std::chrono::steady_clock::now() < deadline)
      Adapter->Poll();
  }

  std::shared_ptr<TZQCommAdapterIndy> Adapter;
  std::vector<SeenFrame> Frames;
};

class CommAdapterPeerTest : public ::testing::Test {
 protected:
  // The peer's script starts with the CONNECT exchange.
  static FakeStompPeer& Answering(FakeStompPeer& Peer) {
    return Peer.Expect(ConnectOctets).Send(ConnectedFrame());
  }

  void ConnectTo(const FakeStompPeer& Peer, const std::string& Query = "") { Main.ConnectTo(Peer, Query); }
  void PollFor(size_t Count, std::chrono::milliseconds Limit = 20000ms) { Main.PollFor(Count, Limit); }

  Recorder Main;
  std::shared_ptr<TZQCommAdapterIndy>& Adapter = Main.Adapter;
  std::vector<SeenFrame>& Frames = Main.Frames;
};

struct FrameFixture {
  std::string Name;
  std::string Octets;
  SeenFrame Expected;
};

std::vector<FrameFixture> FrameFixtures() {
  return {
      {"MessageWithLength",
       "MESSAGE\ncontent-length:5\n\nhello\0\n"s,
       {"MESSAGE", {{"content-length", "5"}}, "hello"}},
      {"ReceiptWithoutLength", "RECEIPT\nreceipt-id:77\n\n\0\n"s, {"RECEIPT", {{"receipt-id", "77"}}, ""}},
      {"BodyWithoutLength",
       "MESSAGE\ndestination:/queue/a\n\nhello\0\n"s,
       {"MESSAGE", {{"destination", "/queue/a"}}, "hello"}},
      {"CrLfLines",
       "MESSAGE\r\ndestination:/queue/a\r\ncontent-length:3\r\n\r\nabc\0\n"s,
       {"MESSAGE", {{"destination", "/queue/a"}, {"content-length", "3"}}, "abc"}},
      {"BodyWithNulAndLf",
       "MESSAGE\ncontent-length:6\n\na\0b\nc\n\0\n"s,
       {"MESSAGE", {{"content-length", "6"}}, "a\0b\nc\n"s}},
      {"EscapedHeader",
       "MESSAGE\ndestination:/queue/a\\cb\\nc\\\\d\ncontent-length:0\n\n\0\n"s,
       {"MESSAGE", {{"destination", "/queue/a:b\nc\\d"}, {"content-length", "0"}}, ""}},
      {"Utf8Header",
       "MESSAGE\nk\xC3\xA9y:v\xE2\x82\xAC\ncontent-length:2\n\n\xC3\xA9\0\n"s,
       {"MESSAGE", {{"k\xC3\xA9y", "v\xE2\x82\xAC"}, {"content-length", "2"}}, "\xC3\xA9"}},
      {"PeerMessage",
       MessageFrame("/queue/q", "m-1", "sub-0", std::string(3000, 'p')),
       {"MESSAGE",
        {{"subscription", "sub-0"},
         {"destination", "/queue/q"},
         {"message-id", "m-1"},
         {"content-length", "3000"}},
        std::string(3000, 'p')}},
  };
}

std::string AllOctets() {
  std::string all;
  for (const auto& fixture : FrameFixtures())
    all += fixture.Octets;
  return all;
}

std::vector<SeenFrame> AllExpected() {
  std::vector<SeenFrame> all;
  for (const auto& fixture : FrameFixtures())
    all.push_back(fixture.Expected);
  return all;
}

TEST_F(CommAdapterPeerTest, ConnectWritesConnectAndHandsOverTheFirstFrame) {
  FakeStompPeer peer;
  Answering(peer);
  peer.Start();
  Adapter->Init(CreateURI(peer.Url("a=1"), 61613));
  Adapter->Connect();
  EXPECT_TRUE(Adapter->IsConnected());
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0].Command, "CONNECTED");
  EXPECT_EQ(Adapter->GetVersion(), 3);
  EXPECT_TRUE(peer.Done());
}

TEST_F(CommAdapterPeerTest, EveryFixtureDeliveredWholeIsReadAsOneFrame) {
  for (const auto& fixture : FrameFixtures()) {
    SCOPED_TRACE(fixture.Name);
    FakeStompPeer peer;
    Answering(peer).Send(fixture.Octets);
    peer.Start();
    Recorder run;
    run.ConnectTo(peer);
    run.Adapter->ReadOneMessage(5000, true);
    ASSERT_EQ(run.Frames.size(), 1u);
    EXPECT_EQ(run.Frames[0], fixture.Expected);
  }
}

TEST_F(CommAdapterPeerTest, FixturesDeliveredWholeOrOneOctetAtATimeGiveTheSameFrames) {
  std::vector<SeenFrame> whole;
  {
    FakeStompPeer peer;
    Answering(peer).Send(AllOctets());
    peer.Start();
    ConnectTo(peer);
    PollFor(FrameFixtures().size());
    whole = Frames;
  }
  Recorder dribbled;
  FakeStompPeer peer;
  Answering(peer).Dribble(AllOctets());
  peer.Start();
  dribbled.ConnectTo(peer);
  dribbled.PollFor(FrameFixtures().size());
  EXPECT_EQ(whole, AllExpected());
  EXPECT_EQ(dribbled.Frames, whole);
  EXPECT_TRUE(dribbled.Adapter->IsConnected());
}

TEST_F(CommAdapterPeerTest, HeartbeatsBetweenFramesAreSkippedWholeOrDribbled) {
  std::string octets;
  for (const auto& fixture : FrameFixtures())
    octets += "\n\r\n" + fixture.Octets;
  for (const bool dribble : {false, true}) {
    SCOPED_TRACE(dribble ? "dribbled" : "whole");
    Recorder run;
    run.Adapter->SetIncomingHeartbeat(1000);
    FakeStompPeer peer;
    if (dribble) {
      Answering(peer).Dribble(octets);
    } else {
      Answering(peer).Send(octets);
    }
    peer.Start();
    run.ConnectTo(peer);
    run.PollFor(FrameFixtures().size());
    EXPECT_EQ(run.Frames, AllExpected());
  }
}

TEST_F(CommAdapterPeerTest, EmptyLinesBeforeAFrameAreMarkedAsHeartbeats) {
  FakeStompPeer peer;
  Answering(peer).Send("\n\n" + ReceiptFrame("r-1"));
  peer.Start();
  Adapter->SetIncomingHeartbeat(1000);
  ConnectTo(peer);
  SetTickSource(&CountingTicks);
  const uint32_t before = CurrentTicks();
  Adapter->ReadOneMessage(5000, true);
  SetTickSource(nullptr);
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0].Command, "RECEIPT");
  EXPECT_EQ(Adapter->GetLastHeartbeat(), before + 2);
}

TEST_F(CommAdapterPeerTest, ALoneLineFeedWithoutHeartbeatsIsNoFrame) {
  FakeStompPeer peer;
  Answering(peer).Send("\n").WaitUntilReleased().Send("\n");
  peer.Start();
  ConnectTo(peer);
  ASSERT_TRUE(Adapter->GetOnFrame());
  Adapter->ReadOneMessage(2000, false);
  EXPECT_TRUE(Frames.empty());
  EXPECT_TRUE(Adapter->IsConnected());
  peer.Release();
  try {
    Adapter->ReadOneMessage(2000, true);
    FAIL() << "no error";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "ReadOneMessage: received no data.");
  }
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(CommAdapterPeerTest, ReadOneMessageWithTimeoutBelowOneWaitsOneMillisecond) {
  FakeStompPeer peer;
  Answering(peer).WaitUntilReleased().Send(ReceiptFrame("a") + ReceiptFrame("b"));
  peer.Start();
  ConnectTo(peer);
  Adapter->ReadOneMessage(0, false);
  Adapter->ReadOneMessage(-5, false);
  EXPECT_TRUE(Frames.empty());
  peer.Release();
  PollFor(2);
  EXPECT_EQ(Frames.size(), 2u);
}

TEST_F(CommAdapterPeerTest, ReceiveWaitsForTheNextFrame) {
  FakeStompPeer peer;
  Answering(peer).Stall(50ms).Send(ReceiptFrame("late"));
  peer.Start();
  ConnectTo(peer);
  Adapter->Receive();
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0].Headers[0].Value, "late");
}

TEST_F(CommAdapterPeerTest, ReceiveOnAConnectionThePeerClosedRaises) {
  FakeStompPeer peer;
  Answering(peer).CloseConnection();
  peer.Start();
  ConnectTo(peer);
  EXPECT_THROW(Adapter->Receive(), EConnClosedGracefully);
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_THROW(Adapter->Receive(), ENotConnected);
}

struct StallCase {
  std::string Name;
  std::string Octets;
  // Sent one octet every 400 ms after Octets.
  std::string Drip = "";
};

class ReceiveStallTest : public CommAdapterPeerTest, public ::testing::WithParamInterface<StallCase> {};

// Receive waits without limit for a frame to begin, but never for the rest of one: that has one
// deadline, however its octets are spread.
TEST_P(ReceiveStallTest, AFrameThatStopsHalfWayFailsReceiveWithinTheBodyReadTimeout) {
  auto peer = std::make_unique<FakeStompPeer>();
  Answering(*peer).Send(GetParam().Octets).SetTimeout(30000ms).Dribble(GetParam().Drip, 400ms).Stall(30000ms);
  peer->Start();
  ConnectTo(*peer);
  const auto start = std::chrono::steady_clock::now();
  auto outcome = std::async(std::launch::async, [this] {
    try {
      Adapter->Receive();
      return std::string("no error");
    } catch (const std::exception& Error) {
      return std::string(Error.what());
    }
  });
  const bool ended = outcome.wait_for(8s) == std::future_status::ready;
  if (!ended)
    peer.reset();  // closing the connection ends a Receive that would wait on
  const std::string text = outcome.get();
  EXPECT_TRUE(ended) << "Receive was still waiting after 8 s";
  EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
  EXPECT_EQ(text, "ReadOneMessage: Read timed out.");
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(Frames.empty());
}

INSTANTIATE_TEST_SUITE_P(CommAdapterPeerTest, ReceiveStallTest,
                         ::testing::Values(StallCase{"InTheCommandLine", "MESS"},
                                           StallCase{"InTheHeaders", "MESSAGE\ndestination:/queue/a\n"},
                                           StallCase{"InTheBody", "MESSAGE\ncontent-length:10\n\nabc"},
                                           StallCase{"BeforeTheFrameEnd", "RECEIPT\nreceipt-id:1\n\n"},
                                           StallCase{"DrippingHeaderLines", "MESSAGE\n",
                                                     "a:1\nb:2\nc:3\nd:4\ne:5\nf:6\ng:7\nh:8\n"},
                                           StallCase{"DrippingBody", "MESSAGE\ncontent-length:60\n\n",
                                                     std::string(60, 'b')},
                                           StallCase{"DrippingBodyWithoutLength", "MESSAGE\n\n",
                                                     std::string(60, 'b')}),
                         [](const ::testing::TestParamInfo<StallCase>& Info) { return Info.param.Name; });

TEST_F(CommAdapterPeerTest, AFrameBeforeTheCloseIsStillDelivered) {
  FakeStompPeer peer;
  Answering(peer).Send(ErrorFrame("bad", "details") + ReceiptFrame("x")).CloseConnection();
  peer.Start();
  ConnectTo(peer);
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_THROW(Adapter->ReadOneMessage(2000, true), EZQStompServerErrorMessage);
}

TEST_F(CommAdapterPeerTest, AHandlerErrorPassesThroughAndTheConnectionStays) {
  FakeStompPeer peer;
  Answering(peer).Send(ReceiptFrame("1") + ReceiptFrame("2"));
  peer.Start();
  ConnectTo(peer);
  Adapter->SetOnFrame([](const IStompFramePtr&) { throw EIllegalStateException("handler failed"); });
  EXPECT_THROW(Adapter->ReadOneMessage(2000, true), EIllegalStateException);
  EXPECT_TRUE(Adapter->IsConnected());
  std::string second;
  Adapter->SetOnFrame([&](const IStompFramePtr& Frame) { second = Frame->GetHeader("receipt-id"); });
  Adapter->ReadOneMessage(2000, true);
  EXPECT_EQ(second, "2");
}

// A peer that breaks off or garbles a frame; each case leaves the adapter not connected and builds no
// frame from what was read.
struct HostileCase {
  std::string Name;
  std::string Octets;
  bool CloseAfter;
  std::string Message;  // exact text, or a prefix ending in "*"
};

class HostilePeerTest : public CommAdapterPeerTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostilePeerTest, MidFrameFailureDisconnectsAndBuildsNoFrame) {
  const HostileCase& c = GetParam();
  FakeStompPeer peer;
  Answering(peer).Send(c.Octets);
  if (c.CloseAfter) {
    peer.CloseConnection();
  } else {
    peer.Stall(10000ms);
  }
  peer.Start();
  ConnectTo(peer);
  std::string message = "<nothing raised>";
  const auto start = std::chrono::steady_clock::now();
  try {
    PollFor(1, 4000ms);
  } catch (const EVelmorError& error) {
    message = error.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4000ms) << "the failure was not immediate";
  if (!c.Message.empty() && c.Message.back() == '*') {
    EXPECT_EQ(message.substr(0, c.Message.size() - 1), c.Message.substr(0, c.Message.size() - 1)) << message;
  } else {
    EXPECT_EQ(message, c.Message);
  }
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(Frames.empty());
  EXPECT_THROW(Adapter->Poll(), ENotConnected);
}

std::string HugeHeaderBlock() {
  std::string octets = "MESSAGE\n";
  for (int i = 0; i < 80; ++i)
    octets += "h" + std::to_string(i) + ":" + std::string(16000, 'v') + "\n";
  return octets;
}

// A MESSAGE whose header block, joined as lines without CR each ended by LF plus the blank line's LF,
// is Size octets long; its lines end with LineEnd on the wire. Ends with the frame's blank line.
std::string HeaderBlockOfJoinedSize(size_t Size, const std::string& LineEnd) {
  std::string octets = "MESSAGE" + LineEnd;
  size_t joined = 8 + 1;
  for (int i = 0; joined < Size; ++i) {
    const std::string start = "h" + std::to_string(i) + ":";
    const size_t length = std::min<size_t>(16000, Size - joined - 1);
    const std::string line = start + std::string(length > start.size() ? length - start.size() : 0, 'v');
    octets += line + LineEnd;
    joined += line.size() + 1;
  }
  return octets + LineEnd;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostilePeerTest,
    ::testing::Values(
        HostileCase{"CloseInFirstLine", "MESS", true, "Connection Closed Gracefully."},
        HostileCase{"CloseInHeaderLine", "MESSAGE\ncontent-len", true, "Connection Closed Gracefully."},
        HostileCase{"CloseBeforeBlankLine", "MESSAGE\ncontent-length:3\n", true,
                    "Connection Closed Gracefully."},
        HostileCase{"CloseInBody", "MESSAGE\ncontent-length:10\n\nabc", true,
                    "Connection Closed Gracefully."},
        HostileCase{"CloseBeforeNul", "MESSAGE\ncontent-length:3\n\nabc", true,
                    "Connection Closed Gracefully."},
        HostileCase{"CloseBeforeLf", "MESSAGE\ncontent-length:3\n\nabc\0"s, true,
                    "Connection Closed Gracefully."},
        HostileCase{"CloseInBodyWithoutLength", "MESSAGE\n\nhel", true, "Connection Closed Gracefully."},
        HostileCase{"CrAfterNul", "RECEIPT\nreceipt-id:1\n\n\0\r\n"s, false,
                    "Invalid trailing LINE_SEP byte #13 (expected #10)."},
        HostileCase{"UnknownCommand", "message\n\n\0\n"s, false,
                    "Unknown frame type. Expected MESSAGE, RECEIPT, CONNECTED or ERROR. Received: #109*"},
        HostileCase{"BadEscape", "MESSAGE\na:b\\t\n\n\0\n"s, false, "Unsupported escape sequence \\t"},
        HostileCase{"NegativeLength", "MESSAGE\ncontent-length:-5\n\nabc\0\n"s, false,
                    "Invalid content-length -5."},
        HostileCase{"LengthOneOverTheBodyLimit", "MESSAGE\ncontent-length:268435457\n\nabc", false,
                    "Frame body longer than 268435456 octets."},
        HostileCase{"LengthBeyond32Bits", "MESSAGE\ncontent-length:4294967301\n\nxyz", false,
                    "Frame body longer than 268435456 octets."},
        HostileCase{"LongFirstLine", std::string(20000, 'M'), false, "Max line length exceeded."},
        HostileCase{"LongHeaderLine", "MESSAGE\n" + std::string(20000, 'h'), false,
                    "Max line length exceeded."},
        HostileCase{"HugeHeaderBlock", HugeHeaderBlock(), false,
                    "Frame header block longer than 1048576 octets."},
        HostileCase{"HeaderBlockOneOverTheLimitWithCrLf", HeaderBlockOfJoinedSize(1048577, "\r\n"), false,
                    "Frame header block longer than 1048576 octets."}),
    [](const ::testing::TestParamInfo<HostileCase>& Info) { return Info.param.Name; });

TEST_F(CommAdapterPeerTest, AHeaderBlockOfExactlyTheLimitIsRead) {
  for (const std::string lineEnd : {"\n", "\r\n"}) {
    SCOPED_TRACE(lineEnd.size());
    Recorder run;
    FakeStompPeer peer;
    Answering(peer).Send(HeaderBlockOfJoinedSize(1048576, lineEnd) + "\0\n"s);
    peer.Start();
    run.ConnectTo(peer);
    run.PollFor(1);
    ASSERT_EQ(run.Frames.size(), 1u);
    EXPECT_EQ(run.Frames[0].Headers.front().Value.back(), 'v');
  }
}

TEST_F(CommAdapterPeerTest, AFrameTheHandlerKeepsStaysAsItWasWhenMoreFramesAreRead) {
  FakeStompPeer peer;
  Answering(peer).Send(MessageFrame("/queue/a", "m-1", "s", "first body") +
                       MessageFrame("/queue/a", "m-2", "s", "2") + MessageFrame("/queue/a", "m-3", "s", "3"));
  peer.Start();
  ConnectTo(peer);
  std::vector<IStompFramePtr> kept;
  Adapter->SetOnFrame([&](const IStompFramePtr& Frame) {
    if (kept.empty())
      kept.push_back(Frame);
    Frames.push_back(SeenFrame{Frame->GetCommand(), Frame->GetHeaders(), Frame->GetBody()});
  });
  PollFor(3);
  ASSERT_EQ(Frames.size(), 3u);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0]->GetHeader("message-id"), "m-1");
  EXPECT_EQ(kept[0]->GetBody(), "first body");
  EXPECT_EQ(Frames[2].Body, "3");
}

// A length at the body limit is believed only as far as octets arrive.
TEST_F(CommAdapterPeerTest, AHugeAnnouncedLengthFollowedByACloseFailsFastWithLittleMemory) {
  FakeStompPeer peer;
  Answering(peer).Send("MESSAGE\ncontent-length:268435456\n\n" + std::string(1000, 'b')).CloseConnection();
  peer.Start();
  ConnectTo(peer);
  ASSERT_TRUE(peer.WaitDone());
  LargestAllocation = 0;
  TrackAllocations = true;
  EXPECT_THROW(Adapter->ReadOneMessage(2000, false), EConnClosedGracefully);
  TrackAllocations = false;
  EXPECT_LT(LargestAllocation.load(), 1024u * 1024u);
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(Frames.empty());
}

// Without "content-length" the body runs to the first NUL, but no further than the body limit.
TEST_F(CommAdapterPeerTest, ABodyWithoutLengthIsReadNoFurtherThanTheBodyLimit) {
  FakeStompPeer peer;
  Answering(peer).Send("MESSAGE\n\n" + std::string(MaxBodyLength + 1, 'b')).Stall(30000ms);
  peer.Start();
  ConnectTo(peer);
  try {
    Adapter->ReadOneMessage(30000, false);
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_STREQ(error.what(), "Frame body longer than 268435456 octets.");
  }
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(Frames.empty());
}

TEST_F(CommAdapterPeerTest, AHeaderLineThatStopsComingIsAnErrorEvenWhenPolling) {
  FakeStompPeer peer;
  Answering(peer).Send("MESSAGE\ncontent-length:3\n").Stall(10000ms);
  peer.Start();
  ConnectTo(peer);
  try {
    PollFor(1, 8000ms);
    FAIL() << "no error";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "ReadOneMessage: Read timed out.");
  }
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(Frames.empty());
}

// The frame begins in the same write as CONNECTED, so it has begun when the short read starts.
TEST_F(CommAdapterPeerTest, ABodyThatStopsComingIsAnErrorAndClosesTheConnection) {
  FakeStompPeer peer;
  peer.Expect(ConnectOctets).Send(ConnectedFrame() + "MESSAGE\ncontent-length:10\n\nabc").Stall(10000ms);
  peer.Start();
  ConnectTo(peer);
  try {
    Adapter->ReadOneMessage(100, true);
    FAIL() << "no error";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "ReadOneMessage: Read timed out.");
  }
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(Frames.empty());
}

TEST_F(CommAdapterPeerTest, TheRestOfAFrameMayTakeLongerThanTheCallersTimeout) {
  FakeStompPeer peer;
  peer.Expect(ConnectOctets)
      .Send(ConnectedFrame() + "MESSAGE\ncontent-length:3\n")
      .Stall(300ms)
      .Send("\nab")
      .Stall(300ms)
      .Send("c\0\n"s);
  peer.Start();
  ConnectTo(peer);
  Adapter->ReadOneMessage(50, true);
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0].Body, "abc");
  EXPECT_TRUE(Adapter->IsConnected());
}

TEST_F(CommAdapterPeerTest, WaitHeartbeatSeesAnEmptyLine) {
  FakeStompPeer peer;
  Answering(peer).Stall(30ms).Send("\n");
  peer.Start();
  ConnectTo(peer);
  Adapter->SetIncomingHeartbeat(1000);
  EXPECT_TRUE(Adapter->WaitHeartbeat(2000));
  EXPECT_FALSE(Adapter->WaitHeartbeat(20));
  EXPECT_TRUE(Adapter->IsConnected());
}

TEST_F(CommAdapterPeerTest, WaitHeartbeatRefusesWithoutIncomingHeartbeats) {
  FakeStompPeer peer;
  Answering(peer);
  peer.Start();
  ConnectTo(peer);
  try {
    Adapter->WaitHeartbeat(100);
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_STREQ(error.what(), "Server does not send heartbeats.");
  }
}

TEST_F(CommAdapterPeerTest, AFrameArrivingDuringWaitHeartbeatIsLeftForTheNextReceive) {
  FakeStompPeer peer;
  Answering(peer).Stall(30ms).Send(MessageFrame("/queue/q", "m-7", "s", "payload"));
  peer.Start();
  ConnectTo(peer);
  Adapter->SetIncomingHeartbeat(1000);
  try {
    Adapter->WaitHeartbeat(2000);
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_STREQ(error.what(), "Unexpected line received: MESSAGE");
  }
  EXPECT_TRUE(Adapter->IsConnected());
  Adapter->ReadOneMessage(2000, true);
  ASSERT_EQ(Frames.size(), 1u);
  EXPECT_EQ(Frames[0].Body, "payload");
}

TEST_F(CommAdapterPeerTest, AShortHeartbeatWaitDoesNotShortenLaterFrameReads) {
  FakeStompPeer peer;
  Answering(peer).WaitUntilReleased().Send("RECEIPT\nreceipt-id:1\n\n").Stall(300ms).Send("\0\n"s);
  peer.Start();
  ConnectTo(peer);
  Adapter->SetIncomingHeartbeat(1000);
  EXPECT_FALSE(Adapter->WaitHeartbeat(10));
  peer.Release();
  Adapter->ReadOneMessage(2000, true);
  EXPECT_EQ(Frames.size(), 1u);
  EXPECT_TRUE(Adapter->IsConnected());
}

TEST_F(CommAdapterPeerTest, SendHeartbeatWritesOneLineFeed) {
  FakeStompPeer peer;
  Answering(peer).Expect("\n");
  peer.Start();
  ConnectTo(peer);
  Adapter->SetOutgoingHeartbeat(500);
  Adapter->SendHeartbeat();
  EXPECT_TRUE(peer.Done());
}

TEST_F(CommAdapterPeerTest, WritingToAClosedPeerDisconnectsAndTheProcessSurvives) {
  FakeStompPeer peer;
  Answering(peer).CloseConnection();
  peer.Start();
  ConnectTo(peer);
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) {
          Adapter->Write(std::string(4096, 'x'), -1);
          std::this_thread::sleep_for(10ms);
        }
      },
      ESocketError);
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(CommAdapterPeerTest, ASendTimeoutEndsAWriteToAPeerThatNeverReads) {
  FakeStompPeer peer;
  Answering(peer).NeverRead().Stall(10000ms);
  peer.Start();
  ConnectTo(peer);
  EXPECT_THROW(Adapter->Write(std::string(64 * 1024 * 1024, 'x'), 200), ESocketError);
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(CommAdapterPeerTest, ConnectFailsWhenTheBrokerNeverAnswers) {
  FakeStompPeer peer;
  peer.Expect(ConnectOctets).ExpectClosed();
  peer.Start();
  Adapter->Init(CreateURI(peer.Url(), 61613));
  Adapter->SetUseConnectTimeout(true);
  Adapter->SetConnectTimeout(200);
  try {
    Adapter->Connect();
    FAIL() << "connected";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "ReadOneMessage: received no data.");
  }
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(peer.Done());
}

TEST_F(CommAdapterPeerTest, AnErrorAnswerToConnectLeavesTheAdapterNotConnected) {
  FakeStompPeer peer;
  peer.Expect(ConnectOctets).Send(ErrorFrame("Access refused")).ExpectClosed();
  peer.Start();
  Adapter->Init(CreateURI(peer.Url(), 61613));
  EXPECT_THROW(Adapter->Connect(), EZQStompServerErrorMessage);
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_TRUE(peer.Done());
}

TEST_F(CommAdapterPeerTest, ConnectAndInitAreRefusedWhileConnectedAndConnectWorksAgainAfterDisconnect) {
  FakeStompPeer peer;
  Answering(peer).ExpectClosed().AcceptNext().Expect(ConnectOctets).Send(ConnectedFrame());
  peer.Start();
  ConnectTo(peer);
  try {
    Adapter->Connect();
    FAIL() << "connected twice";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "Transport layer is already connected.");
  }
  EXPECT_THROW(Adapter->Init(CreateURI(peer.Url(), 61613)), EMQException);
  EXPECT_TRUE(Adapter->IsConnected());
  Adapter->Disconnect();
  EXPECT_FALSE(Adapter->IsConnected());
  Adapter->Connect();
  EXPECT_TRUE(Adapter->IsConnected());
  EXPECT_TRUE(peer.Done());
  EXPECT_EQ(peer.Connections(), 2);
}

TEST_F(CommAdapterPeerTest, ABracketedHostConnectsOverIPv6) {
  if (!FakeStompPeer::IPv6LoopbackAvailable())
    GTEST_SKIP() << "this machine has no IPv6 loopback";
  FakeStompPeer peer(true);
  Answering(peer);
  peer.Start();
  ASSERT_NE(peer.Url().find("[::1]"), std::string::npos);
  ConnectTo(peer);
  EXPECT_TRUE(CreateURI(peer.Url(), 61613)->GetIsIPv6());
  EXPECT_TRUE(peer.Done());
}

}  // namespace
}  // namespace velmor
