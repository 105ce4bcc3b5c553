// Frame reading from a loopback socket: a broker thread streams MESSAGE frames as fast as the socket
// takes them, the adapter reads them one ReadOneMessage at a time. Reports frames/s and bytes/s.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "../tests/support/LoopbackSocket.h"
#include "ZQCommAdapterIndy.h"
#include "ZQURI.h"

namespace {

std::string MessageFrame(size_t BodySize) {
  std::string frame =
      "MESSAGE\nsubscription:sub-0\ndestination:/queue/bench\nmessage-id:T_sub-0@@session-x@@1\n"
      "redelivered:false\ncontent-type:text/plain\ncontent-length:" +
      std::to_string(BodySize) + "\n\n";
  frame.append(BodySize, 'b');
  frame.push_back('\0');
  frame.push_back('\n');
  return frame;
}

// A minimal broker on 127.0.0.1: answers CONNECT, then writes Frame over and over until the client goes.
class StreamingBroker {
 public:
  explicit StreamingBroker(std::string Frame) : FFrame(std::move(Frame)) {
    sockaddr_in address{};
    FListener = velmor::testing::BindLoopback(1, address);
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~StreamingBroker() {
    FThread.join();
    close(FListener);
  }
  StreamingBroker(const StreamingBroker&) = delete;
  StreamingBroker& operator=(const StreamingBroker&) = delete;

  int Port() const { return FPort; }

 private:
  void Run() {
    const int connection = accept(FListener, nullptr, nullptr);
    if (connection < 0)
      return;
    char octet = 1;
    while (octet != '\0' && recv(connection, &octet, 1, 0) == 1) {
    }
    const std::string connected = std::string("CONNECTED\nversion:1.2\n\n") + '\0' + '\n';
    send(connection, connected.data(), connected.size(), MSG_NOSIGNAL);
    // Several frames per write, as a busy broker sends them.
    std::string batch;
    while (batch.size() < 256 * 1024)
      batch += FFrame;
    for (;;) {
      size_t sent = 0;
      while (sent < batch.size()) {
        const ssize_t written = send(connection, batch.data() + sent, batch.size() - sent, MSG_NOSIGNAL);
        if (written <= 0) {
          close(connection);
          return;
        }
        sent += static_cast<size_t>(written);
      }
    }
  }

  std::string FFrame;
  int FListener = -1;
  int FPort = 0;
  std::thread FThread;
};

void ReadMessageFrames(benchmark::State& State) {
  const size_t bodySize = static_cast<size_t>(State.range(0));
  const std::string frame = MessageFrame(bodySize);
  StreamingBroker broker(frame);

  velmor::TZQCommAdapterIndy adapter;
  size_t bodies = 0;
  adapter.SetOnConnected([](velmor::IStompCommAdapter& Self) {
    Self.Write(std::string("CONNECT\naccept-version:1.2\nhost:/\n\n") + '\0', -1);
  });
  adapter.SetOnFrame([&](const velmor::IStompFramePtr& Frame) { bodies += Frame->GetBody().size(); });
  adapter.Init(velmor::CreateURI("stomp://127.0.0.1:" + std::to_string(broker.Port()), 61613));
  adapter.Connect();
  adapter.SetVersion(3);

  for (auto _ : State) {
    adapter.ReadOneMessage(5000, true);
  }
  adapter.Disconnect();

  State.SetItemsProcessed(State.iterations());
  State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(frame.size()));
  State.counters["body_octets"] = static_cast<double>(bodySize);
  benchmark::DoNotOptimize(bodies);
}

BENCHMARK(ReadMessageFrames)->Arg(10)->Arg(64 * 1024)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
