#include "FakeStompPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmor::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// A bare client socket, so that the peer is tested without the library.
class RawClient {
 public:
  explicit RawClient(const FakeStompPeer& Peer) {
    const bool v6 = Peer.Host() == "::1";
    FFd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int rc = -1;
    if (v6) {
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_addr = in6addr_loopback;
      address.sin6_port = htons(static_cast<uint16_t>(Peer.Port()));
      rc = connect(FFd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<uint16_t>(Peer.Port()));
      rc = connect(FFd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    EXPECT_EQ(rc, 0) << "connect: " << errno;
    fcntl(FFd, F_SETFL, fcntl(FFd, F_GETFL, 0) | O_NONBLOCK);
  }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  void Close() {
    if (FFd >= 0)
      close(FFd);
    FFd = -1;
  }
  int Fd() const { return FFd; }

  bool Write(const std::string& Octets) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + 5s;
    while (done < Octets.size() && Clock::now() < deadline) {
      const ssize_t sent = send(FFd, Octets.data() + done, Octets.size() - done, MSG_NOSIGNAL);
      if (sent > 0) {
        done += static_cast<std::size_t>(sent);
      } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd wait{FFd, POLLOUT, 0};
        poll(&wait, 1, 100);
      } else {
        return false;
      }
    }
    return done == Octets.size();
  }

  // Reads until Count octets arrived, the peer closed (Eof set) or 5 s passed.
  std::string Read(std::size_t Count, bool& Eof) {
    std::string got;
    Eof = false;
    const auto deadline = Clock::now() + 5s;
    while (got.size() < Count && Clock::now() < deadline) {
      pollfd wait{FFd, POLLIN, 0};
      poll(&wait, 1, 100);
      char buffer[4096];
      const ssize_t n = recv(FFd, buffer, sizeof buffer, 0);
      if (n > 0) {
        got.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0) {
        Eof = true;
        break;
      } else if (errno != EAGAIN && errno != EINTR) {
        break;
      }
    }
    return got;
  }

 private:
  int FFd = -1;
};

TEST(FakeStompPeerTest, BuildsBrokerFramesAsRabbitMqSendsThem) {
  struct Case {
    std::string Built;
    std::string Expected;
  };
  const Case cases[] = {
      {ConnectedFrame(), "CONNECTED\nversion:1.2\n\n\0\n"s},
      {ConnectedFrame("1.1", {{"heart-beat", "0,1000"}, {"session", "s1"}}),
       "CONNECTED\nversion:1.1\nheart-beat:0,1000\nsession:s1\n\n\0\n"s},
      {ReceiptFrame("r-7"), "RECEIPT\nreceipt-id:r-7\n\n\0\n"s},
      {MessageFrame("/queue/a", "m-1", "1", "a\0b"s),
       "MESSAGE\nsubscription:1\ndestination:/queue/a\nmessage-id:m-1\ncontent-length:3\n\na\0b\0\n"s},
      {ErrorFrame("bad", "why"), "ERROR\nmessage:bad\ncontent-type:text/plain\ncontent-length:3\n\nwhy\0\n"s},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Printable(c.Built), Printable(c.Expected));
}

TEST(FakeStompPeerTest, ShowsNonPrintableOctetsReadably) {
  EXPECT_EQ(Printable("a\n\r\t\0\\\x01\xff"s), "a\\n\\r\\t\\0\\\\\\x01\\xFF");
  EXPECT_EQ(FrameHeader("SEND\nreceipt:r1\ncontent-length:0\n\n", "receipt"), "r1");
  EXPECT_EQ(FrameHeader("SEND\n\nreceipt:r1\n", "receipt"), "");
}

TEST(FakeStompPeerTest, ReportsAMismatchWithTheFirstDifference) {
  FakeStompPeer peer;
  peer.Expect("CONNECT\naccept-version:1.2\n\n\0"s).Send(ConnectedFrame());
  peer.Start();
  RawClient client(peer);
  ASSERT_TRUE(client.Write("CONNECT\naccept-version:1.1\n\n\0"s));

  EXPECT_FALSE(peer.WaitDone());
  const auto failures = peer.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("step 1 (Expect)"), std::string::npos) << failures[0];
  EXPECT_NE(failures[0].find("offset 25"), std::string::npos) << failures[0];
  EXPECT_NE(failures[0].find("accept-version:1.1\\n\\n\\0"), std::string::npos) << failures[0];
  EXPECT_EQ(peer.StepsDone(), 0u);
}

TEST(FakeStompPeerTest, ReadsFramesAroundHeartbeatsAndAnswersReceipts) {
  const std::string connect("CONNECT\naccept-version:1.2\nhost:/\n\n\0", 36);
  const std::string send("SEND\ndestination:/queue/a\nreceipt:r-1\ncontent-length:3\n\n\0\0\0\0", 60);
  FakeStompPeer peer;
  peer.ExpectFrame(connect)
      .Send(ConnectedFrame())
      .ExpectHeartbeat()
      .ExpectFrameStartingWith("SEND\ndestination:/queue/a\n")
      .SendReceiptForLastFrame()
      .ExpectClosed();
  peer.Start();
  RawClient client(peer);
  ASSERT_TRUE(client.Write(connect));
  bool eof = false;
  EXPECT_EQ(client.Read(ConnectedFrame().size(), eof), ConnectedFrame());
  ASSERT_TRUE(client.Write("\r\n" + send + "\n"));
  EXPECT_EQ(client.Read(ReceiptFrame("r-1").size(), eof), ReceiptFrame("r-1"));
  client.Close();

  EXPECT_TRUE(peer.Done());
  EXPECT_EQ(peer.Frames(), (std::vector<std::string>{connect, send}));
  EXPECT_EQ(peer.Written(), connect + "\r\n" + send + "\n");
}

