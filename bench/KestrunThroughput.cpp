// Kestrun's measuring engine against the local broker, without its windows: P pairs of a sender (context
// and fluent producer) and a receiver (connection, session, consumer) on the queues ExampleQueue.0 ...,
// M text messages of L characters per pair. Prints the rate that Kestrun shows (messages per second
// from the start of the run, connecting included, until the last receiver is done), the client's CPU
// time per message and every log line that reports an error.
//
//   KestrunThroughput [P [M [L]]]      defaults 8 10000 2000
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KestrunLogic.h"
#include "ThroughputRun.h"
#include "VelmorThread.h"

namespace {

// Keeps the log lines and the one result of a run.
class TBenchSink final : public kestrun::ITestSink {
 public:
  void AddLog(const std::string& Text, bool /*IsError*/) override {
    const std::lock_guard<std::mutex> lock(FLock);
    FLogs.push_back(Text);
  }
  void ShowResult(uint32_t Rate, bool /*Failed*/) override {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      FRate = Rate;
      FDone = true;
    }
    FChanged.notify_all();
  }
  // False when no result came within Limit.
  bool WaitForResult(std::chrono::seconds Limit) {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, Limit, [this] { return FDone; });
  }
  uint32_t Rate() const { return FRate; }
  std::vector<std::string> Logs() {
    const std::lock_guard<std::mutex> lock(FLock);
    return FLogs;
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::string> FLogs;
  uint32_t FRate = 0;
  bool FDone = false;
};

// The lines a run that goes well logs: "Send ...", "Receive ...", "... messages sent ..." and
// "... messages received ...".
bool IsProgressLine(const std::string& Line) {
  if (Line.find("ERROR") != std::string::npos)
    return false;
  return Line.rfind("Send ", 0) == 0 || Line.rfind("Receive ", 0) == 0 ||
         Line.find(" messages sent ") != std::string::npos ||
         Line.find(" messages received ") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmor;
  const int pairs = argc > 1 ? std::atoi(argv[1]) : 8;
  const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
  const int length = argc > 3 ? std::atoi(argv[3]) : 2000;
  if (pairs < 1 || pairs > 8 || count < 1 || length < 0) {
    std::fprintf(stderr, "usage: %s [pairs 1..8] [messages >= 1] [octets >= 0]\n", argv[0]);
    return 2;
  }
  const auto sink = std::make_shared<TBenchSink>();
  const double cpuStart = bench::ProcessCpuSeconds();
  bool done = false;
  {
    kestrun::TTestRun run(kestrun::LibraryFactoryMaker().Configured(bench::BrokerUrl(), bench::BrokerUser(),
                                                                    bench::BrokerPass()),
                          {count, length, pairs}, sink);
    done = sink->WaitForResult(std::chrono::seconds(600));
  }
  const double cpu = bench::ProcessCpuSeconds() - cpuStart;
  int status = done ? 0 : 1;
  for (const std::string& line : sink->Logs()) {
    if (!IsProgressLine(line)) {
      std::fprintf(stderr, "log: %s\n", line.c_str());
      status = 1;
    }
  }
  const double total = static_cast<double>(pairs) * count;
  std::printf("Kestrun engine: pairs %d, messages per pair %d, octets %d\n", pairs, count, length);
  std::printf("rate %u messages/s; client CPU %.3f s: %.2f us per message (send and receive)\n",
              done ? sink->Rate() : 0U, cpu, cpu * 1e6 / total);
  std::fflush(stdout);
  return status;
}
