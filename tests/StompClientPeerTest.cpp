#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FakeStompPeer.h"
#include "RecordingClient.h"
#include "ZQAdapterRegistry.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using velmor::testing::ConnectedFrame;
using velmor::testing::ErrorFrame;
using velmor::testing::FakeStompPeer;
using velmor::testing::MessageFrame;
using velmor::testing::ReceiptFrame;

// A client on the default TCP adapter that keeps the MESSAGE frames handed to it.
std::shared_ptr<testing::TRecordingClient> NewClient(const std::string& Url, const std::string& Login = "u",
                                                     const std::string& Passcode = "p") {
  return testing::NewClient(CreateDefaultAdapter(), Url, Login, Passcode);
}

// --- Every command, byte for byte, per protocol version ---

struct VersionScript {
  const char* name;
  const char* version;    // CONNECTED "version"
  const char* subscribe;  // SUBSCRIBE with its destination options
  const char* send;       // SEND with a header value that holds a colon
  const char* ack;        // ACK of message m1 on subscription s1
  const char* nack;       // NACK, nullptr on STOMP 1.0
};

class CommandBytesTest : public ::testing::TestWithParam<VersionScript> {};

TEST_P(CommandBytesTest, WritesEveryCommandAsTheVersionWantsIt) {
  const VersionScript& script = GetParam();
  FakeStompPeer peer;
  peer.ExpectFrame("CONNECT\nlogin:u\npasscode:p\naccept-version:1.0,1.1,1.2\nclient-id:c1\n\n\0"s)
      .Send(ConnectedFrame(script.version, {{"session", "s-1"}, {"server", "RabbitMQ/3.10.0"}}))
      .ExpectFrame(script.subscribe + "\0"s)
      .ExpectFrame(script.send + "\0"s)
      .ExpectFrame(script.ack + "\0"s);
  if (script.nack != nullptr)
    peer.ExpectFrame(script.nack + "\0"s);
  peer.ExpectFrame("BEGIN\ntransaction:t1\n\n\0"s)
      .ExpectFrame("COMMIT\ntransaction:t1\n\n\0"s)
      .ExpectFrame("ABORT\ntransaction:t2\n\n\0"s)
      .ExpectFrame("UNSUBSCRIBE\nid:s1\n\n\0"s)
      .ExpectFrame("DISCONNECT\nclient-id:c1\n\n\0"s)
      .ExpectClosed();
  peer.Start();

  const auto client = NewClient(peer.Url("connect.accept-version=1.0,1.1,1.2"));
  client->SetClientID("c1");
  ASSERT_NO_THROW(client->Connect()) << ::testing::PrintToString(peer.Failures());
  EXPECT_EQ(client->GetSessionID(), "s-1");
  EXPECT_EQ(client->GetServer(), "RabbitMQ/3.10.0");
  client->Subscribe("/queue/a?x-max-length=10", AckModeClientIndividual, "s1", "", false);
  client->Send("/queue/a", "hi", {{"note", "a:b"}}, false, false, -1);
  client->Ack("m1", "s1", "");
  if (script.nack != nullptr) {
    client->Nack("m1", "s1", "");
  } else {
    EXPECT_THROW(client->Nack("m1", "s1", ""), EZQStompError);
  }
  client->BeginTransaction("t1");
  client->CommitTransaction("t1");
  client->AbortTransaction("t2");
  client->Unsubscribe("s1");
  client->Disconnect();
  EXPECT_FALSE(client->GetConnected());
  EXPECT_TRUE(peer.Done());
}

INSTANTIATE_TEST_SUITE_P(
    StompClientPeerTest, CommandBytesTest,
    ::testing::Values(
        VersionScript{"StompOneDotZero", "1.0",
                      "SUBSCRIBE\ndestination:/queue/a\nack:client-individual\nid:s1\nx-max-length:10\n\n",
                      "SEND\ndestination:/queue/a\ncontent-length:2\nnote:a\\cb\n\nhi",
                      "ACK\nmessage-id:m1\n\n", nullptr},
        VersionScript{"StompOneDotOne", "1.1",
                      "SUBSCRIBE\ndestination:/queue/a\nack:client-individual\nid:s1\nx-max-length:10\n\n",
                      "SEND\ndestination:/queue/a\ncontent-length:2\nnote:a\\cb\n\nhi",
                      "ACK\nmessage-id:m1\nsubscription:s1\n\n", "NACK\nmessage-id:m1\nsubscription:s1\n\n"},
        VersionScript{"StompOneDotTwo", "1.2",
                      "SUBSCRIBE\ndestination:/queue/a\nack:client-individual\nid:s1\nx-max-length:10\n\n",
                      "SEND\ndestination:/queue/a\ncontent-length:2\nnote:a\\cb\n\nhi", "ACK\nid:m1\n\n",
                      "NACK\nid:m1\n\n"}),
    [](const ::testing::TestParamInfo<VersionScript>& info) { return std::string(info.param.name); });

