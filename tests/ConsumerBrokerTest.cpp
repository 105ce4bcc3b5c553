// Consumers of one connection against the real broker: messages for the connection's other consumers
// are kept for them, closing twice is harmless, and subscription ids are checked across the connection.
#include <gtest/gtest.h>

#include <string>

#include "BrokerFixture.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

using testing::BrokerUrl;
using testing::MessageOf;
using testing::NewConnection;
using testing::TextOf;
using testing::UniqueName;

class ConsumerBrokerTest : public testing::BrokerTest {
 protected:
  void SetUp() override {
    testing::BrokerTest::SetUp();
    FConnection = NewConnection(BrokerUrl());
    FConnection->Start();
    FSession = FConnection->CreateSession(false, AcknowledgeModeAuto);
  }
  void TearDown() override { FConnection->Close(); }

  void SendTexts(const IDestinationPtr& Destination, const std::string& Prefix, int Count) const {
    const auto producer = FSession->CreateProducer(Destination);
    for (int i = 0; i < Count; ++i) {
      auto message = FSession->CreateTextMessage(Prefix + std::to_string(i));
      message->SetStringProperty("x-expires", "60000");
      producer->Send(message);
    }
  }

  std::shared_ptr<TZQConnection> FConnection;
  ISessionPtr FSession;
};

TEST_F(ConsumerBrokerTest, AlternatingReceivesOfTwoConsumersLoseNothing) {
  const auto queueA = FSession->CreateQueue(UniqueName("consumer-a"));
  const auto queueB = FSession->CreateQueue(UniqueName("consumer-b"));
  const auto consumerA = FSession->CreateConsumer(queueA);
  const auto consumerB = FConnection->CreateSession(false, AcknowledgeModeAuto)->CreateConsumer(queueB);
  SendTexts(queueA, "a", 100);
  SendTexts(queueB, "b", 100);
  int received = 0;
  for (int i = 0; i < 100; ++i) {
    received += TextOf(consumerA->Receive(5000)) == "a" + std::to_string(i) ? 1 : 0;
    received += TextOf(consumerB->Receive(5000)) == "b" + std::to_string(i) ? 1 : 0;
  }
  EXPECT_EQ(received, 200);
  EXPECT_EQ(FConnection->GetMessageStore().GetCount(), 0u);
}

TEST_F(ConsumerBrokerTest, ClosingTwiceKeepsTheConnectionWorking) {
  const auto queue = FSession->CreateQueue(UniqueName("consumer-close"));
  const auto first = FSession->CreateConsumer(queue);
  first->Close();
  first->Close();
  const auto producer = FSession->CreateProducer(queue);
  producer->Close();
  producer->Close();
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { first->ReceiveNoWait(); }), "The consumer is closed");
  const auto second = FSession->CreateConsumer(queue);
  SendTexts(queue, "after", 1);
  EXPECT_EQ(TextOf(second->Receive(5000)), "after0");
  EXPECT_TRUE(FConnection->IsConnected());
}

TEST_F(ConsumerBrokerTest, TheSameSubscriptionIdTwiceOnOneConnectionIsRefusedLocally) {
  const auto topic = FSession->CreateTopic(UniqueName("consumer-durable"));
  const std::string name = UniqueName("durable");
  const auto subscriber = FSession->CreateDurableSubscriber(topic, name);
  const ISessionPtr other = FConnection->CreateSession(false, AcknowledgeModeAuto);
  EXPECT_EQ(MessageOf<EDuplicateConsumerIDException>([&] { other->CreateDurableSubscriber(topic, name); }),
            "Duplicate Consumer ID \"" + name + "\"");
  EXPECT_EQ(MessageOf<EIllegalArgumentException>([&] { other->CreateDurableSubscriber(topic, "x", "a = 1", false); }),
            "Message selectors are not supported by RabbitMQ");
  EXPECT_EQ(MessageOf<EIllegalArgumentException>([&] { other->CreateDurableSubscriber(topic, "x", "", true); }),
            "NoLocal is not supported by RabbitMQ");
  SendTexts(topic, "t", 1);
  EXPECT_EQ(TextOf(subscriber->Receive(5000)), "t0");
  FSession->Unsubscribe(topic->GetTopicName(), name);
  EXPECT_TRUE(FConnection->IsConnected());
}

}  // namespace
}  // namespace velmor
