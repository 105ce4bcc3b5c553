// End-to-end throughput of the STOMP client alone against the local broker: P pairs of a sender and a
// receiver connection, each on its own thread and each pair on its own queue; every sender sends M
// non-persistent messages of L octets, every receiver takes them with automatic acknowledgement.
// Prints messages per second and the client's CPU time per message.
//
//   ClientThroughput [P [M [L]]]      defaults 1 100000 10
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <latch>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ZQAdapterRegistry.h"
#include "ZQStompClient.h"
#include "ZQURI.h"

namespace {

using namespace velmor;

std::string EnvOr(const char* Name, const char* Fallback) {
  const char* value = std::getenv(Name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(Fallback);
}

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
  const std::string url =
      "stomp://" + EnvOr("VELMOR_BROKER_HOST", "127.0.0.1") + ":" + EnvOr("VELMOR_BROKER_PORT", "61613");
  auto client = std::make_shared<TCountingClient>();
  client->SetCommAdapter(CreateDefaultAdapter());
  client->SetLogin(EnvOr("VELMOR_BROKER_USER", "vorda"));
  client->SetPasscode(EnvOr("VELMOR_BROKER_PASS", "vorda"));
  client->SetURI(CreateURI(url, 61613));
  client->Connect();
  return client;
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::mutex ErrorLock;
std::string FirstError;

void Report(const std::string& Text) {
  const std::lock_guard<std::mutex> lock(ErrorLock);
  if (FirstError.empty())
    FirstError = Text;
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::atoi(argv[1]) : 1;
  const int64_t count = argc > 2 ? std::atoll(argv[2]) : 100000;
  const int length = argc > 3 ? std::atoi(argv[3]) : 10;
  if (pairs < 1 || pairs > 64 || count < 1 || length < 0) {
    std::fprintf(stderr, "usage: %s [pairs 1..64] [messages >= 1] [octets >= 0]\n", argv[0]);
    return 2;
  }

  const std::string body(static_cast<std::size_t>(length), 'x');
  // Every connection is up (and every receiver subscribed) before the clock starts.
  std::latch ready(2 * pairs);
  std::latch go(1);
  std::atomic<int64_t> received{0};
  std::vector<std::thread> threads;

  for (int pair = 0; pair < pairs; ++pair) {
    const std::string queue = "/queue/velmor-client-bench-" + std::to_string(pair);
    threads.emplace_back([&, queue] {
      bool counted = false;
      try {
        const auto client = Connect();
        client->Subscribe(queue, AckModeAuto, "bench", "", false);
        ready.count_down();
        counted = true;
        while (client->Received < count) {
          const int64_t before = client->Received;
          client->GetCommAdapter()->ReadOneMessage(30000, false);
          if (client->Received == before)
            throw std::runtime_error("no message within 30 s");
        }
        if (client->LastSize != body.size())
          throw std::runtime_error("wrong message size");
        received += client->Received;
        client->Disconnect();
      } catch (const std::exception& error) {
        if (!counted)
          ready.count_down();
        Report(std::string("receiver: ") + error.what());
      }
    });
    threads.emplace_back([&, queue] {
      bool counted = false;
      try {
        const auto client = Connect();
        ready.count_down();
        counted = true;
        go.wait();
        for (int64_t i = 0; i < count; ++i) {
          client->Send(queue, body, {}, false, false, -1);
        }
        client->Disconnect();
      } catch (const std::exception& error) {
        if (!counted)
          ready.count_down();
        Report(std::string("sender: ") + error.what());
      }
    });
  }

  ready.wait();
  const double cpuStart = ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  go.count_down();
  for (auto& thread : threads)
    thread.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = ProcessCpuSeconds() - cpuStart;

  if (!FirstError.empty()) {
    std::fprintf(stderr, "failed: %s\n", FirstError.c_str());
    return 1;
  }
  const auto total = static_cast<double>(received.load());
  std::printf("pairs %d, messages per pair %lld, octets %d\n", pairs, static_cast<long long>(count), length);
  std::printf("received %lld messages in %.3f s: %.0f messages/s\n", static_cast<long long>(received.load()),
              seconds, total / seconds);
  std::printf("client CPU %.3f s: %.2f us per message (send and receive)\n", cpu, cpu * 1e6 / total);
  return 0;
}
