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
  bool Unknown;        // the text says that the transaction may or may not have been applied
};

void PrintTo(const CommitCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class CommitPeerTest : public ::testing::TestWithParam<CommitCase> {};

// COMMIT, then a SEND with a receipt that the broker answers only once it has applied the transaction. The
// receipt wait is long enough that a loaded machine does not end it before the peer's answer.
// A Commit that failed leaves no transaction open: Rollback has nothing to end, and the next send
// begins the next transaction.
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
    peer.ReadFrame();  // BEGIN
  else if (c.Answer.empty())
    peer.ReadFrame().ReadFrame();  // BEGIN and SEND of the next transaction
  else
    peer.CloseConnection();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url("send.receipt.timeout=3000"));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(true, AcknowledgeModeTransacted);
  const auto consumer = session->CreateConsumer(session->CreateTemporaryQueue());
  session->CreateProducer(session->CreateQueue("q"))->Send(session->CreateTextMessage("t"));
  const auto start = std::chrono::steady_clock::now();
  const std::string raised = MessageOf<EMQException>([&] { session->Commit(); });
  EXPECT_EQ(raised.rfind(c.Raised, 0), 0u) << raised;
  const std::string unknown = "; the transaction may or may not have been applied";
  EXPECT_EQ(raised.size() > unknown.size() && raised.substr(raised.size() - unknown.size()) == unknown, c.Unknown)
      << raised;
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  if (c.Answer != "RECEIPT") {
    EXPECT_NO_THROW(session->Rollback());
    if (c.Answer.empty())
      session->CreateProducer(session->CreateQueue("q"))->Send(session->CreateTextMessage("next"));
  }
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  EXPECT_EQ(Command(frames[3]), "COMMIT");
  EXPECT_EQ(Command(frames[4]), "SEND");
  EXPECT_EQ(FrameHeader(frames[4], "destination"), "/exchange/amq.direct/velmor.client.probe");
  EXPECT_NE(FrameHeader(frames[4], "receipt"), "");
  if (c.Answer == "RECEIPT") {
    EXPECT_EQ(Command(frames[5]), "BEGIN");
    EXPECT_EQ(TextOf(consumer->ReceiveNoWait()), "kept");
  } else if (c.Answer.empty()) {
    EXPECT_EQ(Command(frames[5]), "BEGIN");
    EXPECT_NE(FrameHeader(frames[5], "transaction"), FrameHeader(frames[1], "transaction"));
    EXPECT_EQ(FrameHeader(frames[6], "transaction"), FrameHeader(frames[5], "transaction"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CommitPeerTest,
    ::testing::Values(CommitCase{"Receipt", "RECEIPT", "<nothing raised>", false},
                      CommitCase{"Error", testing::ErrorFrame("not_found", "NOT_FOUND - no exchange"),
                                 "not_found NOT_FOUND - no exchange", false},
                      CommitCase{"Nothing", "", "No RECEIPT received. Timeout: 3000 msec Expected: send.receipt.",
                                 true}),
    [](const ::testing::TestParamInfo<CommitCase>& Info) { return std::string(Info.param.Name); });

// The broker answers the probe once it has applied the transaction, but confirms a persistent message
// only once it has stored it: Commit waits for the RECEIPT of each persistent SEND of the transaction
// as well, in whatever order they come, and when one does not come, it cannot say what was applied.
// The receipt wait is long enough that a loaded machine does not end it before the peer's answers.
TEST(TransactionPeerTest, CommitReturnsOnlyOnceTheBrokerConfirmedEachPersistentSendOfTheTransaction) {
  FakeStompPeer peer;
  // CONNECT, BEGIN, three SENDs, COMMIT, probe; the probe's RECEIPT first, the others later, in
  // reverse order. The next transaction's persistent SEND is never confirmed.
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame().ReadFrame().ReadFrame();
  peer.ReadFrame().ReadFrame().SendReceiptForLastFrame().Stall(300ms);
  peer.SendWith([&peer] { return testing::ReceiptFrame(FrameHeader(peer.Frames().at(4), "receipt")); });
  peer.SendWith([&peer] { return testing::ReceiptFrame(FrameHeader(peer.Frames().at(2), "receipt")); });
  peer.ReadFrame().ReadFrame().ReadFrame().ReadFrame().SendReceiptForLastFrame();
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url("send.receipt.timeout=3000"));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(true, AcknowledgeModeTransacted);
  const auto producer = session->CreateProducer(session->CreateQueue("q"));
  producer->SetDeliveryMode(1);
  producer->Send(session->CreateTextMessage("p-1"));
  producer->Send(session->CreateTextMessage("n"), 0, 4, 0);
  producer->Send(session->CreateTextMessage("p-2"));
  const auto start = std::chrono::steady_clock::now();
  session->Commit();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  producer->Send(session->CreateTextMessage("p-3"));
  const std::string raised = MessageOf<EZQStompError>([&] { session->Commit(); });
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  EXPECT_EQ(FrameHeader(frames[3], "receipt"), "");
  EXPECT_EQ(Command(frames[5]), "COMMIT");
  EXPECT_EQ(Command(frames[7]), "BEGIN");
  EXPECT_EQ(raised, "No RECEIPT received. Timeout: 3000 msec Expected: " + FrameHeader(frames[8], "receipt") +
                        "; the transaction may or may not have been applied");
}

// What a transacted session's consumers hand out is settled by the session's transaction: ACK, or NACK
// for a rejected message, in the transaction before its COMMIT; NACK after its ABORT, so that the
// broker hands it out again at once; a consumer that closes puts its messages into the transaction
// before it unsubscribes. A message kept for another session's consumer is in no transaction until
// that consumer hands it out.
TEST(TransactionPeerTest, WhatATransactedSessionHandsOutIsAcknowledgedByItsCommitAndReturnedByItsRollback) {
  FakeStompPeer peer;
  const auto answered = [&peer] { peer.ReadFrame().SendReceiptForLastFrame(); };
  // CONNECT, BEGIN of each session, SUBSCRIBE of each consumer; the message for the second consumer
  // comes first, so the first consumer's receive keeps it.
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame().ReadFrame().ReadFrame().ReadFrame();
  peer.SendWith(MessageFor(peer, 4, "m-2")).SendWith(MessageFor(peer, 3, "m-1")).SendWith(MessageFor(peer, 3, "m-3"));
  peer.ReadFrame().ReadFrame().ReadFrame();  // ACK, NACK, COMMIT
  answered();
  peer.ReadFrame().ReadFrame().ReadFrame();  // BEGIN; ABORT, NACK
  answered();
  peer.ReadFrame().SendWith(MessageFor(peer, 4, "m-4"));  // BEGIN
  peer.ReadFrame().ReadFrame().ReadFrame();  // ACK, UNSUBSCRIBE, COMMIT
  answered();
  peer.ReadFrame();  // BEGIN
  peer.Start();
  const auto connection = testing::NewConnection(peer.Url());
  connection->Start();
  const ISessionPtr first = connection->CreateSession(true, AcknowledgeModeTransacted);
  const ISessionPtr second = connection->CreateSession(true, AcknowledgeModeTransacted);
  const auto firstConsumer = first->CreateConsumer(first->CreateQueue("q1"));
  const auto secondConsumer = second->CreateConsumer(second->CreateQueue("q2"));
  const IMessagePtr m1 = firstConsumer->Receive(5000);
  ASSERT_EQ(TextOf(m1), "m-1");
  const IMessagePtr m3 = firstConsumer->Receive(5000);
  ASSERT_EQ(TextOf(m3), "m-3");
  m1->Acknowledge();
  m3->Nack();
  const std::string settled = "Cannot reject the message: it has been acknowledged or rejected already";
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { m3->Nack(); }), settled);
  first->Commit();
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { m1->Nack(); }), settled);
  ASSERT_EQ(TextOf(secondConsumer->Receive(5000)), "m-2");
  second->Rollback();
  ASSERT_EQ(TextOf(secondConsumer->Receive(5000)), "m-4");
  secondConsumer->Close();
  second->Commit();
  ASSERT_TRUE(peer.Done());
  const std::vector<std::string> frames = peer.Frames();
  const auto frame = [](const std::string& Text) { return Text + "\n\n" + std::string(1, '\0'); };
  const std::string firstTx = FrameHeader(frames[1], "transaction");
  const std::string secondTx = FrameHeader(frames[2], "transaction");
  const std::string nextTx = FrameHeader(frames[13], "transaction");
  EXPECT_EQ(frames[3], frame("SUBSCRIBE\ndestination:/queue/q1\nack:client-individual\nid:" +
                             FrameHeader(frames[3], "id")));
  EXPECT_EQ(frames[5], frame("ACK\nid:ack-m-1\ntransaction:" + firstTx));
  EXPECT_EQ(frames[6], frame("NACK\nid:ack-m-3\ntransaction:" + firstTx));
  EXPECT_EQ(frames[7], frame("COMMIT\ntransaction:" + firstTx));
  EXPECT_EQ(frames[10], frame("ABORT\ntransaction:" + secondTx));
  EXPECT_EQ(frames[11], frame("NACK\nid:ack-m-2"));
  EXPECT_EQ(Command(frames[13]), "BEGIN");
  EXPECT_EQ(frames[14], frame("ACK\nid:ack-m-4\ntransaction:" + nextTx));
  EXPECT_EQ(Command(frames[15]), "UNSUBSCRIBE");
  EXPECT_EQ(frames[16], frame("COMMIT\ntransaction:" + nextTx));
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
  for (const char* id : {"m-1", "m-2", "m-3"}) {
    const IMessagePtr kept = consumer->ReceiveNoWait();
    EXPECT_EQ(TextOf(kept), id);
    // Consumed on delivery: nothing to acknowledge, on whatever connection it came.
    if (kept) {
      EXPECT_NO_THROW(kept->Acknowledge());
    }
  }
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

