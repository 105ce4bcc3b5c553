// The harness of the end-to-end throughput programs: command line, broker address, P pairs of a sender
// and a receiver thread on queues of their own, a start line that every connection reaches before the
// clock starts, and the figures (messages per second, client CPU time per message, heap allocations per
// sent and per received message). Each program only says how its sender sends and its receiver
// receives. Without arguments a program runs the two standard workloads: 1 pair of 100000 messages of
// 10 octets, and 1 pair of 2000 messages of 256 KiB.
//
// Allocations are counted per thread (AllocationCount.h), from the start line to the end of the
// sender's, resp. from the subscription to the end of the receiver's work; connecting and subscribing
// are not counted, disconnecting is.
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").
#pragma once

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AllocationCount.h"
#include "ZQURI.h"

namespace velmor::bench {

inline std::string EnvOr(const char* Name, const char* Fallback) {
  const char* value = std::getenv(Name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(Fallback);
}

// "stomp://<host>:<port>" of the broker.
inline std::string BrokerUrl() {
  return "stomp://" + EnvOr("VELMOR_BROKER_HOST", "127.0.0.1") + ":" + EnvOr("VELMOR_BROKER_PORT", "61613");
}

inline std::string BrokerUser() {
  return EnvOr("VELMOR_BROKER_USER", "vorda");
}

inline std::string BrokerPass() {
  return EnvOr("VELMOR_BROKER_PASS", "vorda");
}

// Gives Connection (a STOMP client or a transport) the broker's address and credentials, then connects.
template <typename TConnection>
void ConnectToBroker(TConnection& Connection) {
  Connection.SetLogin(BrokerUser());
  Connection.SetPasscode(BrokerPass());
  Connection.SetURI(CreateURI(BrokerUrl(), 61613));
  Connection.Connect();
}

// The CPU time of the whole process so far, in seconds.
inline double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// What one pair's threads are given.
struct TThroughputPair {
  // The pair's own queue.
  std::string Queue;
  // Messages to send, and to receive.
  int64_t Count = 0;
  // The body of every message.
  std::string Body;
};

// Connects, subscribes to Pair.Queue, calls Ready() and then receives Pair.Count messages, each checked
// against Pair.Body; returns how many arrived. Throws on any failure.
using TThroughputReceiver =
    std::function<int64_t(const TThroughputPair& Pair, const std::function<void()>& Ready)>;

// Connects, calls Start() (which returns once the clock has started), then sends Pair.Count messages of
// Pair.Body to Pair.Queue. Throws on any failure.
using TThroughputSender =
    std::function<void(const TThroughputPair& Pair, const std::function<void()>& Start)>;

// Runs one workload: P pairs of M messages of L octets each, on queues named QueuePrefix followed by the
// pair's number; prints the figures. Returns the program's exit status.
inline int RunWorkload(int pairs, int64_t count, int length, const std::string& QueuePrefix,
                       const TThroughputReceiver& Receiver, const TThroughputSender& Sender) {
  const std::string body(static_cast<std::size_t>(length), 'x');
  // Every connection is up (and every receiver subscribed) before the clock starts.
  std::latch ready(2 * pairs);
  std::latch go(1);
  std::atomic<int64_t> received{0};
  std::atomic<uint64_t> sendAllocations{0};
  std::atomic<uint64_t> receiveAllocations{0};
  std::vector<std::thread> threads;
  std::mutex errorLock;
  std::string firstError;
  const auto report = [&](const std::string& Text) {
    const std::lock_guard<std::mutex> lock(errorLock);
    if (firstError.empty())
      firstError = Text;
  };

  for (int pair = 0; pair < pairs; ++pair) {
    const TThroughputPair work{QueuePrefix + std::to_string(pair), count, body};
    threads.emplace_back([&, work] {
      bool counted = false;
      uint64_t allocationsBefore = 0;
      try {
        received += Receiver(work, [&] {
          ready.count_down();
          counted = true;
          allocationsBefore = ThreadAllocations;
        });
        receiveAllocations += ThreadAllocations - allocationsBefore;
      } catch (const std::exception& error) {
        if (!counted)
          ready.count_down();
        report(std::string("receiver: ") + error.what());
      }
    });
    threads.emplace_back([&, work] {
      bool counted = false;
      uint64_t allocationsBefore = 0;
      try {
        Sender(work, [&] {
          ready.count_down();
          counted = true;
          go.wait();
          allocationsBefore = ThreadAllocations;
        });
        sendAllocations += ThreadAllocations - allocationsBefore;
      } catch (const std::exception& error) {
        if (!counted)
          ready.count_down();
        report(std::string("sender: ") + error.what());
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

  if (!firstError.empty()) {
    std::fprintf(stderr, "failed: %s\n", firstError.c_str());
    return 1;
  }
  const auto total = static_cast<double>(received.load());
  const auto sent = static_cast<double>(count) * pairs;
  std::printf("pairs %d, messages per pair %lld, octets %d\n", pairs, static_cast<long long>(count), length);
  std::printf("received %lld messages in %.3f s: %.0f messages/s\n", static_cast<long long>(received.load()),
              seconds, total / seconds);
  std::printf("client CPU %.3f s: %.2f us per message (send and receive)\n", cpu, cpu * 1e6 / total);
  std::printf("heap allocations per message: %.2f per send, %.2f per receive\n",
              static_cast<double>(sendAllocations.load()) / sent,
              static_cast<double>(receiveAllocations.load()) / total);
  std::fflush(stdout);
  return 0;
}

// Runs the program: reads [P [M [L]]] from the command line and runs that workload, or without
// arguments the two standard workloads. Returns the program's exit status.
inline int RunThroughput(int argc, char** argv, const std::string& QueuePrefix,
                         const TThroughputReceiver& Receiver, const TThroughputSender& Sender) {
  if (argc <= 1) {
    const int status = RunWorkload(1, 100000, 10, QueuePrefix, Receiver, Sender);
    if (status != 0)
      return status;
    return RunWorkload(1, 2000, 256 * 1024, QueuePrefix, Receiver, Sender);
  }
  const int pairs = std::atoi(argv[1]);
  const int64_t count = argc > 2 ? std::atoll(argv[2]) : 100000;
  const int length = argc > 3 ? std::atoi(argv[3]) : 10;
  if (pairs < 1 || pairs > 64 || count < 1 || length < 0) {
    std::fprintf(stderr, "usage: %s [pairs 1..64] [messages >= 1] [octets >= 0]\n", argv[0]);
    return 2;
  }
  return RunWorkload(pairs, count, length, QueuePrefix, Receiver, Sender);
}

}  // namespace velmor::bench
