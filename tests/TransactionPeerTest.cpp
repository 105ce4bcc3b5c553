// Transactions, acknowledgements and reconnects against a scripted broker, where the order of the
// frames is the proof.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FakeStompPeer.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "WaitUntil.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using testing::FakeStompPeer;
using testing::FrameHeader;
using testing::MessageOf;
using testing::TextOf;

// The broker's MESSAGE for the subscription that the client's frame number Subscribe opened.
std::function<std::string()> MessageFor(const FakeStompPeer& Peer, std::size_t Subscribe,
                                        const std::string& Id) {
  return [&Peer, Subscribe, Id] {
    return testing::MessageFrame("/queue/q", Id, FrameHeader(Peer.Frames().at(Subscribe), "id"), Id,
                                 {{"ack", "ack-" + Id}, {"content-type", "text/plain"}});
  };
}

std::string Command(const std::string& Frame) {
  return Frame.substr(0, Frame.find('\n'));
}

// The frame without its "receipt" header line.
std::string WithoutReceipt(const std::string& Frame) {
  const auto start = Frame.find("\nreceipt:");
  return start == std::string::npos ? Frame
                                    : Frame.substr(0, start) + Frame.substr(Frame.find('\n', start + 1));
}

struct CommitCase {
  const char* Name;
  std::string Answer;  // what the broker sends after the client's probe
  std::string Raised;  // how the text that Commit raises begins
};

void PrintTo(const CommitCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class CommitPeerTest : public ::testing::TestWithParam<CommitCase> {};

// COMMIT, then a SEND with a receipt that the broker answers only once it has applied the transaction. The
// receipt wait is long enough that a loaded machine does not end it before the peer's answer.
TEST_P(CommitPeerTest, CommitReturnsOnlyOnceTheBrokerAnsweredItsProbe) {
  const CommitCase& c = GetParam();
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame().ReadFrame().ReadFrame();
  peer.Stall(300ms).Send(testing::MessageFrame("/queue/q", "m-1", "/temp-queue/tmp-0", "kept",
                                               {{"content-type", "text/plain"}}));
  peer.SendWith([&peer, Answer = c.Answer] {
    return Answer == "RECEIPT" ? testing::ReceiptFrame(FrameHeader(peer.LastFrame(), "receipt")) : Answer;
  });
  if (c.Answer == "RECEIPT")
    peer.ReadFrame();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url("send.receipt.timeout=3000"));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(true, AcknowledgeModeTransacted);
  const auto consumer = session->CreateConsumer(session->CreateTemporaryQueue());
  session->CreateProducer(session->CreateQueue("q"))->Send(session->CreateTextMessage("t"));
  const auto start = std::chrono::steady_clock::now();
  const std::string raised = MessageOf<EMQException>([&] { session->Commit(); });
  EXPECT_EQ(raised.rfind(c.Raised, 0), 0u) << raised;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  EXPECT_EQ(Command(frames[3]), "COMMIT");
  EXPECT_EQ(Command(frames[4]), "SEND");
  EXPECT_EQ(FrameHeader(frames[4], "destination"), "/exchange/amq.direct/velmor.client.probe");
  EXPECT_NE(FrameHeader(frames[4], "receipt"), "");
  if (c.Answer == "RECEIPT") {
    EXPECT_EQ(Command(frames[5]), "BEGIN");
    EXPECT_EQ(TextOf(consumer->ReceiveNoWait()), "kept");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CommitPeerTest,
    ::testing::Values(CommitCase{"Receipt", "RECEIPT", "<nothing raised>"},
                      CommitCase{"Error", testing::ErrorFrame("not_found", "NOT_FOUND - no exchange"),
                                 "not_found NOT_FOUND - no exchange"},
                      CommitCase{"Nothing", "",
                                 "No RECEIPT received. Timeout: 3000 msec Expected: send.receipt."}),
    [](const ::testing::TestParamInfo<CommitCase>& Info) { return std::string(Info.param.Name); });

TEST(TransactionPeerTest, AnAcknowledgementNamesTheTransactionOpenInTheOwningSessionWhenItIsMade) {
  FakeStompPeer peer;
  // CONNECT, BEGIN of each session, SUBSCRIBE of each consumer; the message for the second consumer
  // comes first, so the first consumer's receive keeps it. Then each session commits, the first one
  // after its consumer is gone.
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame().ReadFrame().ReadFrame();
  peer.SendWith(MessageFor(peer, 4, "m-2")).SendWith(MessageFor(peer, 3, "m-1"));
  peer.ReadFrame().ReadFrame().SendReceiptForLastFrame().ReadFrame().ReadFrame();
  peer.ReadFrame().ReadFrame().ReadFrame().SendReceiptForLastFrame().ReadFrame().ReadFrame();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url());
  connection->Start();
  const ISessionPtr first = connection->CreateSession(true, AcknowledgeModeClient);
  const ISessionPtr second = connection->CreateSession(true, AcknowledgeModeClient);
  auto firstConsumer = first->CreateConsumer(first->CreateQueue("q1"));
  const auto secondConsumer = second->CreateConsumer(second->CreateQueue("q2"));
  const IMessagePtr own = firstConsumer->Receive(5000);
  ASSERT_EQ(TextOf(own), "m-1");
  second->Commit();
  const IMessagePtr kept = secondConsumer->Receive(5000);
  ASSERT_EQ(TextOf(kept), "m-2");
  kept->Acknowledge();
  firstConsumer->Close();
  firstConsumer.reset();
  first->Commit();
  own->Acknowledge();
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  EXPECT_EQ(frames[3], "SUBSCRIBE\ndestination:/queue/q1\nack:client-individual\nid:" +
                           FrameHeader(frames[3], "id") + "\n\n" + std::string(1, '\0'));
  EXPECT_EQ(Command(frames[7]), "BEGIN");
  EXPECT_EQ(frames[8], "ACK\nid:ack-m-2\ntransaction:" + FrameHeader(frames[7], "transaction") + "\n\n" +
                           std::string(1, '\0'));
  EXPECT_EQ(Command(frames[12]), "BEGIN");
  EXPECT_EQ(frames[13], "ACK\nid:ack-m-1\ntransaction:" + FrameHeader(frames[12], "transaction") + "\n\n" +
                            std::string(1, '\0'));
}

