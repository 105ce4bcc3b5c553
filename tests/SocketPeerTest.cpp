#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FakeStompPeer.h"
#include "LoopbackSocket.h"
#include "MessageOf.h"
#include "ZQSocket.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;
using testing::FakeStompPeer;
using testing::MessageOf;

void ConnectTo(TTCPClient& Client, const FakeStompPeer& Peer) {
  Client.SetHost(Peer.Host());
  Client.SetPort(Peer.Port());
  Client.SetIPv6(Peer.Host() == "::1");
  Client.Connect();
}

// A listener on 127.0.0.1 whose backlog is full and that never accepts, so that a further connect hangs
// in the handshake.
class FullBacklogListener {
 public:
  FullBacklogListener() {
    sockaddr_in address{};
    FListener = testing::BindLoopback(0, address);
    FPort = ntohs(address.sin_port);
    // Fill the queue: connect until one connection no longer completes quickly.
    for (int i = 0; i < 16; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      FFillers.push_back(fd);
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
      pollfd entry{fd, POLLOUT, 0};
      if (poll(&entry, 1, 200) == 0)
        break;
    }
  }
  ~FullBacklogListener() {
    for (const int fd : FFillers)
      close(fd);
    close(FListener);
  }
  FullBacklogListener(const FullBacklogListener&) = delete;
  FullBacklogListener& operator=(const FullBacklogListener&) = delete;
  int Port() const { return FPort; }

 private:
  int FListener = -1;
  int FPort = 0;
  std::vector<int> FFillers;
};

// A port on 127.0.0.1 with nothing listening.
int ClosedPort() {
  sockaddr_in address{};
  const int fd = testing::BindLoopback(-1, address);
  close(fd);
  return ntohs(address.sin_port);
}

TEST(SocketTest, ReadLnTellsAnEmptyLineFromATimeOut) {
  FakeStompPeer peer;
  peer.Send("\n").Stall(2000ms);
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_EQ(client.ReadLn(2000), "");
  EXPECT_FALSE(client.ReadLnTimedOut());
  EXPECT_EQ(client.ReadLn(20), "");
  EXPECT_TRUE(client.ReadLnTimedOut());
}

TEST(SocketTest, ReadLnDropsOneCarriageReturnBeforeTheLineFeed) {
  FakeStompPeer peer;
  peer.Send("a\r\nb\r\r\n\r\n");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_EQ(client.ReadLn(2000), "a");
  EXPECT_EQ(client.ReadLn(2000), "b\r");
  EXPECT_EQ(client.ReadLn(2000), "");
  EXPECT_FALSE(client.ReadLnTimedOut());
}

TEST(SocketTest, APartialLineStaysBufferedAfterATimeOut) {
  FakeStompPeer peer;
  peer.Send("hel").WaitUntilReleased().Send("lo\n");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_EQ(client.ReadLn(50), "");
  EXPECT_TRUE(client.ReadLnTimedOut());
  peer.Release();
  EXPECT_EQ(client.ReadLn(2000), "hello");
}

TEST(SocketTest, ALineOfTheMaximumLengthIsRead) {
  const std::string line(TTCPClient::DefaultMaxLineLength, 'x');
  FakeStompPeer peer;
  peer.Send(line + "\n");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_EQ(client.ReadLn(2000), line);
}

TEST(SocketTest, ALineOneOctetLongerFailsWithMaxLineLengthExceeded) {
  FakeStompPeer peer;
  peer.Send(std::string(TTCPClient::DefaultMaxLineLength + 1, 'x') + "\n");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_EQ(MessageOf<EMaxLineLengthExceeded>([&] { client.ReadLn(2000); }), "Max line length exceeded.");
}

TEST(SocketTest, TwentyThousandOctetsWithoutLineFeedFailAtOnce) {
  // The peer then keeps the connection open: waiting for the time-out would end the read quietly.
  FakeStompPeer peer;
  peer.Send(std::string(20000, 'x')).Stall(10000ms);
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_THROW(client.ReadLn(60000), EMaxLineLengthExceeded);
}

