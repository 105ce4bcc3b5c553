// Failover between two real RabbitMQ nodes: the usual one and a second node on port 61614 that
// scripts/broker runs beside it. Only the second node is ever stopped (its RabbitMQ application, with
// rabbitmqctl stop_app), and it is always started again. Tests that stop it and tests that need it
// running exclude each other through a file lock, since ctest may run them in parallel processes; each
// test holds the lock from before it first looks at the node until it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BrokerFixture.h"
#include "FakeStompPeer.h"
#include "RecordingClient.h"
#include "ZQCommAdapterIndy.h"
#include "ZQConnectWithFailoverSupport.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using testing::Broker;
using testing::TRecordingClient;

int SecondPort() {
  const char* value = std::getenv("VELMOR_BROKER2_PORT");
  return value != nullptr && *value != '\0' ? std::atoi(value) : 61614;
}

std::string NodeUrl(int Port) {
  return "stomp://" + Broker().Host + ":" + std::to_string(Port);
}

// Runs scripts/broker with Command for the second node; its exit status.
int SecondNode(const std::string& Command) {
  return testing::RunBrokerScript(Command + " --port " + std::to_string(SecondPort()) + " >/dev/null 2>&1");
}

// A lock shared by the tests that need the second node running, exclusive for those that stop it.
class TSecondNodeLock {
 public:
  explicit TSecondNodeLock(bool Exclusive) {
    const std::filesystem::path dir = std::filesystem::path(testing::RepoRoot()) / "build" / "broker";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const std::string path = (dir / ("failover-" + std::to_string(SecondPort()) + ".lock")).string();
    FFile = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (FFile >= 0)
      FLocked = ::flock(FFile, Exclusive ? LOCK_EX : LOCK_SH) == 0;
  }
  ~TSecondNodeLock() {
    if (FFile >= 0)
      ::close(FFile);
  }
  TSecondNodeLock(const TSecondNodeLock&) = delete;
  TSecondNodeLock& operator=(const TSecondNodeLock&) = delete;

  bool Locked() const { return FLocked; }

 private:
  int FFile = -1;
  bool FLocked = false;
};

std::shared_ptr<TRecordingClient> ClientFor(const std::string& URL) {
  return testing::NewClient(TZQCommAdapterIndy::Create(), URL, Broker().User, Broker().Pass);
}

// The port of the broker a connected client reports as its own.
int ConnectedPort(const TZQStompClient& Client) {
  const IURIPtr uri = Client.GetURI();
  return uri ? std::atoi(uri->GetPort().c_str()) : 0;
}

class FailoverBrokerTest : public testing::BrokerTest {
 protected:
  // Takes the second node's lock, shared or (for a test that stops the node) exclusive, then fails
  // clearly when the node does not speak STOMP.
  void LockSecondNode(bool Exclusive) {
    FLock.emplace(Exclusive);
    ASSERT_TRUE(FLock->Locked());
    RequireSecondNode();
  }

  static void RequireSecondNode() {
    const auto probe = ClientFor(NodeUrl(SecondPort()));
    try {
      probe->Connect();
      probe->Disconnect();
    } catch (const std::exception& error) {
      FAIL() << "no second broker node at " << NodeUrl(SecondPort()) << " (" << error.what()
             << "); start it with: scripts/broker start --port " << SecondPort();
    }
  }

  // A message sent through the client comes back to it: the connection is live.
  static void ExpectRoundTrip(TRecordingClient& Client) {
    const std::string topic = "/topic/" + testing::UniqueName("failover");
    Client.Messages.clear();
    Client.Subscribe(topic, AckModeAuto, "sub-1", "", false);
    Client.Send(topic, "hello", {}, false, false, -1);
    for (int i = 0; i < 5 && Client.Messages.empty(); ++i)
      Client.GetCommAdapter()->ReadOneMessage(1000, false);
    ASSERT_EQ(Client.Messages.size(), 1u);
    EXPECT_EQ(Client.Messages.front()->GetBody(), "hello");
  }

 private:
  std::optional<TSecondNodeLock> FLock;
};