// The broker says why it closes in an ERROR frame: the close is seen without a read, a send that then
// fails raises the broker's text, and a Start connects again.
TEST(TransactionPeerTest, AfterTheBrokersCloseAStartSubscribesAgainAndDropsTheLostTransaction) {
  FakeStompPeer peer;
  // CONNECT, BEGIN, SUBSCRIBE, SEND; then the broker goes. Then CONNECT, the same SUBSCRIBE (with a
  // receipt), BEGIN, SEND, ABORT and the probe, UNSUBSCRIBE.
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame().ReadFrame();
  peer.SendWith(MessageFor(peer, 2, "m-0"));
  peer.Send(testing::ErrorFrame("access_refused", "ACCESS_REFUSED - no")).CloseConnection();
  peer.AcceptNext().ReadFrame().Send(testing::ConnectedFrame());
  peer.ExpectFrameMatching("the first SUBSCRIBE", [&peer](const std::string& Frame) {
    return WithoutReceipt(Frame) == peer.Frames().at(2);
  });
  peer.SendReceiptForLastFrame();
  peer.ReadFrame().ReadFrame().ReadFrame().ReadFrame().SendReceiptForLastFrame().ReadFrame();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url());
  connection->Start();
  const ISessionPtr session = connection->CreateSession(true, AcknowledgeModeTransacted);
  const auto consumer = session->CreateConsumer(session->CreateQueue("in"));
  const auto producer = session->CreateProducer(session->CreateQueue("out"));
  producer->Send(session->CreateTextMessage("lost"));
  const IMessagePtr early = consumer->Receive(5000);
  ASSERT_EQ(TextOf(early), "m-0");
  ASSERT_TRUE(testing::WaitUntil([&] { return !connection->IsConnected(); }));
  // A write into a closed connection may still go out once; a later one fails.
  EXPECT_EQ(MessageOf<EZQStompServerErrorMessage>([&] {
              for (int i = 0; i < 10; ++i, std::this_thread::sleep_for(20ms))
                producer->Send(session->CreateTextMessage("unsent"));
            }),
            "access_refused ACCESS_REFUSED - no");
  connection->Start();
  producer->Send(session->CreateTextMessage("after"));
  EXPECT_EQ(MessageOf<EMQException>([&] { session->Commit(); }),
            "The transaction was lost with the connection to the broker: nothing of it was committed");
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { early->Acknowledge(); }),
            "Cannot acknowledge the message: it was received on an earlier connection to the broker, which "
            "hands it out again");
  consumer->Close();
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  const std::string next = FrameHeader(frames[6], "transaction");
  EXPECT_EQ(Command(frames[6]), "BEGIN");
  EXPECT_NE(next, FrameHeader(frames[1], "transaction"));
  EXPECT_EQ(FrameHeader(frames[7], "transaction"), next);
  EXPECT_EQ(frames[8], "ABORT\ntransaction:" + next + "\n\n" + std::string(1, '\0'));
  EXPECT_EQ(Command(frames[10]), "UNSUBSCRIBE");
}