// --- Header escaping on STOMP 1.0 by server ---

struct V10EscapingCase {
  const char* name;
  const char* server;    // CONNECTED "server"
  const char* written;   // the SEND header line for the value "C:\dir"
  const char* received;  // the MESSAGE header value that arrives as "a:b"
};

class V10EscapingTest : public ::testing::TestWithParam<V10EscapingCase> {};

TEST_P(V10EscapingTest, FollowsTheServersEscapingBothWays) {
  const V10EscapingCase& param = GetParam();
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ConnectedFrame("1.0", {{"server", param.server}}))
      .ExpectFrame("SEND\ndestination:/queue/a\n"s + param.written + "\n\n\0"s)
      .Send(MessageFrame("/queue/a", "m1", "s1", "x", {{"p", param.received}}));
  peer.Start();
  const auto client = NewClient(peer.Url("connect.accept-version=1.0"));
  client->Connect();
  client->Send("/queue/a", "", {{"p", "C:\\dir"}}, true, false, -1);
  client->GetCommAdapter()->ReadOneMessage(5000, true);
  ASSERT_EQ(client->Messages.size(), 1u);
  EXPECT_EQ(client->Messages[0]->GetHeader("p"), "a:b");
  EXPECT_TRUE(peer.Done());
}

INSTANTIATE_TEST_SUITE_P(
    StompClientPeerTest, V10EscapingTest,
    ::testing::Values(V10EscapingCase{"RabbitMQ", "RabbitMQ/3.10.8", "p:C\\c\\\\dir", "a\\cb"},
                      V10EscapingCase{"OtherServer", "Other/1.0", "p:C:\\dir", "a:b"}),
    [](const ::testing::TestParamInfo<V10EscapingCase>& info) { return std::string(info.param.name); });

// --- SEND header order ---

struct SendOrderCase {
  const char* name;
  TStompHeaders headers;
  bool omitContentLength;
  std::string written;  // the whole SEND frame for the body "hi"
};

class SendOrderTest : public ::testing::TestWithParam<SendOrderCase> {};

TEST_P(SendOrderTest, RepeatedNamesPutTheNewestValueFirst) {
  const SendOrderCase& param = GetParam();
  FakeStompPeer peer;
  peer.ReadFrame().Send(ConnectedFrame("1.2")).ExpectFrame(param.written);
  peer.Start();
  const auto client = NewClient(peer.Url());
  client->Connect();
  client->Send("/queue/a", "hi", param.headers, param.omitContentLength, false, -1);
  EXPECT_TRUE(peer.Done());
}

INSTANTIATE_TEST_SUITE_P(
    StompClientPeerTest, SendOrderTest,
    ::testing::Values(SendOrderCase{"RepeatedName",
                                    {{"a", "1"}, {"b", ""}, {"a", "2"}},
                                    false,
                                    "SEND\na:2\ndestination:/queue/a\ncontent-length:2\na:1\nb:\n\nhi\0"s},
                      SendOrderCase{"RepeatedAfterEmptyValue",
                                    {{"a", ""}, {"a", "2"}},
                                    true,
                                    "SEND\ndestination:/queue/a\na:\na:2\n\nhi\0"s},
                      SendOrderCase{
                          "OwnContentLength",
                          {{"content-length", "2"}},
                          false,
                          "SEND\ncontent-length:2\ndestination:/queue/a\ncontent-length:2\n\nhi\0"s}),
    [](const ::testing::TestParamInfo<SendOrderCase>& info) { return std::string(info.param.name); });

// --- CONNECT ---

