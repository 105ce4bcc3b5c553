#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace velmor::testing {

// A TCP socket bound to an ephemeral port of 127.0.0.1, listening with Backlog unless Backlog is
// negative (then nothing listens on the port). Returns the descriptor; Address receives the bound
// address and port. Header only, so that the benchmarks can use it without the test libraries.
inline int BindLoopback(int Backlog, sockaddr_in& Address) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Address = sockaddr_in{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
  if (Backlog >= 0)
    listen(fd, Backlog);
  socklen_t length = sizeof Address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&Address), &length);
  return fd;
}

}  // namespace velmor::testing
