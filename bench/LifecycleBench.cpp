// What the lifecycles of producers cost.
//
// - CloseSessionHoldingProducers/N: closing a session that holds N producers; the time should grow
//   linearly with N.
// - ReleaseFluentProducersThenClose/N: N simplified producers made and released one after the other, then
//   the session closed, as a loop of one-line sends does it; time and the producers still registered.
// - FluentSendRetainedOctets: heap octets left behind per `ctx->CreateProducer()->Send(topic, text)`
//   against the local broker (VELMOR_BROKER_HOST / VELMOR_BROKER_PORT, default 127.0.0.1:61613); should
//   be 0. Sent to a topic without subscribers, so the broker keeps nothing. User and passcode come
//   from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "ZQConnection.h"
#include "ZQConnectionFactory.h"
#include "ZQMQProducer.h"
#include "ZQMQTransportRabbitMQ.h"

namespace {

using namespace velmor;

std::string EnvOr(const char* Name, const char* Fallback) {
  const char* value = std::getenv(Name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(Fallback);
}

// A connection that is never started: creating and closing producers needs no broker.
std::shared_ptr<TZQConnection> Unstarted() {
  return TZQConnection::Create(TZQMQTransportRabbitMQ::Create());
}

void CloseSessionHoldingProducers(benchmark::State& State) {
  const auto count = static_cast<std::size_t>(State.range(0));
  for (auto _ : State) {
    State.PauseTiming();
    const auto connection = Unstarted();
    const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
    std::vector<IMessageProducerPtr> producers;
    producers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      producers.push_back(session->CreateProducer(nullptr));
    }
    State.ResumeTiming();
    session->Close();
  }
  State.SetComplexityN(State.range(0));
}

void ReleaseFluentProducersThenClose(benchmark::State& State) {
  const auto count = static_cast<std::size_t>(State.range(0));
  std::size_t registered = 0;
  for (auto _ : State) {
    const auto connection = Unstarted();
    const auto session =
        std::static_pointer_cast<TZQSession>(connection->CreateSession(false, AcknowledgeModeAuto));
    for (std::size_t i = 0; i < count; ++i) {
      TZQMQProducer::Create(session)->SetPriority(4);
    }
    registered = session->GetProducerCount();
    session->Close();
  }
  State.counters["registered_before_close"] = static_cast<double>(registered);
  State.SetComplexityN(State.range(0));
}

void FluentSendRetainedOctets(benchmark::State& State) {
  try {
    TZQConnectionFactory factory(
        EnvOr("VELMOR_BROKER_USER", "vorda"), EnvOr("VELMOR_BROKER_PASS", "vorda"),
        "stomp://" + EnvOr("VELMOR_BROKER_HOST", "127.0.0.1") + ":" + EnvOr("VELMOR_BROKER_PORT", "61613"));
    const IMQContextPtr context = factory.CreateContext();
    const ITopicPtr topic = context->CreateTopic("velmor-lifecycle-bench");
    const std::string text(10, 'x');
    // The first sends build what every later one reuses.
    for (int i = 0; i < 100; ++i) {
      context->CreateProducer()->Send(topic, text);
    }
    int64_t sends = 0;
    const std::size_t before = mallinfo2().uordblks;
    for (auto _ : State) {
      context->CreateProducer()->Send(topic, text);
      ++sends;
    }
    const std::size_t after = mallinfo2().uordblks;
    State.counters["retained_octets_per_send"] =
        static_cast<double>(static_cast<int64_t>(after) - static_cast<int64_t>(before)) /
        static_cast<double>(sends);
    context->Close();
  } catch (const std::exception& Error) {
    State.SkipWithError(Error.what());
  }
}

BENCHMARK(CloseSessionHoldingProducers)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Complexity();
BENCHMARK(ReleaseFluentProducersThenClose)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Complexity();
BENCHMARK(FluentSendRetainedOctets)->Iterations(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