TEST(StompClientPeerTest, PasscodeWithBackslashIsEscapedOnTheFirstConnect) {
  FakeStompPeer peer;
  peer.ExpectFrame("CONNECT\nlogin:u\npasscode:a\\\\b\naccept-version:1.2\n\n\0"s)
      .Send(ConnectedFrame("1.2"));
  peer.Start();
  const auto client = NewClient(peer.Url(), "u", "a\\b");
  client->Connect();
  EXPECT_TRUE(client->GetConnected());
  EXPECT_TRUE(peer.Done());
}

TEST(StompClientPeerTest, ErrorAnswerToConnectRaisesTheMessageAndClosesTheSocket) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(ErrorFrame("Access refused", "Login was refused")).ExpectClosed();
  peer.Start();
  const auto client = NewClient(peer.Url());
  try {
    client->Connect();
    FAIL() << "connected";
  } catch (const EZQStompServerErrorMessage& error) {
    EXPECT_STREQ(error.what(), "Access refused Login was refused");
  }
  EXPECT_FALSE(client->IsConnected());
  EXPECT_FALSE(client->GetConnected());
  EXPECT_TRUE(peer.Done());
}

TEST(StompClientPeerTest, FirstFrameOtherThanConnectedFailsTheConnectAndClosesTheSocket) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(MessageFrame("/queue/a", "m1", "s1", "x")).ExpectClosed();
  peer.Start();
  const auto client = NewClient(peer.Url());
  try {
    client->Connect();
    FAIL() << "connected";
  } catch (const EZQStompError& error) {
    EXPECT_STREQ(error.what(), "Expected a CONNECTED frame, received MESSAGE");
  }
  EXPECT_FALSE(client->IsConnected());
  EXPECT_FALSE(client->GetConnected());
  EXPECT_TRUE(client->Messages.empty());
  EXPECT_TRUE(peer.Done());
}

TEST(StompClientPeerTest, UnknownOptionFailsTheConnectAndClosesTheSocket) {
  FakeStompPeer peer;
  peer.ExpectClosed();
  peer.Start();
  const auto client = NewClient(peer.Url("send.receipt=true&Subscribe.receipt=true"));
  try {
    client->Connect();
    FAIL() << "connected";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "Connection URL contains unknown option: Subscribe.receipt=true");
  }
  EXPECT_TRUE(peer.Done());
}

TEST(StompClientPeerTest, ConnectAgainAfterAFailedConnectWithHeartbeatsWorks) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ErrorFrame("not now"))
      .ExpectClosed()
      .AcceptNext()
      .ExpectFrame("CONNECT\nlogin:u\npasscode:p\nheart-beat:100,200\naccept-version:1.2\n\n\0"s)
      .Send(ConnectedFrame("1.1", {{"heart-beat", "300,50"}}));
  peer.Start();
  const auto client = NewClient(peer.Url("connect.heart-beat=100,200"));
  EXPECT_THROW(client->Connect(), EZQStompServerErrorMessage);
  client->Connect();
  EXPECT_EQ(client->GetVersion(), 2);
  EXPECT_EQ(client->GetCommAdapter()->GetOutgoingHeartbeat(), 100);
  EXPECT_EQ(client->GetCommAdapter()->GetIncomingHeartbeat(), 300);
  EXPECT_TRUE(peer.Done());
}

// --- Heart-beats ---

TEST(StompClientPeerTest, NegotiatedHeartbeatsGoBothWays) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(ConnectedFrame("1.2", {{"heart-beat", "3000,500"}})).ExpectHeartbeat().Send("\n");
  peer.Start();
  const auto client = NewClient(peer.Url("connect.heart-beat=1000,2000"));
  client->Connect();
  EXPECT_EQ(client->GetCommAdapter()->GetOutgoingHeartbeat(), 1000);
  EXPECT_EQ(client->GetCommAdapter()->GetIncomingHeartbeat(), 3000);
  client->SendHeartbeat();
  EXPECT_TRUE(client->WaitHeartbeat(2000));
  EXPECT_NO_THROW(client->CheckHeartbeat());
  EXPECT_TRUE(peer.Done());
}

