#pragma once

// The measuring engine of Kestrun: one result thread and, per pair, one sender and one receiver thread
// working on a queue of their own. Senders use the simplified context API, receivers the classic
// connection/session/consumer API, all from one shared connection factory. The engine knows nothing of
// the windows: it reports through an ITestSink.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "ZQMQInterfaces.h"

namespace kestrun {

// Where a run's log lines and its result go. Called on the worker threads, possibly at the same time;
// an implementation must be thread-safe, must not block and must not wait for the GUI thread.
class ITestSink {
 public:
  virtual ~ITestSink() = default;

  // One log line; IsError marks a line that tells of a failure: an error, or messages missing or of the
  // wrong size.
  virtual void AddLog(const std::string& Text, bool IsError) = 0;
  // Messages per second of the whole run; Failed when some thread logged an error line before it. Called
  // exactly once per run that was not stopped first, after every receiver ended.
  virtual void ShowResult(uint32_t Rate, bool Failed) = 0;
};

using ITestSinkPtr = std::shared_ptr<ITestSink>;

struct TTestSettings {
  int32_t MessageCount = 1000;
  int32_t PayloadLength = 10;
  int32_t ThreadCount = 1;
};

// "ExampleQueue." followed by the pair's 0-based index.
std::string QueueName(int32_t Index);

// Received messages per second over Elapsed, truncated toward zero. An elapsed time below 1 ms counts as
// 1 ms; a rate above the unsigned 32-bit range raises ERangeError "Range check error".
uint32_t ComputeRate(int64_t Received, std::chrono::steady_clock::duration Elapsed);

// Counts down once per receiver; the result thread waits until it reaches zero or a stop is asked for.
// Thread-safe.
class TCompletionLatch final {
 public:
  explicit TCompletionLatch(int32_t Count) : FCount(Count) {}

  void CountDown();
  // True when the count reached zero, false when the wait ended because a stop was requested.
  bool Wait(std::stop_token Stop);

 private:
  std::mutex FMutex;
  std::condition_variable_any FChanged;
  int32_t FCount;
};

// One test run. The constructor launches its threads and returns at once; the run owns them. Stop (and
// the destructor) asks every thread to stop and comes back only when all of them have ended: senders stop
// between two sends, receivers between two receives. Used by the GUI thread only.
class TTestRun final {
 public:
  TTestRun(velmor::IConnectionFactoryPtr Factory, const TTestSettings& Settings, ITestSinkPtr Sink);
  ~TTestRun();
  TTestRun(const TTestRun&) = delete;
  TTestRun& operator=(const TTestRun&) = delete;

  void Stop();

 private:
  void Log(const std::string& Text) const;
  // Logs a line that tells of a failure and marks the run as failed.
  void LogError(const std::string& Text);
  void SenderBody(std::stop_token Stop, const std::string& Queue);
  void ReceiverBody(std::stop_token Stop, const std::string& Queue);
  void ReceiveAll(std::stop_token Stop, const std::string& Queue, const velmor::IConnectionPtr& Connection);
  void ResultBody(std::stop_token Stop);

  // Shared by the threads of this run; the factory's create operations only read it.
  const velmor::IConnectionFactoryPtr FFactory;
  const TTestSettings FSettings;
  const ITestSinkPtr FSink;
  TCompletionLatch FReceiversDone;
  std::atomic<int64_t> FReceivedMessages{0};
  std::atomic<bool> FFailed{false};
  // Declared last: the threads end before the state above goes away.
  std::vector<std::jthread> FThreads;
};

}  // namespace kestrun
