// Sessions, producers and consumers against the real broker: message fields and properties, persistence,
// transactions, durable subscriptions, request and reply, time-to-live, forwarding, several consumers on
// one connection and closing twice.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BrokerFixture.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "WaitUntil.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using testing::AwaitQueueRow;
using testing::BrokerCtl;
using testing::BrokerUrl;
using testing::MessageOf;
using testing::NewConnection;
using testing::QueueRow;
using testing::TextOf;
using testing::UniqueName;

class SessionBrokerTest : public testing::StartedConnectionTest {
 protected:
  // The broker's ERROR for a SEND to an exchange that does not exist.
  static constexpr const char* NoExchange =
      "not_found NOT_FOUND - no exchange 'no-such-exchange' in vhost '/'";

  // A text message that makes the broker remove its queue a minute after the last use.
  ITextMessagePtr Text(const ISessionPtr& Session, const std::string& Body) const {
    auto message = Session->CreateTextMessage(Body);
    message->SetStringProperty("x-expires", "60000");
    return message;
  }

  // The queue the broker bound to the topic TopicName (routing key), once it lists one; empty when it
  // listed none within a generous wait.
  static std::string QueueBoundTo(const std::string& TopicName) {
    std::string queue;
    testing::WaitUntil(
        [&] {
          std::istringstream rows(
              BrokerCtl("list_bindings --no-table-headers -q destination_name routing_key"));
          std::string row;
          while (std::getline(rows, row)) {
            const auto tab = row.find('\t');
            if (tab != std::string::npos && row.substr(tab + 1) == TopicName)
              queue = row.substr(0, tab);
          }
          return !queue.empty();
        },
        testing::GenerousWait, 200ms);
    return queue;
  }
};

TEST_F(SessionBrokerTest, FieldsAndTypedPropertiesRoundTripAndPersistentStaysPersistent) {
  const std::string name = UniqueName("session-fields");
  const auto queue = FSession->CreateQueue(name);
  const auto producer = FSession->CreateProducer(queue);
  producer->SetDeliveryMode(1);
  producer->SetPriority(7);
  const auto message = Text(FSession, "body");
  message->SetCorrelationID("corr-1");
  message->SetType("order");
  message->SetIntProperty("count", -42);
  message->SetBooleanProperty("flag", true);
  message->SetStringProperty("color", "gr\xC3\xBCn");
  producer->Send(message);
  EXPECT_EQ(QueueRow(name, "messages_persistent"), "1");

  const auto consumer = FSession->CreateConsumer(queue);
  const IMessagePtr received = consumer->Receive(5000);
  ASSERT_EQ(TextOf(received), "body");
  EXPECT_EQ(received->GetCorrelationID(), "corr-1");
  EXPECT_EQ(received->GetType(), "order");
  EXPECT_EQ(received->GetPriority(), 7);
  EXPECT_EQ(received->GetDeliveryMode(), 1);
  EXPECT_EQ(received->GetIntProperty("count"), -42);
  EXPECT_TRUE(received->GetBooleanProperty("flag"));
  EXPECT_EQ(received->GetStringProperty("color"), "gr\xC3\xBCn");
}

TEST_F(SessionBrokerTest, RollbackDropsCommitDeliversAndASecondStartKeepsTheTransaction) {
  const auto queue = FSession->CreateQueue(UniqueName("session-tx"));
  const auto consumer = FSession->CreateConsumer(queue);
  const ISessionPtr transacted = FConnection->CreateSession(true, AcknowledgeModeTransacted);
  const auto producer = transacted->CreateProducer(queue);
  for (int i = 0; i < 3; ++i)
    producer->Send(Text(transacted, "rolled back"));
  transacted->Rollback();
  EXPECT_EQ(consumer->Receive(1000), nullptr);

  for (int i = 0; i < 3; ++i)
    producer->Send(Text(transacted, "committed"));
  transacted->Commit();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(TextOf(consumer->Receive(5000)), "committed");

  producer->Send(Text(transacted, "first"));
  FConnection->Start();
  producer->Send(Text(transacted, "second"));
  EXPECT_EQ(consumer->Receive(300), nullptr);
  transacted->Commit();
  EXPECT_EQ(TextOf(consumer->Receive(5000)), "first");
  EXPECT_EQ(TextOf(consumer->Receive(5000)), "second");
}