TEST(StompClientPeerTest, HeartbeatHeaderWithoutRequestLeavesHeartbeatsOff) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(ConnectedFrame("1.2", {{"heart-beat", "5000,5000"}}));
  peer.Start();
  const auto client = NewClient(peer.Url());
  client->Connect();
  EXPECT_EQ(client->GetCommAdapter()->GetOutgoingHeartbeat(), 0);
  EXPECT_EQ(client->GetCommAdapter()->GetIncomingHeartbeat(), 0);
  EXPECT_THROW(client->SendHeartbeat(), EZQStompError);
  EXPECT_TRUE(peer.Done());
}

// --- Receipts ---

TEST(StompClientPeerTest, SendReceiptArrivingAfterTheMessageItRoutedIsAccepted) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ConnectedFrame("1.2"))
      .ReadFrame()
      .SendReceiptForLastFrame()
      .ReadFrame()
      .Send(MessageFrame("/queue/a", "m1", "s1", "hello"))
      .SendReceiptForLastFrame();
  peer.Start();
  const auto client = NewClient(peer.Url("subscribe.receipt=true&send.receipt=true"));
  client->Connect();
  client->Subscribe("/queue/a", AckModeAuto, "s1", "", false);
  EXPECT_NO_THROW(client->Send("/queue/a", "hello", {}, true, false, -1));
  EXPECT_TRUE(client->Messages.empty());
  ASSERT_EQ(client->PendingMessageFrameCount(), 1U);
  ASSERT_TRUE(client->DispatchPendingMessageFrame());
  ASSERT_EQ(client->Messages.size(), 1U);
  EXPECT_EQ(client->Messages[0]->GetBody(), "hello");
  EXPECT_TRUE(peer.Done());
  const auto frames = peer.Frames();
  ASSERT_EQ(frames.size(), 3U);
  EXPECT_THAT(
      frames[1],
      StartsWith("SUBSCRIBE\ndestination:/queue/a\nack:auto\nid:s1\nreceipt:subscribe.receipt.id.0."));
  EXPECT_THAT(frames[2], StartsWith("SEND\ndestination:/queue/a\nreceipt:send.receipt.id.1."));
}

TEST(StompClientPeerTest, NoFrameBeforeTheReceiptTimeoutClosesTheConnection) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(ConnectedFrame("1.2")).ReadFrame().ExpectClosed();
  peer.Start();
  const auto client = NewClient(peer.Url("unsubscribe.receipt=true&unsubscribe.receipt.timeout=100"));
  client->Connect();
  try {
    client->Unsubscribe("s1");
    FAIL() << "no error";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "ReadOneMessage: received no data.");
  }
  EXPECT_FALSE(client->IsConnected());
  EXPECT_TRUE(peer.Done());
}

// In this test and the next the peer answers each UNSUBSCRIBE only once it has read it, so the receipt
// time-out is long enough for a loaded machine; the first wait runs it out.
TEST(StompClientPeerTest, OtherFramesWithoutTheReceiptFailAfterTheTimeoutAndKeepTheConnection) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ConnectedFrame("1.2"))
      .ReadFrame()
      .Send(MessageFrame("/queue/a", "m1", "s1", "x"))
      .ReadFrame()
      .SendReceiptForLastFrame();
  peer.Start();
  const auto client = NewClient(peer.Url("unsubscribe.receipt=true&unsubscribe.receipt.timeout=2000"));
  client->Connect();
  try {
    client->Unsubscribe("s1");
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_THAT(error.what(),
                StartsWith("No RECEIPT received. Timeout: 2000 msec Expected: unsubscribe.receipt.id.0."));
  }
  EXPECT_TRUE(client->IsConnected());
  EXPECT_EQ(client->PendingMessageFrameCount(), 1U);
  EXPECT_NO_THROW(client->Unsubscribe("s2"));
  EXPECT_TRUE(peer.Done());
}

TEST(StompClientPeerTest, OnlyOtherReceiptsBeforeTheTimeoutAreAWrongReceiptAndKeepTheConnection) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ConnectedFrame("1.2"))
      .ReadFrame()
      .Send(ReceiptFrame("other"))
      .ReadFrame()
      .SendReceiptForLastFrame();
  peer.Start();
  const auto client = NewClient(peer.Url("unsubscribe.receipt=true&unsubscribe.receipt.timeout=2000"));
  client->Connect();
  try {
    client->Unsubscribe("s1");
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_THAT(error.what(), StartsWith("Wrong RECEIPT received - expected unsubscribe.receipt.id.0."));
    EXPECT_THAT(error.what(), ::testing::EndsWith(", received other"));
  }
  EXPECT_TRUE(client->IsConnected());
  EXPECT_NO_THROW(client->Unsubscribe("s2"));
  EXPECT_TRUE(peer.Done());
}

