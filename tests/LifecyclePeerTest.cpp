// What is closed when the application lets go of the simplified API's objects: a released producer
// leaves its session, a released consumer unsubscribes, a released context takes its connection along
// (and its producer and consumer say so), and a producer whose listener drops it finishes its send.
#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeStompPeer.h"
#include "MessageOf.h"
#include "MessagingFixture.h"
#include "ZQExceptions.h"
#include "ZQMQConsumer.h"
#include "ZQMQContext.h"
#include "ZQMQProducer.h"
#include "ZQQueue.h"

namespace velmor {
namespace {

using testing::FakeStompPeer;
using testing::MessageOf;

// What a case works with: a started connection (a case may hand it to a context, which then owns it),
// a session on it, made as a context makes its own, and a queue.
struct TLifecycle {
  std::shared_ptr<TZQConnection> Connection;
  std::shared_ptr<TZQSession> Session;
  IQueuePtr Queue;
};

// An application's listener that keeps its producer only until the send has completed.
class TReleasingListener final : public ICompletionListener {
 public:
  IMQProducerPtr Producer;
  void OnCompletion(const IMessagePtr& /*Message*/) override { Producer.reset(); }
  void OnException(const IMessagePtr& /*Message*/, const std::exception& /*Error*/) override {}
};

struct LifecycleCase {
  const char* Title;
  // The commands the broker reads after CONNECTED, in order.
  std::vector<std::string> Commands;
  std::function<std::string(TLifecycle&)> Run;
  std::string Outcome;
};

class LifecyclePeerTest : public ::testing::TestWithParam<LifecycleCase> {};

TEST_P(LifecyclePeerTest, WhatTheApplicationReleasesIsClosed) {
  FakeStompPeer peer;
  peer.ReadFrame().Send(testing::ConnectedFrame());
  for (const std::string& command : GetParam().Commands) {
    peer.ExpectFrameStartingWith(command + "\n");
  }
  peer.Drain().Start();
  TLifecycle lifecycle{testing::NewConnection(peer.Url()), nullptr, TZQQueue::Create("orders")};
  lifecycle.Connection->Start();
  lifecycle.Session =
      std::static_pointer_cast<TZQSession>(lifecycle.Connection->CreateSession(false, AcknowledgeModeAuto));

  const std::string outcome = GetParam().Run(lifecycle);
  if (lifecycle.Connection) {
    lifecycle.Connection->Close();
  }

  ASSERT_TRUE(peer.Done());
  EXPECT_EQ(outcome, GetParam().Outcome);
}

const std::string ProducerGone =
    "The context this producer came from no longer exists: releasing a context closes its connection";
const std::string ConsumerGone =
    "The context this consumer came from no longer exists: releasing a context closes its connection";

INSTANTIATE_TEST_SUITE_P(
    Objects, LifecyclePeerTest,
    ::testing::Values(
        LifecycleCase{"OneLineSendsLeaveNoProducerBehind",
                      {"SEND", "SEND", "SEND", "DISCONNECT"},
                      [](TLifecycle& L) {
                        for (int i = 0; i < 3; ++i) {
                          TZQMQProducer::Create(L.Session, L.Connection)->Send(L.Queue, "x");
                        }
                        return "producers: " + std::to_string(L.Session->GetProducerCount());
                      },
                      "producers: 0"},
        LifecycleCase{"AReleasedConsumerUnsubscribesAtOnce",
                      {"SUBSCRIBE", "UNSUBSCRIBE", "DISCONNECT"},
                      [](TLifecycle& L) {
                        auto consumer = std::make_shared<TZQMQConsumer>(L.Session, L.Queue, L.Connection);
                        consumer.reset();
                        return "consumers: " + std::to_string(L.Session->GetConsumers().GetCount());
                      },
                      "consumers: 0"},
        LifecycleCase{"AReleasedContextClosesItsConnectionAndItsChildrenSaySo",
                      {"SUBSCRIBE", "UNSUBSCRIBE", "DISCONNECT"},
                      [](TLifecycle& L) {
                        IMQContextPtr context = TZQMQContext::Create(L.Connection);
                        L.Connection.reset();
                        const IMQProducerPtr producer = context->CreateProducer();
                        const IMQConsumerPtr consumer = context->CreateConsumer(L.Queue);
                        context.reset();
                        return MessageOf<EIllegalStateException>([&] { producer->Send(L.Queue, "x"); }) +
                               " / " + MessageOf<EIllegalStateException>([&] { consumer->Receive(10); });
                      },
                      ProducerGone + " / " + ConsumerGone},
        LifecycleCase{"AListenerReleasingItsProducerLetsTheSendFinish",
                      {"SEND", "DISCONNECT"},
                      [](TLifecycle& L) {
                        const auto listener = std::make_shared<TReleasingListener>();
                        listener->Producer = TZQMQProducer::Create(L.Session, L.Connection);
                        const bool chained = listener->Producer->Send(L.Queue, "x", listener) != nullptr;
                        return std::string(chained ? "chained" : "not chained") +
                               ", producers: " + std::to_string(L.Session->GetProducerCount());
                      },
                      "chained, producers: 0"}),
    [](const auto& Info) { return std::string(Info.param.Title); });

}  // namespace
}  // namespace velmor
