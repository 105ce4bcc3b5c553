// End-to-end throughput of the STOMP client alone against the local broker: P pairs of a sender and a
// receiver connection, each on its own thread and each pair on its own queue; every sender sends M
// non-persistent messages of L octets, every receiver takes them with automatic acknowledgement.
// Prints messages per second and the client's CPU time per message.
//
//   ClientThroughput [P [M [L]]]      without arguments: the standard workloads (ThroughputRun.h)
//
// VELMOR_BENCH_OMIT_CONTENT_LENGTH=1 sends without "content-length": the broker then searches every body
// for its end, which costs it much time on large bodies.
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "ThroughputRun.h"
#include "ZQAdapterRegistry.h"
#include "ZQStompClient.h"

namespace {

using namespace velmor;
using bench::TThroughputPair;

// Counts the MESSAGE frames handed to it.
class TCountingClient final : public TZQStompClient {
 public:
  int64_t Received = 0;
  std::size_t LastSize = 0;
  void OnMessageFrame(const IStompFramePtr& Frame) override {
    ++Received;
    LastSize = Frame->GetBody().size();
  }
  void UnsubscribeDurable(const std::string& /*DestinationName*/,
                          const std::string& /*SubscriptionName*/) override {}
};

std::shared_ptr<TCountingClient> Connect() {
  auto client = std::make_shared<TCountingClient>();
  client->SetCommAdapter(CreateDefaultAdapter());
  bench::ConnectToBroker(*client);
  return client;
}

int64_t ReceiveAll(const TThroughputPair& Pair, const std::function<void()>& Ready) {
  const auto client = Connect();
  client->Subscribe(Pair.Queue, AckModeAuto, "bench", "", false);
  Ready();
  while (client->Received < Pair.Count) {
    const int64_t before = client->Received;
    client->GetCommAdapter()->ReadOneMessage(30000, false);
    if (client->Received == before)
      throw std::runtime_error("no message within 30 s");
  }
  if (client->LastSize != Pair.Body.size())
    throw std::runtime_error("wrong message size");
  const int64_t received = client->Received;
  client->Disconnect();
  return received;
}

void SendAll(const TThroughputPair& Pair, const std::function<void()>& Start) {
  const auto client = Connect();
  const bool omitContentLength = bench::EnvOr("VELMOR_BENCH_OMIT_CONTENT_LENGTH", "0") == "1";
  Start();
  for (int64_t i = 0; i < Pair.Count; ++i) {
    client->Send(Pair.Queue, Pair.Body, {}, omitContentLength, false, -1);
  }
  client->Disconnect();
}

}  // namespace

int main(int argc, char** argv) {
  return velmor::bench::RunThroughput(argc, argv, "/queue/velmor-client-bench-", ReceiveAll, SendAll);
}
