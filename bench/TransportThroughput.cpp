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
// minimal peer in a child process (the broker refuses messages that large), so that the sender's own
// copy of the body is not counted, and prints how much the process's peak resident memory grew.
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "../tests/support/LoopbackSocket.h"
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
  Start();
  for (int64_t i = 0; i < Pair.Count; ++i) {
    // A fresh message per send, as a session sends a fresh library copy each time.
    TZQTextMessage message(transport);
    message.SetText(Pair.Body);
    transport->Send(message, Pair.Queue, -1);
  }
  transport->Disconnect();
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
long StatusKiB(const std::string& Field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, Field.size() + 1, Field + ":") == 0)
      return std::atol(line.c_str() + Field.size() + 1);
  }
  return -1;
}

void SendAllOctets(int Handle, const char* Data, std::size_t Size) {
  while (Size > 0) {
    const ssize_t written = send(Handle, Data, Size, MSG_NOSIGNAL);
    if (written <= 0)
      _exit(1);
    Data += written;
    Size -= static_cast<std::size_t>(written);
  }
}

// The child process's peer: answers CONNECT, sends one MESSAGE of Octets body octets, waits for the
// client to close.
[[noreturn]] void ServeOneLargeMessage(int Listener, std::size_t Octets) {
  const int connection = accept(Listener, nullptr, nullptr);
  if (connection < 0)
    _exit(1);
  char octet = 1;
  while (octet != '\0' && recv(connection, &octet, 1, 0) == 1) {
  }
  const std::string connected = std::string("CONNECTED\nversion:1.2\n\n") + '\0' + '\n';
  SendAllOctets(connection, connected.data(), connected.size());
  const std::string header =
      "MESSAGE\nsubscription:large\ndestination:/queue/velmor-transport-bench-large\nmessage-id:large-1\n"
      "content-type:text/plain\ncontent-length:" +
      std::to_string(Octets) + "\n\n";
  SendAllOctets(connection, header.data(), header.size());
  const std::string chunk(1024 * 1024, 'x');
  for (std::size_t left = Octets; left > 0;) {
    const std::size_t part = std::min(left, chunk.size());
    SendAllOctets(connection, chunk.data(), part);
    left -= part;
  }
  SendAllOctets(connection, "\0\n", 2);
  while (recv(connection, &octet, 1, 0) == 1) {
  }
  close(connection);
  _exit(0);
}

int MeasureLargeReceive(std::size_t MiB) {
  const std::size_t octets = MiB * 1024 * 1024;
  sockaddr_in address{};
  const int listener = velmor::testing::BindLoopback(1, address);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0)
    return 1;
  if (child == 0)
    ServeOneLargeMessage(listener, octets);
  close(listener);

  int status = 0;
  try {
    const auto transport = TZQMQTransportRabbitMQ::Create();
    transport->SetLogin("bench");
    transport->SetPasscode("bench");
    transport->SetURI(CreateURI("stomp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), 61613));
    transport->Connect();
    const long before = StatusKiB("VmRSS");
    // Writing 5 there starts the peak resident size afresh.
    std::ofstream("/proc/self/clear_refs") << "5";
    const auto text = std::dynamic_pointer_cast<TZQTextMessage>(transport->Receive(60000));
    const long peak = StatusKiB("VmHWM");
    if (!text || text->GetBodyRef().size() != octets)
      throw std::runtime_error("no text message of the size sent");
    const double growth = static_cast<double>(peak - before) * 1024.0;
    std::printf(
        "one message of %zu MiB received through the transport: peak resident memory grew by "
        "%.1f MiB (%.2f x the body)\n",
        MiB, growth / (1024.0 * 1024.0), growth / static_cast<double>(octets));
    transport->Disconnect();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "failed: %s\n", error.what());
    status = 1;
    // The peer may still wait for a connection or for its send to be read.
    kill(child, SIGKILL);
  }
  int childStatus = 0;
  waitpid(child, &childStatus, 0);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "large") == 0)
    return MeasureLargeReceive(argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 256);
  const int status =
      velmor::bench::RunThroughput(argc, argv, "/queue/velmor-transport-bench-", ReceiveAll, SendAll);
  if (status != 0 || argc > 1)
    return status;
  return MeasureLargeReceive(256);
}