// The broker replays a transaction at COMMIT and stops at a frame it refuses; inside the transaction no
// SEND waits for a receipt, whatever the URL asks.
TEST_F(SessionBrokerTest, CommitRaisesWhatTheBrokerRefusedAndTransactedSendsWaitForNoReceipt) {
  FConnection->Close();
  FConnection = NewConnection(BrokerUrl("send.receipt=true"));
  FConnection->Start();
  const std::string name = UniqueName("session-tx-refused");
  const ISessionPtr transacted = FConnection->CreateSession(true, AcknowledgeModeTransacted);
  const auto producer = transacted->CreateProducer(nullptr);
  for (const char* target : {"a", "a", "a", "a", "a", "/exchange/no-such-exchange", "a", "a", "a", "a", "a"})
    producer->Send(transacted->CreateQueue(target[0] == 'a' ? name : target), Text(transacted, "m"));
  EXPECT_EQ(MessageOf<EZQStompServerErrorMessage>([&] { transacted->Commit(); }), NoExchange);
  EXPECT_EQ(AwaitQueueRow(name, "messages", "5"), "5");
}

// The broker's ERROR ends the connection: seen without a read, raised by a send that then fails.
TEST_F(SessionBrokerTest, AStartAfterALostConnectionResubscribesAndTheLostTransactionCommitsNothing) {
  const auto in = FSession->CreateQueue(UniqueName("session-resume-in"));
  const std::string out = UniqueName("session-resume-out");
  const auto consumer = FSession->CreateConsumer(in);
  const ISessionPtr transacted = FConnection->CreateSession(true, AcknowledgeModeTransacted);
  const auto producer = transacted->CreateProducer(transacted->CreateQueue(out));
  producer->Send(Text(transacted, "lost"));
  const auto plain = FSession->CreateProducer(nullptr);
  plain->Send(FSession->CreateQueue("/exchange/no-such-exchange"), Text(FSession, "refused"));
  EXPECT_TRUE(testing::WaitUntil([&] { return !FConnection->IsConnected(); }));
  EXPECT_EQ(MessageOf<EZQStompServerErrorMessage>([&] {
              for (int i = 0; i < 10; ++i)
                plain->Send(in, Text(FSession, "unsent"));
            }),
            NoExchange);
  FConnection->Start();
  producer->Send(Text(transacted, "after"));
  EXPECT_EQ(MessageOf<EMQException>([&] { transacted->Commit(); }),
            "The transaction was lost with the connection to the broker: nothing of it was committed");
  EXPECT_EQ(QueueRow(out, "messages"), "0");
  plain->Send(in, Text(FSession, "resumed"));
  EXPECT_EQ(TextOf(consumer->Receive(5000)), "resumed");
}

// The broker answers an UNSUBSCRIBE of an unknown id with ERROR and goes on delivering on the same
// connection; under automatic acknowledgement it counts what it sent as consumed. What it sent behind the
// ERROR reaches the consumer after the next Start.
TEST_F(SessionBrokerTest, MessagesDeliveredBehindAnErrorReachTheConsumerAfterTheNextStart) {
  const std::string name = UniqueName("session-behind-error");
  const auto queue = FSession->CreateQueue(name);
  const auto consumer = FSession->CreateConsumer(queue);
  FConnection->GetTransport()->Unsubscribe("no-such-subscription");
  const auto producer = FSession->CreateProducer(queue);
  for (int i = 0; i < 100; ++i)
    producer->Send(Text(FSession, std::to_string(i)));
  ASSERT_EQ(AwaitQueueRow(name, "messages", "0"), "0");
  EXPECT_THAT(MessageOf<EZQStompServerErrorMessage>([&] { consumer->Receive(5000); }),
              ::testing::StartsWith("No subscription found"));
  FConnection->Start();
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(TextOf(consumer->Receive(5000)), std::to_string(i));
  EXPECT_EQ(QueueRow(name, "messages"), "0");
}

