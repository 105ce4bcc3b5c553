// End-to-end throughput through the RabbitMQ transport against the local broker, the same workload as
// ClientThroughput but with library messages: P pairs of a sender and a receiver connection, each on its
// own thread and each pair on its own queue; every sender sends M non-persistent text messages of L
// characters, every receiver takes them as text messages with automatic acknowledgement. Prints
// messages per second and the client's CPU time per message, to set beside ClientThroughput's figures.
//
//   TransportThroughput [P [M [L]]]      defaults 1 100000 10
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "ThroughputRun.h"
#include "ZQMQTransportRabbitMQ.h"
#include "ZQStompClient.h"
#include "ZQTextMessage.h"

namespace {

using namespace velmor;
using bench::TThroughputPair;

std::shared_ptr<TZQMQTransportRabbitMQ> Connect() {
  auto transport = TZQMQTransportRabbitMQ::Create();
  bench::ConnectToBroker(*transport);
  return transport;
}

int64_t ReceiveAll(const TThroughputPair& Pair, const std::function<void()>& Ready) {
  const auto transport = Connect();
  transport->Subscribe(Pair.Queue, AckModeAuto, "bench", "", false);
  Ready();
  int64_t got = 0;
  while (got < Pair.Count) {
    const auto text = std::dynamic_pointer_cast<ITextMessage>(transport->Receive(30000));
    if (!text)
      throw std::runtime_error("no text message within 30 s");
    if (text->GetText().size() != Pair.Body.size())
      throw std::runtime_error("wrong message size");
    ++got;
  }
  transport->Disconnect();
  return got;
}

void SendAll(const TThroughputPair& Pair, const std::function<void()>& Start) {
  const auto transport = Connect();
  Start();
  for (int64_t i = 0; i < Pair.Count; ++i) {
    // A fresh message per send, as a session sends a fresh library copy each time.
    TZQTextMessage message(transport);
    message.SetText(Pair.Body);
    transport->Send(message, Pair.Queue, -1);
  }
  transport->Disconnect();
}

}  // namespace

int main(int argc, char** argv) {
  return velmor::bench::RunThroughput(argc, argv, "/queue/velmor-transport-bench-", ReceiveAll, SendAll);
}