// A client whose receipt waits hold at most a few MESSAGE frames.
class TSmallHoldClient : public testing::TRecordingClient {
 public:
  using TZQStompClient::SetPendingMessageLimits;
};

struct HoldLimitCase {
  const char* Name;
  std::size_t MaxFrames;
  std::size_t MaxOctets;
};

class ReceiptWaitHoldLimitTest : public ::testing::TestWithParam<HoldLimitCase> {};

TEST_P(ReceiptWaitHoldLimitTest, EndsTheWaitKeepsTheHeldFramesInOrderAndTheConnectionOpen) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ConnectedFrame("1.2"))
      .ReadFrame()
      .Send(MessageFrame("/queue/a", "m1", "s1", "aaaa") + MessageFrame("/queue/a", "m2", "s1", "bbbb") +
            MessageFrame("/queue/a", "m3", "s1", "cccc"))
      .SendReceiptForLastFrame();
  peer.Start();
  const auto client =
      testing::NewClient<TSmallHoldClient>(CreateDefaultAdapter(), peer.Url("send.receipt=true"), "u", "p");
  client->SetPendingMessageLimits(GetParam().MaxFrames, GetParam().MaxOctets);
  client->Connect();
  try {
    client->Send("/queue/a", "x", {}, false, false, -1);
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_THAT(error.what(),
                StartsWith("Too many MESSAGE frames arrived while waiting for RECEIPT send.receipt.id.0."));
    EXPECT_THAT(error.what(), ::testing::EndsWith("; the outcome of the call is unknown"));
  }
  EXPECT_TRUE(client->IsConnected());
  EXPECT_TRUE(client->GetConnected());
  ASSERT_EQ(client->PendingMessageFrameCount(), 2U);
  ASSERT_TRUE(peer.WaitDone());
  // The held frames come first, then the rest of the stream; the late RECEIPT gives no message.
  while (client->DispatchPendingMessageFrame()) {
  }
  client->GetCommAdapter()->ReadOneMessage(2000, true);
  client->GetCommAdapter()->ReadOneMessage(2000, true);
  EXPECT_TRUE(client->GetReceiptReceived());
  ASSERT_EQ(client->Messages.size(), 3U);
  EXPECT_EQ(client->Messages[0]->GetBody(), "aaaa");
  EXPECT_EQ(client->Messages[1]->GetBody(), "bbbb");
  EXPECT_EQ(client->Messages[2]->GetBody(), "cccc");
  EXPECT_TRUE(client->IsConnected());
}

INSTANTIATE_TEST_SUITE_P(StompClientPeerTest, ReceiptWaitHoldLimitTest,
                         // Each MESSAGE frame takes 82 octets as received.
                         ::testing::Values(HoldLimitCase{"ByFrameCount", 2, 1024},
                                           HoldLimitCase{"ByOctets", 100, 150}),
                         [](const ::testing::TestParamInfo<HoldLimitCase>& Info) {
                           return std::string(Info.param.Name);
                         });

// The bounds of a receipt wait leave room for one message up to the body limit besides the others.
TEST(StompClientPeerTest, AMessageOver64MiBForAnotherConsumerDoesNotEndAReceiptWait) {
  const std::string body(65 * 1024 * 1024, 'b');
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ConnectedFrame("1.2"))
      .ReadFrame()
      .Send(MessageFrame("/queue/a", "m1", "s1", "small") + MessageFrame("/queue/a", "m2", "s1", body))
      .SendReceiptForLastFrame();
  peer.Start();
  const auto client =
      testing::NewClient<testing::TRecordingClient>(CreateDefaultAdapter(), peer.Url("send.receipt=true"), "u", "p");
  client->Connect();
  client->Send("/queue/a", "x", {}, false, false, -1);
  ASSERT_EQ(client->PendingMessageFrameCount(), 2U);
  while (client->DispatchPendingMessageFrame()) {
  }
  ASSERT_EQ(client->Messages.size(), 2U);
  EXPECT_EQ(client->Messages[1]->GetBody().size(), body.size());
  EXPECT_TRUE(peer.Done());
}