// What a transacted session receives belongs to its transaction: Commit consumes exactly that, Rollback
// consumes none of it and the broker hands it out again on the same connection, and a connection that
// ends before Commit consumes nothing.
TEST_F(SessionBrokerTest, ATransactedSessionConsumesWhatItReceivedOnlyWhenItCommits) {
  const std::string in = UniqueName("session-tx-in");
  const std::string out = UniqueName("session-tx-out");
  const auto producer = FSession->CreateProducer(FSession->CreateQueue(in));
  for (int i = 0; i < 10; ++i) {
    // The forwarded copies keep this: the queues stay while the test reads their depths on a busy
    // machine, and go ten minutes after their last use.
    const auto message = FSession->CreateTextMessage("m" + std::to_string(i));
    message->SetStringProperty("x-expires", "600000");
    producer->Send(message);
  }
  const ISessionPtr transacted = FConnection->CreateSession(true, AcknowledgeModeTransacted);
  const auto consumer = transacted->CreateConsumer(transacted->CreateQueue(in));
  const auto forward = transacted->CreateProducer(transacted->CreateQueue(out));
  std::vector<IMessagePtr> received;
  const auto pass = [&](int Count) {
    received.clear();
    for (int i = 0; i < Count; ++i) {
      received.push_back(consumer->Receive(5000));
      ASSERT_NE(received.back(), nullptr);
      forward->Send(received.back());
    }
  };
  ASSERT_NO_FATAL_FAILURE(pass(5));
  transacted->Commit();
  EXPECT_EQ(AwaitQueueRow(in, "messages", "5"), "5");
  EXPECT_EQ(AwaitQueueRow(out, "messages", "5"), "5");
  ASSERT_NO_FATAL_FAILURE(pass(3));
  std::vector<std::string> rolledBack;
  for (const IMessagePtr& message : received)
    rolledBack.push_back(TextOf(message));
  transacted->Rollback();
  EXPECT_EQ(QueueRow(in, "messages"), "5");
  EXPECT_EQ(QueueRow(out, "messages"), "5");
  ASSERT_NO_FATAL_FAILURE(pass(5));
  std::vector<std::string> again;
  for (const IMessagePtr& message : received) {
    if (message->GetRedelivered())
      again.push_back(TextOf(message));
  }
  EXPECT_EQ(again, rolledBack);
  transacted->Commit();
  EXPECT_EQ(AwaitQueueRow(in, "messages", "0"), "0");
  const auto check = FSession->CreateConsumer(FSession->CreateQueue(out));
  std::set<std::string> forwarded;
  for (int i = 0; i < 10; ++i)
    forwarded.insert(TextOf(check->Receive(5000)));
  EXPECT_EQ(forwarded.size(), 10u);
  EXPECT_EQ(*forwarded.begin(), "m0");
  EXPECT_EQ(*forwarded.rbegin(), "m9");

  // A connection that ends, here by its socket closing without a frame, before Commit.
  const std::string last = UniqueName("session-tx-unfinished");
  FSession->CreateProducer(FSession->CreateQueue(last))->Send(Text(FSession, "received, not committed"));
  const auto other = NewConnection(BrokerUrl());
  other->Start();
  const ISessionPtr unfinished = other->CreateSession(true, AcknowledgeModeTransacted);
  const auto late = unfinished->CreateConsumer(unfinished->CreateQueue(last + "?x-expires=60000"));
  EXPECT_EQ(TextOf(late->Receive(5000)), "received, not committed");
  other->GetTransport()->GetCommAdapter()->Disconnect();
  EXPECT_EQ(AwaitQueueRow(last, "messages_ready", "1"), "1");
}

// A durable subscription whose subscriber was closed, here on another connection, goes with its queue.
TEST_F(SessionBrokerTest, UnsubscribeRemovesADurableSubscriptionThatIsNotOpenHere) {
  const std::string topicName = UniqueName("session-durable-inactive");
  const std::string subscription = UniqueName("sub");
  const auto topic = FSession->CreateTopic(topicName);
  FSession->CreateDurableSubscriber(topic, subscription)->Close();
  FSession->CreateProducer(topic)->Send(FSession->CreateTextMessage("waiting"));
  const std::string queue = QueueBoundTo(topicName);
  ASSERT_EQ(AwaitQueueRow(queue, "messages", "1"), "1");
  const auto other = NewConnection(BrokerUrl());
  other->Start();
  other->CreateSession(false, AcknowledgeModeAuto)->Unsubscribe(topicName, subscription);
  EXPECT_EQ(QueueRow(queue, "messages"), "<no queue>");
  EXPECT_TRUE(other->IsConnected());
  other->Close();
}

TEST_F(SessionBrokerTest, DurableSubscriptionKeepsMessagesAndUnsubscribeRemovesItsQueue) {
  FConnection->Close();
  FConnection = NewConnection(BrokerUrl());
  FConnection->SetClientID(UniqueName("session-durable-client"));
  FConnection->Start();
  FSession = FConnection->CreateSession(false, AcknowledgeModeAuto);
  const std::string topicName = UniqueName("session-durable");
  const std::string subscription = UniqueName("sub");
  const auto topic = FSession->CreateTopic(topicName);
  const auto subscriber = FSession->CreateDurableSubscriber(topic, subscription);
  const std::string queue = QueueBoundTo(topicName);
  ASSERT_FALSE(queue.empty());
  subscriber->Close();

  const auto producer = FSession->CreateProducer(topic);
  producer->Send(FSession->CreateTextMessage("one"));
  producer->Send(FSession->CreateTextMessage("two"));
  const auto again = FSession->CreateDurableSubscriber(topic, subscription);
  EXPECT_EQ(TextOf(again->Receive(5000)), "one");
  EXPECT_EQ(TextOf(again->Receive(5000)), "two");
  const ISessionPtr other = FConnection->CreateSession(false, AcknowledgeModeAuto);
  EXPECT_EQ(
      MessageOf<EDuplicateConsumerIDException>([&] { other->CreateDurableSubscriber(topic, subscription); }),
      "Duplicate Consumer ID \"" + subscription + "\"");

  FSession->Unsubscribe(topicName, subscription);
  EXPECT_EQ(QueueRow(queue, "messages"), "<no queue>");
  EXPECT_NO_THROW(again->Close());
  // The connection lives: an ERROR would surface on this receive.
  const auto check = FSession->CreateConsumer(FSession->CreateTopic(topicName));
  EXPECT_EQ(check->Receive(300), nullptr);
  EXPECT_TRUE(FConnection->IsConnected());
}

