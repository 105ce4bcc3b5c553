// End-to-end throughput through the RabbitMQ transport against the local broker, the same workload as
// ClientThroughput but with library messages: P pairs of a sender and a receiver connection, each on its
// own thread and each pair on its own queue; every sender sends M non-persistent text messages of L
// characters, every receiver takes them as text messages with automatic acknowledgement. Prints
// messages per second and the client's CPU time per message, to set beside ClientThroughput's figures.
//
//   TransportThroughput [P [M [L]]]      without arguments: the standard workloads, then "large 256"
//   TransportThroughput large [MiB]      peak memory while one MiB-sized message is received
//
// "large" receives one text message of the given size (default 256 MiB) through the transport from a
// minimal peer (LargeMessageRun.h) and prints how much the process's peak resident memory grew.
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "LargeMessageRun.h"
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
    // The size is checked on the message's own text, without a copy of it.
    const auto text = std::dynamic_pointer_cast<TZQTextMessage>(transport->Receive(30000));
    if (!text)
      throw std::runtime_error("no text message within 30 s");
    if (text->GetBodyRef().size() != Pair.Body.size())
      throw std::runtime_error("wrong message size");
    ++got;
  }
  transport->Disconnect();
  return got;
}

void SendAll(const TThroughputPair& Pair, const std::function<void()>& Start) {
  const auto transport = Connect();
  // One message for every send, as a session sends the application's message itself.
  TZQTextMessage message(transport);
  message.SetText(Pair.Body);
  Start();
  for (int64_t i = 0; i < Pair.Count; ++i) {
    transport->Send(message, Pair.Queue, -1);
  }
  transport->Disconnect();
}

// The large receive through the transport alone.
bench::TLargeReceive ConnectForLarge(int Port) {
  const auto transport = TZQMQTransportRabbitMQ::Create();
  transport->SetLogin("bench");
  transport->SetPasscode("bench");
  transport->SetURI(CreateURI("stomp://127.0.0.1:" + std::to_string(Port), 61613));
  transport->Connect();
  return [transport]() -> std::size_t {
    const auto text = std::dynamic_pointer_cast<TZQTextMessage>(transport->Receive(60000));
    return text ? text->GetBodyRef().size() : 0;
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "large") == 0)
    return bench::MeasureLargeReceive(argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 256,
                                      "transport", ConnectForLarge);
  const int status =
      velmor::bench::RunThroughput(argc, argv, "/queue/velmor-transport-bench-", ReceiveAll, SendAll);
  if (status != 0 || argc > 1)
    return status;
  return bench::MeasureLargeReceive(256, "transport", ConnectForLarge);
}