TEST(StompClientPeerTest, ErrorWhileWaitingForAReceiptRaisesTheBrokersMessage) {
  FakeStompPeer peer;
  peer.ReadFrame()
      .Send(ConnectedFrame("1.2"))
      .ReadFrame()
      .SendWith([&peer] {
        return ErrorFrame("not_found", "NOT_FOUND - no queue",
                          {{"receipt", velmor::testing::FrameHeader(peer.LastFrame(), "receipt")}});
      })
      .ExpectClosed();
  peer.Start();
  const auto client = NewClient(peer.Url("subscribe.receipt=true"));
  client->Connect();
  try {
    client->Subscribe("/amq/queue/none", AckModeAuto, "s1", "", false);
    FAIL() << "no error";
  } catch (const EZQStompServerErrorMessage& error) {
    EXPECT_THAT(error.what(), StartsWith("not_found NOT_FOUND - no queue receipt:subscribe.receipt.id.0."));
  }
  EXPECT_FALSE(client->IsConnected());
  EXPECT_TRUE(peer.Done());
}

// --- DISCONNECT ---

TEST(StompClientPeerTest, DisconnectWithReceiptWaitsForItAndCloses) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(ConnectedFrame("1.2")).ReadFrame().SendReceiptForLastFrame().ExpectClosed();
  peer.Start();
  const auto client = NewClient(peer.Url("disconnect.receipt=true"));
  client->Connect();
  client->Disconnect();
  EXPECT_FALSE(client->GetConnected());
  EXPECT_FALSE(client->IsConnected());
  EXPECT_TRUE(peer.Done());
  EXPECT_THAT(peer.LastFrame(), StartsWith("DISCONNECT\nreceipt:disconnect.receipt.id.0."));
}

TEST(StompClientPeerTest, DisconnectWithoutItsReceiptStillClosesTheSocket) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(ConnectedFrame("1.2", {{"session", "s-9"}})).ReadFrame().ExpectClosed();
  peer.Start();
  const auto client = NewClient(peer.Url("disconnect.receipt=true&disconnect.receipt.timeout=100"));
  client->Connect();
  try {
    client->Disconnect();
    FAIL() << "no error";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "ReadOneMessage: received no data.");
  }
  EXPECT_FALSE(client->GetConnected());
  EXPECT_EQ(client->GetSessionID(), "");
  EXPECT_FALSE(client->IsConnected());
  EXPECT_TRUE(peer.Done());
}

// The broker's close is seen without a read: nobody is left to say DISCONNECT to.
TEST(StompClientPeerTest, DisconnectAfterTheBrokerWentAwayClosesWithoutWriting) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(ConnectedFrame("1.2")).CloseConnection();
  peer.Start();
  const auto client = NewClient(peer.Url("disconnect.receipt=true&disconnect.receipt.timeout=100"));
  client->Connect();
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_FALSE(client->IsConnected());
  EXPECT_NO_THROW(client->Disconnect());
  EXPECT_FALSE(client->GetConnected());
  EXPECT_FALSE(client->IsConnected());
}

// After an ERROR or a close seen by a read, the TCP connection is gone: Disconnect only clears the state.
TEST(StompClientPeerTest, DisconnectAfterAnErrorOrACloseWritesAndRaisesNothing) {
  for (const bool brokerSentError : {true, false}) {
    SCOPED_TRACE(brokerSentError ? "after ERROR" : "after close");
    FakeStompPeer peer;
    peer.ReadFrame().Send(ConnectedFrame("1.2", {{"session", "s-1"}}));
    brokerSentError ? peer.Send(ErrorFrame("bad")).ExpectClosed() : peer.CloseConnection();
    peer.Start();
    const auto client = NewClient(peer.Url("disconnect.receipt=true"));
    client->Connect();
    EXPECT_THROW(client->GetCommAdapter()->Receive(), EVelmorError);
    EXPECT_NO_THROW(client->Disconnect());
    EXPECT_FALSE(client->GetConnected());
    EXPECT_EQ(client->GetSessionID(), "");
    EXPECT_TRUE(peer.Done());
    EXPECT_EQ(peer.Frames().size(), 1u);
  }
}

}  // namespace
}  // namespace velmor
