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

#include "ZQMQTransportRabbitMQ.h"
#include "ZQStompClient.h"
#include "ZQTextMessage.h"
#include "ZQURI.h"

namespace {

using namespace velmor;

std::string EnvOr(const char* Name, const char* Fallback) {
  const char* value = std::getenv(Name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(Fallback);
}

std::shared_ptr<TZQMQTransportRabbitMQ> Connect() {
  const std::string url =
      "stomp://" + EnvOr("VELMOR_BROKER_HOST", "127.0.0.1") + ":" + EnvOr("VELMOR_BROKER_PORT", "61613");
  auto transport = TZQMQTransportRabbitMQ::Create();
  transport->SetLogin(EnvOr("VELMOR_BROKER_USER", "vorda"));
  transport->SetPasscode(EnvOr("VELMOR_BROKER_PASS", "vorda"));
  transport->SetURI(CreateURI(url, 61613));
  transport->Connect();
  return transport;
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
    const std::string queue = "/queue/velmor-transport-bench-" + std::to_string(pair);
    threads.emplace_back([&, queue] {
      bool counted = false;
      try {
        const auto transport = Connect();
        transport->Subscribe(queue, AckModeAuto, "bench", "", false);
        ready.count_down();
        counted = true;
        int64_t got = 0;
        while (got < count) {
          const auto text = std::dynamic_pointer_cast<ITextMessage>(transport->Receive(30000));
          if (!text)
            throw std::runtime_error("no text message within 30 s");
          if (text->GetText().size() != body.size())
            throw std::runtime_error("wrong message size");
          ++got;
        }
        received += got;
        transport->Disconnect();
      } catch (const std::exception& error) {
        if (!counted)
          ready.count_down();
        Report(std::string("receiver: ") + error.what());
      }
    });
    threads.emplace_back([&, queue] {
      bool counted = false;
      try {
        const auto transport = Connect();
        ready.count_down();
        counted = true;
        go.wait();
        for (int64_t i = 0; i < count; ++i) {
          // A fresh message per send, as a session sends a fresh library copy each time.
          TZQTextMessage message(transport);
          message.SetText(body);
          transport->Send(message, queue, -1);
        }
        transport->Disconnect();
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