TEST(SocketTest, OctetsReceivedBeforeThePeerClosedAreDeliveredFirst) {
  FakeStompPeer peer;
  peer.Send(std::string("ERROR\n\n\0\nxyz", 12)).CloseConnection();
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  ASSERT_TRUE(peer.WaitDone());
  EXPECT_EQ(client.ReadLn(2000), "ERROR");
  EXPECT_EQ(client.ReadLn(2000), "");
  EXPECT_EQ(client.ReadByte(2000), 0);
  EXPECT_EQ(client.ReadByte(2000), '\n');
  EXPECT_EQ(client.ReadBytes(3, 2000), "xyz");
  EXPECT_EQ(MessageOf<EConnClosedGracefully>([&] { client.ReadByte(2000); }),
            "Connection Closed Gracefully.");
  EXPECT_THROW(client.ReadLn(2000), EConnClosedGracefully);
  EXPECT_THROW(client.WaitForData(2000), EConnClosedGracefully);
}

TEST(SocketTest, ReadBytesThatStopArrivingFailWithReadTimedOut) {
  FakeStompPeer peer;
  peer.Send("abc").Stall(2000ms);
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_EQ(MessageOf<EReadTimeout>([&] { client.ReadBytes(5, 50); }), "Read timed out.");
}

// Small bodies pass the input buffer, large ones go straight into the body; either way the octets after
// the body stay for the next read.
TEST(SocketTest, ReadBytesCollectsABodyArrivingInPieces) {
  for (const std::size_t size : {std::size_t{200000}, std::size_t{3 * 1024 * 1024 + 7}}) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
      body[i] = static_cast<char>('a' + i % 23);
    FakeStompPeer peer;
    peer.Send(body.substr(0, 70000))
        .Stall(20ms)
        .Send(body.substr(70000, 100000))
        .Stall(20ms)
        .Send(body.substr(170000) + "\nNEXT\n");
    peer.Start();
    TTCPClient client;
    ConnectTo(client, peer);
    EXPECT_EQ(client.ReadBytes(body.size(), 2000), body) << size;
    EXPECT_EQ(client.ReadLn(2000), "");
    EXPECT_EQ(client.ReadLn(2000), "NEXT");
    EXPECT_TRUE(client.InputBufferIsEmpty());
  }
}

TEST(SocketTest, WaitForDataReportsBufferedInputAndTimeOuts) {
  FakeStompPeer peer;
  peer.WaitUntilReleased().Send("z");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  EXPECT_FALSE(client.WaitForData(20));
  EXPECT_TRUE(client.InputBufferIsEmpty());
  peer.Release();
  EXPECT_TRUE(client.WaitForData(2000));
  EXPECT_EQ(client.InputBufferSize(), 1u);
}

TEST(SocketTest, PeekLnLeavesTheLineInTheInput) {
  FakeStompPeer peer;
  peer.Send("MESSAGE\r\n");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  std::string line;
  ASSERT_TRUE(client.PeekLn(2000, line));
  EXPECT_EQ(line, "MESSAGE");
  EXPECT_EQ(client.ReadLn(0), "MESSAGE");
}

// Whole, and gathered from three parts (an empty one among them) that the socket takes in pieces.
TEST(SocketTest, WriteSendsAllOctets) {
  const std::string data = std::string(300000, 'w') + std::string("\0end", 4);
  const std::string head = "SEND\n\n";
  const std::string body = std::string(500000, 'b') + "!";
  FakeStompPeer peer;
  peer.Expect(data).Expect(head + body + '\0').Expect(head + body);
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  client.Write(data);
  client.Write(head, body, std::string_view("\0", 1));
  client.Write(head, "", body);
  EXPECT_TRUE(peer.Done());
}

TEST(SocketTest, WritingToAClosedPeerRaisesInsteadOfKillingTheProcess) {
  FakeStompPeer peer;
  peer.CloseConnection();
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  ASSERT_TRUE(peer.WaitDone());
  // The first writes may still be taken by the system; the reset then makes a write fail.
  EXPECT_THROW(
      {
        for (int i = 0; i < 100; ++i) {
          client.Write(std::string(4096, 'x'));
          usleep(10000);
        }
      },
      ESocketError);
}