TEST_F(SessionBrokerTest, RequestAndReplyThroughATemporaryQueue) {
  const auto requests = FSession->CreateQueue(UniqueName("session-requests"));
  const auto server = FSession->CreateConsumer(requests);
  const auto replies = FSession->CreateTemporaryQueue();
  const auto replyConsumer = FSession->CreateConsumer(replies);
  const auto request = Text(FSession, "ping");
  request->SetReplyTo(replies);
  FSession->CreateProducer(requests)->Send(request);

  const IMessagePtr received = server->Receive(5000);
  ASSERT_EQ(TextOf(received), "ping");
  ASSERT_NE(received->GetReplyTo(), nullptr);
  FSession->CreateProducer(received->GetReplyTo())->Send(Text(FSession, "pong"));
  EXPECT_EQ(TextOf(replyConsumer->Receive(5000)), "pong");
}

TEST_F(SessionBrokerTest, TimeToLiveExpiresInTheQueueAndReceivedMessagesCanBeForwarded) {
  const std::string name = UniqueName("session-ttl");
  const auto queue = FSession->CreateQueue(name);
  const auto producer = FSession->CreateProducer(queue);
  // Kept while its time-to-live lasts, which no loaded machine outlasts here.
  producer->Send(queue, Text(FSession, "kept"), 0, 0, 60000);
  const auto consumer = FSession->CreateConsumer(queue);
  EXPECT_EQ(TextOf(consumer->Receive(5000)), "kept");
  consumer->Close();
  // Dropped once it has lived: the persistent send returns when the broker holds the message.
  producer->Send(queue, Text(FSession, "expired"), 1, 0, 400);
  EXPECT_EQ(AwaitQueueRow(name, "messages", "0"), "0");

  // A received message goes on as it came, on STOMP 1.2 too.
  const auto client = FConnection->CreateSession(false, AcknowledgeModeClient);
  const auto clientConsumer = client->CreateConsumer(queue);
  producer->Send(Text(FSession, "forward me"));
  const IMessagePtr received = clientConsumer->Receive(5000);
  ASSERT_EQ(TextOf(received), "forward me");
  const std::string next = UniqueName("session-forward");
  producer->Send(FSession->CreateQueue(next), received);
  received->Acknowledge();
  const auto nextConsumer = FSession->CreateConsumer(FSession->CreateQueue(next));
  const IMessagePtr forwarded = nextConsumer->Receive(5000);
  EXPECT_EQ(TextOf(forwarded), "forward me");
  EXPECT_TRUE(FConnection->IsConnected());
}

TEST_F(SessionBrokerTest, AlternatingReceivesOfTwoConsumersLoseNothing) {
  const auto queueA = FSession->CreateQueue(UniqueName("consumer-a"));
  const auto queueB = FSession->CreateQueue(UniqueName("consumer-b"));
  const auto consumerA = FSession->CreateConsumer(queueA);
  const auto consumerB = FConnection->CreateSession(false, AcknowledgeModeAuto)->CreateConsumer(queueB);
  const auto producer = FSession->CreateProducer(nullptr);
  for (int i = 0; i < 100; ++i) {
    producer->Send(queueA, Text(FSession, "a" + std::to_string(i)));
    producer->Send(queueB, Text(FSession, "b" + std::to_string(i)));
  }
  int received = 0;
  for (int i = 0; i < 100; ++i) {
    received += TextOf(consumerA->Receive(5000)) == "a" + std::to_string(i) ? 1 : 0;
    received += TextOf(consumerB->Receive(5000)) == "b" + std::to_string(i) ? 1 : 0;
  }
  EXPECT_EQ(received, 200);
  EXPECT_EQ(FConnection->GetMessageStore().GetCount(), 0u);
}

TEST_F(SessionBrokerTest, ClosingTwiceKeepsTheConnectionWorking) {
  const auto queue = FSession->CreateQueue(UniqueName("consumer-close"));
  const auto first = FSession->CreateConsumer(queue);
  first->Close();
  first->Close();
  const auto producer = FSession->CreateProducer(queue);
  producer->Close();
  producer->Close();
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { first->ReceiveNoWait(); }), "The consumer is closed");
  const auto second = FSession->CreateConsumer(queue);
  FSession->CreateProducer(queue)->Send(Text(FSession, "after"));
  EXPECT_EQ(TextOf(second->Receive(5000)), "after");
  EXPECT_TRUE(FConnection->IsConnected());
}

}  // namespace
}  // namespace velmor