TEST(FakeStompPeerTest, DribbleDeliversEveryOctetInOrder) {
  const std::string frame = MessageFrame("/queue/a", "m-1", "1", "hello");
  FakeStompPeer peer;
  peer.Dribble(frame);
  peer.Start();
  RawClient client(peer);
  bool eof = false;
  EXPECT_EQ(client.Read(frame.size(), eof), frame);
  EXPECT_TRUE(peer.Done());
}

TEST(FakeStompPeerTest, CloseMidFrameIsSeenAsEndOfStreamAfterThePartialOctets) {
  const std::string partial = "MESSAGE\ndestination:/queue/a\ncontent-len";
  FakeStompPeer peer;
  peer.Send(partial).CloseConnection();
  peer.Start();
  RawClient client(peer);
  ASSERT_TRUE(client.Write("CONNECT\n\n\0"s));
  ASSERT_TRUE(peer.Done());
  bool eof = false;
  EXPECT_EQ(client.Read(1024 * 1024, eof), partial);
  EXPECT_TRUE(eof);
}

TEST(FakeStompPeerTest, NeverReadLetsTheClientsWritesFillTheSocketBuffers) {
  FakeStompPeer peer;
  peer.NeverRead();
  peer.Start();
  RawClient client(peer);
  ASSERT_TRUE(peer.Done());
  const std::string chunk(64 * 1024, 'x');
  std::size_t total = 0;
  int lastError = 0;
  while (total < 64u * 1024 * 1024) {
    const ssize_t sent = send(client.Fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      lastError = errno;
      if (lastError == EINTR)
        continue;
      break;
    }
    total += static_cast<std::size_t>(sent);
  }
  EXPECT_EQ(lastError, EAGAIN) << "after " << total << " octets";
  EXPECT_TRUE(peer.Written().empty());
}

TEST(FakeStompPeerTest, AcceptNextServesTheClientsReconnect) {
  FakeStompPeer peer;
  peer.ExpectFrame("CONNECT\n\n\0"s)
      .CloseConnection()
      .AcceptNext()
      .ExpectFrame("STOMP\n\n\0"s)
      .Send(ConnectedFrame());
  peer.Start();
  {
    RawClient first(peer);
    ASSERT_TRUE(first.Write("CONNECT\n\n\0"s));
    bool eof = false;
    EXPECT_EQ(first.Read(100, eof), "");
    EXPECT_TRUE(eof);
  }
  RawClient second(peer);
  ASSERT_TRUE(second.Write("STOMP\n\n\0"s));
  bool eof = false;
  EXPECT_EQ(second.Read(ConnectedFrame().size(), eof), ConnectedFrame());
  EXPECT_TRUE(peer.Done());
  EXPECT_EQ(peer.Connections(), 2);
}

TEST(FakeStompPeerTest, ReportsATimeOutWhenTheClientWritesNothing) {
  FakeStompPeer peer;
  peer.SetTimeout(50ms).ExpectFrame("CONNECT\n\n\0"s);
  // Written before the peer starts, so the step has read it when its time is up.
  RawClient client(peer);
  ASSERT_TRUE(client.Write("CONN"));
  peer.Start();
  EXPECT_FALSE(peer.WaitDone());
  const auto failures = peer.Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("timed out"), std::string::npos) << failures[0];
  EXPECT_NE(failures[0].find("\"CONN\""), std::string::npos) << failures[0];
}

TEST(FakeStompPeerTest, LetsAWaitingStepPassOnRelease) {
  FakeStompPeer peer;
  peer.WaitUntilReleased().Send("go");
  peer.Start();
  RawClient client(peer);
  peer.Release();
  bool eof = false;
  EXPECT_EQ(client.Read(2, eof), "go");
  EXPECT_TRUE(peer.Done());
}

TEST(FakeStompPeerTest, StopsPromptlyWhenDestroyedInTheMiddleOfItsScript) {
  auto peer = std::make_unique<FakeStompPeer>();
  peer->SetTimeout(10min).Send("hi").WaitUntilReleased().Stall(10min);
  peer->Start();
  RawClient client(*peer);
  bool eof = false;
  ASSERT_EQ(client.Read(2, eof), "hi");
  peer.reset();
  EXPECT_EQ(client.Read(100, eof), "");
  EXPECT_TRUE(eof);
}

TEST(FakeStompPeerTest, RefusesScriptStepsAfterStart) {
  FakeStompPeer peer;
  peer.Start();
  EXPECT_THROW(peer.Send("x"), std::logic_error);
  EXPECT_FALSE(peer.Done(100ms));
}

TEST(FakeStompPeerTest, ListensOnTheIpv6LoopbackWhenAsked) {
  if (!FakeStompPeer::IPv6LoopbackAvailable())
    GTEST_SKIP() << "this machine has no IPv6 loopback";
  FakeStompPeer peer(true);
  EXPECT_EQ(peer.Url("a=b"), "stomp://[::1]:" + std::to_string(peer.Port()) + "?a=b");
  peer.ExpectFrame("CONNECT\n\n\0"s).Send(ConnectedFrame());
  peer.Start();
  RawClient client(peer);
  ASSERT_TRUE(client.Write("CONNECT\n\n\0"s));
  bool eof = false;
  EXPECT_EQ(client.Read(ConnectedFrame().size(), eof), ConnectedFrame());
  EXPECT_TRUE(peer.Done());
}

TEST(FakeStompPeerTest, NamesItsIpv4Address) {
  FakeStompPeer peer;
  EXPECT_GT(peer.Port(), 0);
  EXPECT_EQ(peer.Url(), "stomp://127.0.0.1:" + std::to_string(peer.Port()));
}

}  // namespace
}  // namespace velmor::testing
