// Connections and contexts made by the factory against the real broker: the default factory, a context
// round trip with the producer's own properties, a transacted context, the durable consumer of a context
// never started, and many threads creating from one factory at once.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BrokerFixture.h"
#include "MessageOf.h"
#include "ZQConnectionFactory.h"
#include "ZQExceptions.h"
#include "ZQMQInterfaces.h"

namespace velmor {
namespace {

// Queues of these tests vanish a minute after their last use: consumers and producers declare them with
// the same "x-expires".
const std::string QueueExpiry = "60000";
constexpr int32_t ReceiveTimeout = 5000;
// How long a message that must not have arrived is waited for.
constexpr int32_t AbsenceTimeout = 500;

class ConnectionFactoryBrokerTest : public testing::BrokerTest {
 protected:
  void TearDown() override {
    for (const auto& context : FContexts) {
      context->Close();
    }
  }

  // A context from a factory that is gone when this returns.
  IMQContextPtr OpenContext(uint8_t SessionMode = AcknowledgeModeAuto) {
    TZQConnectionFactory factory(testing::Broker().User, testing::Broker().Pass, testing::BrokerUrl());
    FContexts.push_back(factory.CreateContext(SessionMode));
    return FContexts.back();
  }

  // A consumer of queue Name, subscribed when this returns.
  static IMQConsumerPtr Consume(IMQContext& Context, const std::string& Name) {
    return Context.CreateConsumer(Context.CreateQueue(Name + "?x-expires=" + QueueExpiry));
  }

  static IMQProducerPtr Produce(IMQContext& Context) {
    const IMQProducerPtr producer = Context.CreateProducer();
    producer->SetStringProperty("x-expires", QueueExpiry);
    return producer;
  }

  static std::string TextOf(const IMessagePtr& Message) {
    const auto text = std::dynamic_pointer_cast<ITextMessage>(Message);
    return text ? text->GetText() : "<no text message>";
  }

 private:
  std::vector<IMQContextPtr> FContexts;
};

TEST_F(ConnectionFactoryBrokerTest, DefaultFactoryConnectsToTheLocalBrokerAndReadsItsServer) {
  TZQConnectionFactory factory;
  const IConnectionPtr connection = factory.CreateConnection();

  connection->Start();

  EXPECT_EQ(std::dynamic_pointer_cast<IConnectionInfo>(connection)->GetServer().rfind("RabbitMQ", 0), 0u);
  connection->Close();
}

TEST_F(ConnectionFactoryBrokerTest, ContextRoundTripCarriesTheProducersPropertiesAsTexts) {
  const std::string name = testing::UniqueName("factory-context");
  const IMQContextPtr receiver = OpenContext();
  const IMQConsumerPtr consumer = Consume(*receiver, name);
  const IMQContextPtr sender = OpenContext();
  const IMQProducerPtr producer = Produce(*sender);
  producer->SetBooleanProperty("flag", true);
  producer->SetIntProperty("count", 5);

  producer->Send(sender->CreateQueue(name), "hello");

  const IMessagePtr received = consumer->Receive(ReceiveTimeout);
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(TextOf(received), "hello");
  EXPECT_EQ(received->GetStringProperty("flag"), "true");
  EXPECT_EQ(received->GetStringProperty("count"), "5");
  EXPECT_EQ(std::dynamic_pointer_cast<IConnectionInfo>(sender)->GetServer().rfind("RabbitMQ", 0), 0u);
}

TEST_F(ConnectionFactoryBrokerTest, TransactedContextDeliversEverySendAtCommitAndNoneBefore) {
  const std::string name = testing::UniqueName("factory-transacted");
  const IMQContextPtr receiver = OpenContext();
  const IMQConsumerPtr consumer = Consume(*receiver, name);
  const IMQContextPtr sender = OpenContext(AcknowledgeModeTransacted);
  const IQueuePtr queue = sender->CreateQueue(name);

  Produce(*sender)->Send(queue, "first");
  Produce(*sender)->Send(queue, "second");
  EXPECT_EQ(consumer->Receive(AbsenceTimeout), nullptr);
  sender->Commit();

  EXPECT_EQ(TextOf(consumer->Receive(ReceiveTimeout)), "first");
  EXPECT_EQ(TextOf(consumer->Receive(ReceiveTimeout)), "second");
}

TEST_F(ConnectionFactoryBrokerTest, DurableConsumerRefusedBeforeStartTakesTheSameNameAfterwards) {
  const IMQContextPtr context = OpenContext();
  const ITopicPtr topic = context->CreateTopic(testing::UniqueName("factory-durable"));
  const std::string name = testing::UniqueName("durable");

  EXPECT_EQ(testing::MessageOf<EZQStompClientNotConnectedError>(
                [&] { context->CreateDurableConsumer(topic, name); }),
            "Not connected! Command: SUBSCRIBE");
  context->Start();
  const ITopicSubscriberPtr subscriber = context->CreateDurableConsumer(topic, name);

  ASSERT_NE(subscriber, nullptr);
  context->Unsubscribe(topic->GetTopicName(), name);
}

TEST_F(ConnectionFactoryBrokerTest, SixteenThreadsCreateFromOneFactoryAtOnce) {
  constexpr int Threads = 16;
  const std::string name = testing::UniqueName("factory-threads");
  const IMQContextPtr receiver = OpenContext();
  const IMQConsumerPtr consumer = Consume(*receiver, name);
  const auto factory = std::make_shared<TZQConnectionFactory>(testing::Broker().User, testing::Broker().Pass,
                                                              testing::BrokerUrl());
  std::mutex lock;
  std::vector<std::string> failures;

  std::vector<std::thread> threads;
  for (int index = 0; index < Threads; ++index) {
    threads.emplace_back([&, index] {
      try {
        const IMQContextPtr context = factory->CreateContext();
        Produce(*context)->Send(context->CreateQueue(name), std::to_string(index));
        context->Close();
      } catch (const std::exception& error) {
        const std::lock_guard<std::mutex> guard(lock);
        failures.emplace_back(error.what());
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }

  EXPECT_TRUE(failures.empty()) << failures.front();
  std::set<std::string> texts;
  for (int index = 0; index < Threads; ++index) {
    texts.insert(TextOf(consumer->Receive(ReceiveTimeout)));
  }
  EXPECT_EQ(texts.size(), static_cast<size_t>(Threads));
}

}  // namespace
}  // namespace velmor