TEST(SocketTest, SendTimeOutEndsAWriteToAPeerThatNeverReads) {
  FakeStompPeer peer;
  peer.NeverRead().Stall(10000ms);
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  client.SetSendTimeout(200);
  try {
    client.Write(std::string(64 * 1024 * 1024, 'x'));
    FAIL() << "the write completed";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.GetErrorCode(), ETIMEDOUT);
    EXPECT_STREQ(error.what(), "Socket Error # 110\r\nConnection timed out");
  }
}

TEST(SocketTest, SocketErrorsCarryTheSystemsReason) {
  const std::pair<int, const char*> cases[] = {{ECONNRESET, "Socket Error # 104\r\nConnection reset by peer"},
                                               {EPIPE, "Socket Error # 32\r\nBroken pipe"}};
  for (const auto& [code, text] : cases) {
    EXPECT_STREQ(ESocketError(code).what(), text);
  }
}

TEST(SocketTest, ConnectWithoutHostOrPortIsRefused) {
  TTCPClient client;
  client.SetPort(61613);
  EXPECT_EQ(MessageOf<EHostRequired>([&] { client.Connect(); }), "A Host is required");
  client.SetHost("127.0.0.1");
  client.SetPort(0);
  EXPECT_EQ(MessageOf<EPortRequired>([&] { client.Connect(); }), "A Port is required");
  EXPECT_THROW(client.SetPort(70000), ERangeError);
  EXPECT_FALSE(client.Connected());
}

TEST(SocketTest, ConnectToAPortWithoutListenerIsASocketError) {
  TTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(ClosedPort());
  try {
    client.Connect();
    FAIL() << "connected";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.GetErrorCode(), ECONNREFUSED);
    EXPECT_STREQ(error.what(), "Socket Error # 111\r\nConnection refused");
  }
  EXPECT_FALSE(client.Connected());
}

TEST(SocketTest, ConnectToAListenerThatNeverAnswersTimesOut) {
  FullBacklogListener listener;
  TTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(listener.Port());
  client.SetConnectTimeout(300);
  EXPECT_EQ(MessageOf<EConnectTimeout>([&] { client.Connect(); }), "Connect timed out.");
  EXPECT_FALSE(client.Connected());
}

TEST(SocketTest, ConnectResolvesLocalhostForIPv4) {
  FakeStompPeer peer;
  peer.Expect("ping");
  peer.Start();
  TTCPClient client;
  client.SetHost("localhost");
  client.SetPort(peer.Port());
  client.Connect();
  client.Write("ping");
  EXPECT_TRUE(peer.Done());
}

TEST(SocketTest, ConnectOverIPv6WhenAsked) {
  if (!FakeStompPeer::IPv6LoopbackAvailable())
    GTEST_SKIP() << "this machine has no IPv6 loopback";
  FakeStompPeer peer(true);
  peer.Expect("ping").Send("pong\n");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  client.Write("ping");
  EXPECT_EQ(client.ReadLn(2000), "pong");
  EXPECT_TRUE(peer.Done());
}

TEST(SocketTest, AnIPv6AddressIsNotUsedForAnIPv4Connect) {
  TTCPClient client;
  client.SetHost("::1");
  client.SetPort(61613);
  EXPECT_THROW(client.Connect(), ESocketLayerError);
  EXPECT_FALSE(client.Connected());
}

TEST(SocketTest, DisconnectDropsBufferedInputAndReadsThenFailWithNotConnected) {
  FakeStompPeer peer;
  peer.Send("abc\n");
  peer.Start();
  TTCPClient client;
  ConnectTo(client, peer);
  ASSERT_TRUE(client.WaitForData(2000));
  client.Disconnect();
  client.Disconnect();
  EXPECT_TRUE(client.InputBufferIsEmpty());
  EXPECT_EQ(MessageOf<ENotConnected>([&] { client.ReadLn(10); }), "Not Connected");
  EXPECT_THROW(client.ReadByte(10), ENotConnected);
  EXPECT_THROW(client.Write("x"), ENotConnected);
}

}  // namespace
}  // namespace velmor
