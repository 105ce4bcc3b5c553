// Peak memory while one large text message is received: a minimal peer in a child process (the broker
// refuses messages that large, and the sender's own copy of the body is not counted that way) answers
// CONNECT and sends one MESSAGE of the given size; the program prints how much its peak resident memory
// grew while it received and read the message.
#pragma once

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include "../tests/support/LoopbackSocket.h"

namespace velmor::bench {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long StatusKiB(const std::string& Field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, Field.size() + 1, Field + ":") == 0)
      return std::atol(line.c_str() + Field.size() + 1);
  }
  return -1;
}

inline void SendAllOctets(int Handle, const char* Data, std::size_t Size) {
  while (Size > 0) {
    const ssize_t written = send(Handle, Data, Size, MSG_NOSIGNAL);
    if (written <= 0)
      _exit(1);
    Data += written;
    Size -= static_cast<std::size_t>(written);
  }
}

// The child process's peer: answers CONNECT, sends one MESSAGE of Octets body octets on the subscription
// "large", waits for the client to close.
[[noreturn]] inline void ServeOneLargeMessage(int Listener, std::size_t Octets) {
  const int connection = accept(Listener, nullptr, nullptr);
  if (connection < 0)
    _exit(1);
  char octet = 1;
  while (octet != '\0' && recv(connection, &octet, 1, 0) == 1) {
  }
  const std::string connected = std::string("CONNECTED\nversion:1.2\n\n") + '\0' + '\n';
  SendAllOctets(connection, connected.data(), connected.size());
  const std::string header =
      "MESSAGE\nsubscription:large\ndestination:/queue/velmor-bench-large\nmessage-id:large-1\n"
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

// Takes the one message and returns the size of its text as read; it closes the connection when it is
// destroyed.
using TLargeReceive = std::function<std::size_t()>;
// Connects to the peer on 127.0.0.1:Port (user and passcode do not matter) and returns the receive.
using TLargeConnect = std::function<TLargeReceive(int Port)>;

// Receives one text message of MiB mebibytes through what Connect sets up and prints the growth of the
// peak resident memory, naming the path as Through. Returns the program's exit status.
inline int MeasureLargeReceive(std::size_t MiB, const std::string& Through, const TLargeConnect& Connect) {
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
    TLargeReceive receive = Connect(ntohs(address.sin_port));
    const long before = StatusKiB("VmRSS");
    // Writing 5 there starts the peak resident size afresh.
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::size_t size = receive();
    const long peak = StatusKiB("VmHWM");
    if (size != octets)
      throw std::runtime_error("no text message of the size sent");
    const double growth = static_cast<double>(peak - before) * 1024.0;
    std::printf(
        "one message of %zu MiB received through the %s: peak resident memory grew by %.1f MiB "
        "(%.2f x the body)\n",
        MiB, Through.c_str(), growth / (1024.0 * 1024.0), growth / static_cast<double>(octets));
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

}  // namespace velmor::bench
