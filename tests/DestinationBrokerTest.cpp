// What destination names and options mean on the real broker: the "prefetch-count" option of a
// consumer's destination, and persistent sends that the broker confirms although no queue takes them.
#include <gtest/gtest.h>

#include <string>

#include "BrokerFixture.h"
#include "MessagingFixture.h"

namespace velmor {
namespace {

using testing::AwaitQueueRow;
using testing::BrokerUrl;
using testing::NewConnection;
using testing::QueueRow;
using testing::UniqueName;

class DestinationBrokerTest : public testing::StartedConnectionTest {};

TEST_F(DestinationBrokerTest, PrefetchCountBoundsWhatEachClientIndividualConsumerHoldsUnacknowledged) {
  const std::string name = UniqueName("prefetch");
  // The broker removes the queue a minute after its last use; sends and subscriptions declare it alike.
  const std::string expiry = "x-expires=60000";
  const IMessageProducerPtr producer = FSession->CreateProducer(FSession->CreateQueue(name));
  producer->SetDeliveryMode(1);
  for (int i = 0; i < 30; ++i) {
    const ITextMessagePtr job = FSession->CreateTextMessage("job " + std::to_string(i));
    job->SetStringProperty("x-expires", "60000");
    producer->Send(job);
  }

  // Two workers, each on a connection of its own: the first holds 10, the second gets the next 10.
  const std::string subscribed = name + "?" + expiry + "&prefetch-count=10";
  const auto first = NewConnection(BrokerUrl());
  first->Start();
  const ISessionPtr firstSession = first->CreateSession(AcknowledgeModeClientIndividual);
  const IMessageConsumerPtr firstWorker = firstSession->CreateConsumer(firstSession->CreateQueue(subscribed));
  ASSERT_NE(firstWorker->Receive(30000), nullptr);
  EXPECT_EQ(AwaitQueueRow(name, "messages_ready messages_unacknowledged", "20\t10"), "20\t10");

  const auto second = NewConnection(BrokerUrl());
  second->Start();
  const ISessionPtr secondSession = second->CreateSession(AcknowledgeModeClientIndividual);
  const IMessageConsumerPtr secondWorker =
      secondSession->CreateConsumer(secondSession->CreateQueue(subscribed));
  ASSERT_NE(secondWorker->Receive(30000), nullptr);
  EXPECT_EQ(AwaitQueueRow(name, "messages_ready messages_unacknowledged", "10\t20"), "10\t20");
  second->Close();
  first->Close();
}

TEST_F(DestinationBrokerTest, APersistentSendThatNoQueueTakesIsConfirmedAndDropped) {
  const std::string name = UniqueName("nowhere");
  const IDestinationPtr nowhere[] = {FSession->CreateQueue("/amq/queue/" + name),
                                     FSession->CreateQueue("/exchange/amq.direct/" + name),
                                     FSession->CreateTopic(name)};
  const IMessageProducerPtr producer = FSession->CreateProducer(nullptr);
  producer->SetDeliveryMode(1);
  for (const IDestinationPtr& destination : nowhere) {
    // Returns once the broker's receipt came: the broker took the frame.
    producer->Send(destination, FSession->CreateTextMessage("dropped"));
  }
  EXPECT_TRUE(FConnection->IsConnected());
  EXPECT_EQ(QueueRow(name, "messages"), "<no queue>");
}

}  // namespace
}  // namespace velmor