// Under automatic acknowledgement the broker counts what it delivered as consumed: a Start that connects
// again keeps for the consumer what the lost connection delivered and nobody read.
TEST(TransactionPeerTest, AReconnectKeepsTheAutomaticallyAcknowledgedMessagesNobodyReadYet) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame();
  for (const char* id : {"m-1", "m-2", "m-3"})
    peer.SendWith(MessageFor(peer, 1, id));
  peer.Send(testing::ErrorFrame("connection_forced", "broker forced connection closure")).CloseConnection();
  peer.AcceptNext().ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().SendReceiptForLastFrame();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url());
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto consumer = session->CreateConsumer(session->CreateQueue("q"));
  ASSERT_TRUE(testing::WaitUntil([&] { return !connection->IsConnected(); }));
  connection->Start();
  for (const char* id : {"m-1", "m-2", "m-3"})
    EXPECT_EQ(TextOf(consumer->ReceiveNoWait()), id);
  EXPECT_TRUE(peer.Done());
}

// Under client acknowledgement the broker hands out again what the lost connection had delivered, so
// a copy kept for another consumer from there is not handed out as well.
TEST(TransactionPeerTest, AfterAReconnectOnlyTheBrokersRedeliveryOfAKeptMessageIsHandedOut) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame();
  peer.SendWith(MessageFor(peer, 2, "m-2")).SendWith(MessageFor(peer, 1, "m-1")).CloseConnection();
  peer.AcceptNext().ReadFrame().Send(testing::ConnectedFrame());
  peer.ReadFrame().SendReceiptForLastFrame().ReadFrame().SendReceiptForLastFrame();
  peer.SendWith(MessageFor(peer, 5, "m-2-again"));
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url());
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeClientIndividual);
  const auto first = session->CreateConsumer(session->CreateQueue("q1"));
  const auto second = session->CreateConsumer(session->CreateQueue("q2"));
  ASSERT_EQ(TextOf(first->Receive(5000)), "m-1");
  ASSERT_TRUE(testing::WaitUntil([&] { return !connection->IsConnected(); }));
  connection->Start();
  EXPECT_EQ(TextOf(second->Receive(5000)), "m-2-again");
  EXPECT_EQ(second->ReceiveNoWait(), nullptr);
  EXPECT_TRUE(peer.Done());
}

// A Start that reconnects resubscribes every consumer not yet subscribed on the new connection, also
// when an earlier Start failed part way, and a transaction that held nothing is begun again, not lost.
TEST(TransactionPeerTest, AResumeThatFailedPartWayIsFinishedByTheNextStart) {
  FakeStompPeer peer;
  const auto answer = [&peer] { peer.ReadFrame().SendReceiptForLastFrame(); };
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame();  // CONNECT, BEGIN
  answer();
  answer();
  peer.CloseConnection().AcceptNext().ReadFrame().Send(testing::ConnectedFrame()).ReadFrame();
  answer();
  peer.ReadFrame().Send(testing::ReceiptFrame("not-this-one"));
  answer();
  peer.ReadFrame().ReadFrame().SendReceiptForLastFrame().ReadFrame();  // COMMIT, probe, BEGIN
  peer.Start();
  const auto connection =
      testing::NewConnection(peer.Url("subscribe.receipt=true&subscribe.receipt.timeout=3000"));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(true, AcknowledgeModeTransacted);
  const auto first = session->CreateConsumer(session->CreateQueue("q1"));
  const auto second = session->CreateConsumer(session->CreateQueue("q2"));
  ASSERT_TRUE(testing::WaitUntil([&] { return !connection->IsConnected(); }));
  EXPECT_THROW(connection->Start(), EZQStompError);
  connection->Start();
  session->Commit();
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  ASSERT_EQ(frames.size(), 12u);
  EXPECT_EQ(Command(frames[5]), "BEGIN");
  EXPECT_EQ(FrameHeader(frames[6], "id"), FrameHeader(frames[2], "id"));
  EXPECT_EQ(FrameHeader(frames[7], "id"), FrameHeader(frames[3], "id"));
  EXPECT_EQ(FrameHeader(frames[8], "id"), FrameHeader(frames[3], "id"));
  EXPECT_EQ(frames[9],
            "COMMIT\ntransaction:" + FrameHeader(frames[5], "transaction") + "\n\n" + std::string(1, '\0'));
}

}  // namespace
}  // namespace velmor