TEST_F(FailoverBrokerTest, FirstBrokerDownConnectsToTheSecondAndReportsIt) {
  ASSERT_NO_FATAL_FAILURE(LockSecondNode(false));
  int closedPort = 0;
  {
    const testing::FakeStompPeer gone;
    closedPort = gone.Port();
  }
  const auto client = ClientFor("failover:(" + NodeUrl(closedPort) + "," + NodeUrl(SecondPort()) +
                                ")?randomize=false&initialReconnectDelay=5&maxReconnectAttempts=3");
  client->Connect();
  ASSERT_TRUE(client->IsConnected());
  EXPECT_EQ(ConnectedPort(*client), SecondPort());
  EXPECT_EQ(client->GetURI()->GetURI(), NodeUrl(SecondPort()));
  EXPECT_EQ(client->GetServer().rfind("RabbitMQ", 0), 0u) << client->GetServer();
  ExpectRoundTrip(*client);
  client->Disconnect();
}

TEST_F(FailoverBrokerTest, WithoutRandomizeTheUrlsOrderDecides) {
  ASSERT_NO_FATAL_FAILURE(LockSecondNode(false));
  const int first = Broker().Port;
  const int second = SecondPort();
  for (const auto& [a, b] : {std::pair{second, first}, std::pair{first, second}}) {
    for (int round = 0; round < 3; ++round) {
      const auto client = ClientFor("failover:(" + NodeUrl(a) + "," + NodeUrl(b) +
                                    ")?randomize=false&maxReconnectAttempts=0");
      client->Connect();
      EXPECT_EQ(ConnectedPort(*client), a);
      client->Disconnect();
    }
  }
}

TEST_F(FailoverBrokerTest, StoppedNodeIsSkippedAndReachedOnALaterAttemptOnceStarted) {
  ASSERT_NO_FATAL_FAILURE(LockSecondNode(true));
  ASSERT_EQ(SecondNode("stop_app"), 0) << "scripts/broker stop_app --port " << SecondPort();
  int startStatus = -1;
  std::thread starter;
  // Whatever happens below, the node runs again when the test ends.
  struct TRestart {
    std::thread& Starter;
    bool Needed = true;
    ~TRestart() {
      if (Starter.joinable())
        Starter.join();
      if (Needed)
        SecondNode("start_app");
    }
  } restart{starter};

  // The stopped node is first in the list: the client goes on to the running one.
  const auto fallback = ClientFor("failover:(" + NodeUrl(SecondPort()) + "," + NodeUrl(Broker().Port) +
                                  ")?randomize=false&initialReconnectDelay=5&maxReconnectAttempts=3");
  fallback->Connect();
  EXPECT_EQ(ConnectedPort(*fallback), Broker().Port);
  fallback->Disconnect();

  // Only the stopped node is listed: it is reached once it has started again. The attempts go on for
  // three minutes, since starting the node's application takes long on a loaded machine.
  starter = std::thread([&startStatus] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    startStatus = SecondNode("start_app");
  });
  const auto client = ClientFor("failover:(" + NodeUrl(SecondPort()) +
                                ")?initialReconnectDelay=50&maxReconnectDelay=500&maxReconnectAttempts=360");
  int sleeps = 0;
  TZQFailoverEnvironment environment = DefaultFailoverEnvironment();
  environment.Sleep = [&sleeps, real = environment.Sleep](std::chrono::milliseconds Duration) {
    ++sleeps;
    real(Duration);
  };
  client->SetFailoverSupport(std::make_unique<TZQConnectWithFailoverSupport>(*client, environment));
  client->Connect();
  starter.join();
  restart.Needed = startStatus != 0;
  EXPECT_EQ(startStatus, 0) << "scripts/broker start_app --port " << SecondPort();
  ASSERT_TRUE(client->IsConnected());
  EXPECT_GT(sleeps, 0);
  EXPECT_EQ(ConnectedPort(*client), SecondPort());
  ExpectRoundTrip(*client);
  client->Disconnect();
}

}  // namespace
}  // namespace velmor
