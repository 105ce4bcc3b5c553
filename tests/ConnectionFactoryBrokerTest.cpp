// Connections and contexts made by the factory against the real broker: the default factory, a context
// round trip with the producer's own properties and a transacted context, the durable consumer of a
// context not yet started, and many threads creating from one factory at once.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "BrokerFixture.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "ZQConnectionFactory.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

using testing::TextOf;
using testing::UniqueName;

class ConnectionFactoryBrokerTest : public testing::BrokerTest {
 protected:
  // Queues of these tests vanish a minute after their last use: consumers and producers declare them
  // with the same "x-expires".
  static IMQConsumerPtr Consume(IMQContext& Context, const std::string& Name) {
    return Context.CreateConsumer(Context.CreateQueue(Name + "?x-expires=60000"));
  }
  static IMQProducerPtr Produce(IMQContext& Context) {
    const IMQProducerPtr producer = Context.CreateProducer();
    producer->SetStringProperty("x-expires", "60000");
    return producer;
  }

  // Contexts of this factory outlive it in every test.
  std::shared_ptr<TZQConnectionFactory> Factory = std::make_shared<TZQConnectionFactory>(
      testing::Broker().User, testing::Broker().Pass, testing::BrokerUrl());
};

// The default factory's credentials log in; its URL is pointed at the test broker, which is the default
// address unless the environment names another.
TEST_F(ConnectionFactoryBrokerTest, DefaultFactoryConnectsToTheLocalBrokerAndReadsItsServer) {
  TZQConnectionFactory factory;
  factory.SetBrokerURL(testing::BrokerUrl());
  const IConnectionPtr connection = factory.CreateConnection();
  connection->Start();
  EXPECT_EQ(std::dynamic_pointer_cast<IConnectionInfo>(connection)->GetServer().rfind("RabbitMQ/", 0), 0u);
  connection->Close();
}

// A transacted context delivers every send at its commit and none before.
TEST_F(ConnectionFactoryBrokerTest, ContextsRoundTripTheProducersPropertiesAsTextsAndCommitTransactions) {
  const std::string name = UniqueName("factory-context");
  const IMQContextPtr receiver = Factory->CreateContext();
  const IMQConsumerPtr consumer = Consume(*receiver, name);
  const IMQContextPtr sender = Factory->CreateContext();
  const IMQContextPtr transacted = Factory->CreateContext(AcknowledgeModeTransacted);
  Factory.reset();
  const IMQProducerPtr producer = Produce(*sender);
  producer->SetBooleanProperty("flag", true);
  producer->SetIntProperty("count", 5);
  producer->Send(sender->CreateQueue(name), "hello");
  const IMessagePtr received = consumer->Receive(5000);
  ASSERT_EQ(TextOf(received), "hello");
  EXPECT_EQ(received->GetStringProperty("flag"), "true");
  EXPECT_EQ(received->GetStringProperty("count"), "5");

  Produce(*transacted)->Send(transacted->CreateQueue(name), "first");
  Produce(*transacted)->Send(transacted->CreateQueue(name), "second");
  EXPECT_EQ(consumer->Receive(500), nullptr);
  transacted->Commit();
  EXPECT_EQ(TextOf(consumer->Receive(5000)), "first");
  EXPECT_EQ(TextOf(consumer->Receive(5000)), "second");
}

TEST_F(ConnectionFactoryBrokerTest, DurableConsumerRefusedBeforeStartTakesTheSameNameAfterwards) {
  const IMQContextPtr context = Factory->CreateContext();
  const ITopicPtr topic = context->CreateTopic(UniqueName("factory-durable"));
  const std::string name = UniqueName("durable");
  EXPECT_EQ(testing::MessageOf<EZQStompClientNotConnectedError>(
                [&] { context->CreateDurableConsumer(topic, name); }),
            "Not connected! Command: SUBSCRIBE");
  context->Start();
  EXPECT_NE(context->CreateDurableConsumer(topic, name), nullptr);
  context->Unsubscribe(topic->GetTopicName(), name);
}

TEST_F(ConnectionFactoryBrokerTest, SixteenThreadsCreateFromOneFactoryAtOnce) {
  const std::string name = UniqueName("factory-threads");
  const IMQContextPtr receiver = Factory->CreateContext();
  const IMQConsumerPtr consumer = Consume(*receiver, name);
  std::mutex lock;
  std::vector<std::string> failures;
  std::vector<std::thread> threads;
  for (int index = 0; index < 16; ++index) {
    threads.emplace_back([&, index] {
      try {
        const IMQContextPtr context = Factory->CreateContext();
        Produce(*context)->Send(context->CreateQueue(name), std::to_string(index));
        context->Close();
      } catch (const std::exception& error) {
        const std::lock_guard<std::mutex> guard(lock);
        failures.emplace_back(error.what());
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(failures, std::vector<std::string>{});
  std::set<std::string> texts;
  for (int index = 0; index < 16; ++index)
    texts.insert(TextOf(consumer->Receive(5000)));
  EXPECT_EQ(texts.size(), 16u);
}

}  // namespace
}  // namespace velmor