// A Start that reconnects resubscribes every consumer not yet subscribed on the new connection, and a
// transaction that held nothing is begun again, not lost. A SUBSCRIBE whose receipt did not come on a
// connection that stays went out and was not refused: the next Start does not subscribe that id there
// again, which the broker would refuse as a duplicate, closing the connection and the consumer.
TEST(TransactionPeerTest, TheStartAfterAResumeWhoseReceiptDidNotComeSubscribesNoIdTwice) {
  FakeStompPeer peer;
  const auto answer = [&peer] { peer.ReadFrame().SendReceiptForLastFrame(); };
  peer.ReadFrame().Send(testing::ConnectedFrame()).ReadFrame();  // CONNECT, BEGIN
  answer();
  answer();
  peer.CloseConnection().AcceptNext().ReadFrame().Send(testing::ConnectedFrame()).ReadFrame();
  answer();
  peer.ReadFrame().Send(testing::ReceiptFrame("not-this-one"));
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
  ASSERT_EQ(frames.size(), 11u);
  EXPECT_EQ(Command(frames[5]), "BEGIN");
  EXPECT_EQ(FrameHeader(frames[6], "id"), FrameHeader(frames[2], "id"));
  EXPECT_EQ(FrameHeader(frames[7], "id"), FrameHeader(frames[3], "id"));
  EXPECT_EQ(frames[8],
            "COMMIT\ntransaction:" + FrameHeader(frames[5], "transaction") + "\n\n" + std::string(1, '\0'));
}

}  // namespace
}  // namespace velmor
