// The broker that scripts/broker starts speaks STOMP with the project's credentials: checked with a
// plain socket, independent of the library, so a broken broker set-up shows up as such.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "BrokerFixture.h"

namespace velmor::testing {
namespace {

class RawSocket {
 public:
  explicit RawSocket(const BrokerAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.Host.c_str(), std::to_string(address.Port).c_str(), &hints, &found) != 0) return;
    for (addrinfo* entry = found; entry != nullptr && fd_ < 0; entry = entry->ai_next) {
      fd_ = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
      if (fd_ >= 0 && connect(fd_, entry->ai_addr, entry->ai_addrlen) != 0) {
        close(fd_);
        fd_ = -1;
      }
    }
    freeaddrinfo(found);
  }
  ~RawSocket() {
    if (fd_ >= 0) close(fd_);
  }
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  bool Connected() const { return fd_ >= 0; }

  bool Write(const std::string& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  // Reads until a NUL octet (the end of a frame) arrives, the peer closes, or five seconds pass.
  std::string ReadFrame() {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.find('\0') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd waiting{fd_, POLLIN, 0};
      if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
      char chunk[4096];
      const ssize_t count = recv(fd_, chunk, sizeof chunk, 0);
      if (count <= 0) break;
      received.append(chunk, static_cast<size_t>(count));
    }
    return received;
  }

 private:
  int fd_ = -1;
};

class RawConnectBrokerTest : public BrokerTest {};

TEST_F(RawConnectBrokerTest, AnswersConnectWithConnectedForTheProjectUser) {
  const BrokerAddress address = Broker();
  RawSocket socket(address);
  ASSERT_TRUE(socket.Connected());
  ASSERT_TRUE(socket.Write(std::string("CONNECT\naccept-version:1.2\nlogin:") + address.User +
                           "\npasscode:" + address.Pass + "\n\n" + std::string(1, '\0')));
  const std::string frame = socket.ReadFrame();
  EXPECT_EQ(frame.rfind("CONNECTED\n", 0), 0u) << frame;
  EXPECT_NE(frame.find("\nversion:1.2\n"), std::string::npos) << frame;
}

TEST_F(RawConnectBrokerTest, AnswersAWrongPasscodeWithError) {
  const BrokerAddress address = Broker();
  RawSocket socket(address);
  ASSERT_TRUE(socket.Connected());
  ASSERT_TRUE(socket.Write(std::string("CONNECT\naccept-version:1.2\nlogin:") + address.User +
                           "\npasscode:wrong-" + address.Pass + "\n\n" + std::string(1, '\0')));
  const std::string frame = socket.ReadFrame();
  EXPECT_EQ(frame.rfind("ERROR\n", 0), 0u) << frame;
}

}  // namespace
}  // namespace velmor::testing
