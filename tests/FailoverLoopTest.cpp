#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ZQCommInterfaces.h"
#include "ZQConnectWithFailoverSupport.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQStompFrame.h"
#include "ZQURI.h"

namespace velmor {
namespace {

// How a fake broker answers a connect.
enum class Answer { Refuse, Error, Accept };

// One connect the fake adapter saw: the broker's "host:port" and the CONNECT frame written (empty when
// the connection was refused before CONNECT).
struct Attempt {
  std::string Broker;
  std::string ConnectFrame;
};

// The value of header Name in an encoded frame, or "(none)".
std::string HeaderOf(const std::string& Frame, const std::string& Name) {
  const std::string key = "\n" + Name + ":";
  const auto start = Frame.find(key);
  if (start == std::string::npos)
    return "(none)";
  const auto begin = start + key.size();
  return Frame.substr(begin, Frame.find('\n', begin) - begin);
}

// A communication adapter without a network: each broker ("host:port") answers as the test scripted
// (refused when not scripted), and every connect is recorded.
class TFakeAdapter final : public IStompCommAdapter {
 public:
  std::map<std::string, Answer> Brokers;
  std::vector<Attempt> Attempts;
  int Disconnects = 0;

  void SetOnConnected(TStompConnectedEvent Handler) override { FOnConnected = std::move(Handler); }
  TStompConnectedEvent GetOnConnected() const override { return FOnConnected; }
  void SetSpareHandler(TStompSpareEvent Handler) override { FSpare = std::move(Handler); }
  TStompSpareEvent GetSpareHandler() const override { return FSpare; }
  void SetOnFrame(TStompFrameEvent Handler) override { FOnFrame = std::move(Handler); }
  TStompFrameEvent GetOnFrame() const override { return FOnFrame; }
  void SetConnectTimeout(int32_t Ms) override { FConnectTimeout = Ms; }
  int32_t GetConnectTimeout() const override { return FConnectTimeout; }
  void SetOutgoingHeartbeat(int32_t Ms) override { FOutgoing = Ms; }
  int32_t GetOutgoingHeartbeat() const override { return FOutgoing; }
  void SetIncomingHeartbeat(int32_t Ms) override { FIncoming = Ms; }
  int32_t GetIncomingHeartbeat() const override { return FIncoming; }
  TStompVersion GetVersion() const override { return FVersion; }
  void SetVersion(TStompVersion Version) override { FVersion = Version; }
  void Init(const IURIPtr& URI) override {
    if (FConnected)
      throw EMQException("Transport layer is already connected.");
    FURI = URI;
  }
  IURIPtr GetURI() const override { return FURI; }
  bool GetUseConnectTimeout() const override { return false; }
  void SetUseConnectTimeout(bool /*Value*/) override {}

  void Connect() override {
    if (FConnected)
      throw EMQException("Transport layer is already connected.");
    const std::string broker = FURI->GetHost() + ":" + FURI->GetPort();
    Attempts.push_back({broker, ""});
    const auto found = Brokers.find(broker);
    const Answer answer = found == Brokers.end() ? Answer::Refuse : found->second;
    if (answer == Answer::Refuse)
      throw EMQException("Connection refused: " + broker);
    FOnConnected(*this);
    if (answer == Answer::Error) {
      const IStompFramePtr error = TZQStompFrame::CreateForCommand("ERROR");
      error->AddHeader("message", "Access refused");
      FOnFrame(error);
      throw EMQException("an ERROR frame must raise");
    }
    const IStompFramePtr connected = TZQStompFrame::CreateForCommand("CONNECTED");
    connected->AddHeader("version", "1.2");
    connected->AddHeader("server", "fake/" + broker);
    connected->AddHeader("heart-beat", "5000,5000");
    FOnFrame(connected);
    FConnected = true;
  }
  bool Supports(const std::string& Scheme) const override {
    return Scheme == "stomp" || Scheme == "failover:(stomp";
  }
  void Disconnect() override {
    ++Disconnects;
    FConnected = false;
  }
  bool IsConnected() const override { return FConnected; }
  std::string GetParam(const std::string& /*Name*/) const override { return {}; }
  void Receive() override {}
  void ReadOneMessage(int32_t /*Timeout*/, bool /*RaiseOnNoData*/) override {}
  void Poll() override {}
  void Write(const std::string& Data, int32_t /*SendTimeout*/) override {
    if (!Attempts.empty())
      Attempts.back().ConnectFrame += Data;
  }
  std::string GetClassName() const override { return "TFakeAdapter"; }
  void SendHeartbeat() override {}
  void CheckHeartbeat() override {}
  bool OutgoingHeartbeatEnabled() const override { return FOutgoing > 0; }
  bool IncomingHeartbeatEnabled() const override { return FIncoming > 0; }
  void MarkHeartbeat() override {}
  bool WaitHeartbeat(int32_t /*Timeout*/) override { return false; }
  bool SupportsVersion(TStompVersion Version) const override { return FVersion >= Version; }
  void RequireVersion(TStompVersion /*Version*/) const override {}

  // Puts the adapter in the connected state without any connect.
  void ForceConnected() { FConnected = true; }

 private:
  TStompConnectedEvent FOnConnected;
  TStompFrameEvent FOnFrame;
  TStompSpareEvent FSpare;
  int32_t FConnectTimeout = 0;
  int32_t FOutgoing = 0;
  int32_t FIncoming = 0;
  TStompVersion FVersion = 1;
  IURIPtr FURI;
  bool FConnected = false;
};

class TTestClient final : public TZQStompClient {
 public:
  TTestClient() = default;
  void OnMessageFrame(const IStompFramePtr& /*Frame*/) override {}
  void UnsubscribeDurable(const std::string& /*DestinationName*/,
                          const std::string& /*SubscriptionName*/) override {}
};

class FailoverLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Adapter = std::make_shared<TFakeAdapter>();
    Client = std::make_shared<TTestClient>();
    Client->SetCommAdapter(Adapter);
    TZQFailoverEnvironment environment;
    environment.Sleep = [this](std::chrono::milliseconds Duration) { Sleeps.push_back(Duration.count()); };
    environment.RandomIndex = [this](int32_t Count) {
      Counts.push_back(Count);
      const int32_t index = RandomScript.empty() ? 0 : RandomScript[RandomCalls % RandomScript.size()];
      ++RandomCalls;
      return index;
    };
    auto support = std::make_unique<TZQConnectWithFailoverSupport>(*Client, environment);
    Support = support.get();
    Client->SetFailoverSupport(std::move(support));
  }

  // Sets the client's URL as the connection factory does, then connects.
  void Connect(const std::string& URL) {
    Client->SetURI(CreateURI(URL, 61613));
    Client->Connect();
  }

  // The error text of Connect(URL), or "(connected)".
  std::string ErrorOf(const std::string& URL) {
    try {
      Connect(URL);
    } catch (const std::exception& error) {
      return error.what();
    }
    return "(connected)";
  }

  // The error text of the loop run directly on URL (also for URLs that Connect would not hand to it).
  std::string LoopErrorOf(const std::string& URL) {
    try {
      Support->ConnectWithFailover(CreateURI(URL, 61613));
    } catch (const std::exception& error) {
      return error.what();
    }
    return "(connected)";
  }

  std::vector<std::string> Brokers() const {
    std::vector<std::string> brokers;
    for (const Attempt& attempt : Adapter->Attempts)
      brokers.push_back(attempt.Broker);
    return brokers;
  }

  std::shared_ptr<TFakeAdapter> Adapter;
  std::shared_ptr<TTestClient> Client;
  TZQConnectWithFailoverSupport* Support = nullptr;
  std::vector<int64_t> Sleeps;
  std::vector<int32_t> RandomScript;
  std::vector<int32_t> Counts;
  size_t RandomCalls = 0;
};

using Texts = std::vector<std::string>;
using Durations = std::vector<int64_t>;

TEST_F(FailoverLoopTest, RoundRobinAlternatesBrokersWithDoublingSleeps) {
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1,stomp://b:2)?randomize=false&initialReconnectDelay=100&"
                    "maxReconnectAttempts=5"),
            "Reached 5 reconnect attempts");
  EXPECT_EQ(Brokers(), (Texts{"a:1", "b:2", "a:1", "b:2", "a:1", "b:2"}));
  EXPECT_EQ(Sleeps, (Durations{100, 200, 400, 800, 1600}));
  EXPECT_TRUE(Counts.empty());
}

TEST_F(FailoverLoopTest, DefaultBackOffDoublesUpToTheCap) {
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?maxReconnectAttempts=15"), "Reached 15 reconnect attempts");
  EXPECT_EQ(Sleeps,
            (Durations{10, 20, 40, 80, 160, 320, 640, 1280, 2560, 5120, 10240, 20480, 30000, 30000, 30000}));
  EXPECT_EQ(Adapter->Attempts.size(), 16u);
}

TEST_F(FailoverLoopTest, FractionalMultiplierDropsFractionsOfMilliseconds) {
  ErrorOf("failover:(stomp://a:1)?backOffMultiplier=1.5&maxReconnectAttempts=6");
  EXPECT_EQ(Sleeps, (Durations{10, 15, 22, 33, 50, 75}));
}

TEST_F(FailoverLoopTest, FirstSleepMayExceedTheCap) {
  ErrorOf("failover:(stomp://a:1)?initialReconnectDelay=50000&maxReconnectAttempts=3");
  EXPECT_EQ(Sleeps, (Durations{50000, 30000, 30000}));
}

TEST_F(FailoverLoopTest, SmallCapHoldsFromTheSecondSleep) {
  ErrorOf(
      "failover:(stomp://a:1)?initialReconnectDelay=30&maxReconnectDelay=50&backOffMultiplier=3&"
      "maxReconnectAttempts=4");
  EXPECT_EQ(Sleeps, (Durations{30, 50, 50, 50}));
}

TEST_F(FailoverLoopTest, NoReconnectsRaiseTheAttemptsOwnError) {
  try {
    Connect("failover:(stomp://a:1,stomp://b:2)?randomize=false&maxReconnectAttempts=0");
    FAIL() << "connected";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "Connection refused: a:1");
  }
  EXPECT_EQ(Brokers(), (Texts{"a:1"}));
  EXPECT_TRUE(Sleeps.empty());
}

TEST_F(FailoverLoopTest, NoReconnectsKeepsTheBrokersErrorType) {
  Adapter->Brokers["a:1"] = Answer::Error;
  EXPECT_THROW(Connect("failover:(stomp://a:1)?maxReconnectAttempts=0"), EZQStompServerErrorMessage);
}

TEST_F(FailoverLoopTest, AttemptLimitCountsReconnectsAfterTheFirstAttempt) {
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1,stomp://b:2,stomp://c:3)?randomize=false&maxReconnectAttempts=2"),
            "Reached 2 reconnect attempts");
  EXPECT_EQ(Brokers(), (Texts{"a:1", "b:2", "c:3"}));
  EXPECT_EQ(Sleeps, (Durations{10, 20}));
}

TEST_F(FailoverLoopTest, RandomOrderAsksTheRandomSourceBeforeEveryAttempt) {
  RandomScript = {2, 2, 0, 1};
  Adapter->Brokers["b:2"] = Answer::Accept;
  Connect("failover:(stomp://a:1,stomp://b:2,stomp://c:3)?maxReconnectAttempts=10");
  EXPECT_EQ(Brokers(), (Texts{"c:3", "c:3", "a:1", "b:2"}));
  EXPECT_EQ(Counts, (std::vector<int32_t>{3, 3, 3, 3, 3}));
  EXPECT_EQ(Sleeps, (Durations{10, 20, 40}));
}

TEST_F(FailoverLoopTest, RandomIndexOutOfRangeIsAnInternalError) {
  RandomScript = {5};
  EXPECT_THROW(Connect("failover:(stomp://a:1,stomp://b:2)?maxReconnectAttempts=1"), EAssertionFailed);
  EXPECT_TRUE(Adapter->Attempts.empty());
}

TEST_F(FailoverLoopTest, ConnectsToTheFirstBrokerThatAnswersAndKeepsItsUrl) {
  Adapter->Brokers["b:2"] = Answer::Accept;
  Connect("failover:(stomp://a:1,stomp://b:2?send.receipt=true)?randomize=false&maxReconnectAttempts=3");
  EXPECT_TRUE(Client->IsConnected());
  EXPECT_TRUE(Client->GetConnected());
  EXPECT_EQ(Client->GetServer(), "fake/b:2");
  EXPECT_EQ(Client->GetURI()->GetURI(), "stomp://b:2?send.receipt=true");
  EXPECT_TRUE(Client->GetSendReceipt());
  // The failover options never reach the client's option list.
  EXPECT_EQ(Client->GetConnectionParams().GetOptionList(), (Texts{"send.receipt=true"}));
  EXPECT_EQ(Sleeps, (Durations{10}));
}

TEST_F(FailoverLoopTest, AlreadyConnectedTriesNothing) {
  Client->SetURI(CreateURI("failover:(stomp://a:1)?randomize=false&maxReconnectAttempts=1", 61613));
  Adapter->ForceConnected();
  Client->Connect();
  EXPECT_TRUE(Adapter->Attempts.empty());
  // The URL is still parsed and checked.
  EXPECT_EQ(LoopErrorOf("failover:(stomp://a:1)?bogus"), "unknown option: bogus");
}

TEST_F(FailoverLoopTest, UnsupportedSchemeFailsBeforeAnyAttempt) {
  Adapter->Brokers["a:1"] = Answer::Accept;
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1,stomp+ssl://b:2)?maxReconnectAttempts=1"),
            "Unsupported Protocol \"stomp+ssl\" !");
  EXPECT_THROW(Connect("failover:(stomp://a:1,stomp+ssl://b:2)?maxReconnectAttempts=1"), EMQException);
  EXPECT_EQ(LoopErrorOf("failover:(stomp://a:1,STOMP://b:2)?maxReconnectAttempts=1"),
            "Unsupported Protocol \"STOMP\" !");
  EXPECT_EQ(LoopErrorOf("failover:()?maxReconnectAttempts=1"), "Unsupported Protocol \"\" !");
  // A nested failover URL is no broker entry either.
  EXPECT_EQ(LoopErrorOf("failover:(failover:(stomp://a:1))?maxReconnectAttempts=1"),
            "Unsupported Protocol \"failover:(stomp\" !");
  EXPECT_TRUE(Adapter->Attempts.empty());
  EXPECT_TRUE(Sleeps.empty());
}

TEST_F(FailoverLoopTest, UnknownEntryOptionFailsBeforeAnyAttempt) {
  Adapter->Brokers["a:1"] = Answer::Accept;
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1,stomp://b:2?send.receipt=true&bogus=1)?maxReconnectAttempts=1"),
            "Connection URL contains unknown option: bogus=1");
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1?Send.Receipt=true)?maxReconnectAttempts=1"),
            "Connection URL contains unknown option: Send.Receipt=true");
  EXPECT_TRUE(Adapter->Attempts.empty());
}

TEST_F(FailoverLoopTest, UnknownFailoverOptionFailsBeforeAnyAttempt) {
  Adapter->Brokers["a:1"] = Answer::Accept;
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?maxReconnectAttempts=1&send.receipt=true"),
            "unknown option: send.receipt=true");
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?maxReconnectAttempts=1&initialReconnectDelay=-5"),
            "Range check error");
  EXPECT_TRUE(Adapter->Attempts.empty());
}

TEST_F(FailoverLoopTest, EachBrokerGetsTheBaseCredentialsUnlessItsEntryNamesOthers) {
  Client->SetLogin("base");
  Client->SetPasscode("basepw");
  Adapter->Brokers["c:3"] = Answer::Accept;
  Connect("failover:(stomp://a:1,stomp://u2:p2@b:2,stomp://c:3)?randomize=false&maxReconnectAttempts=5");
  ASSERT_EQ(Adapter->Attempts.size(), 3u);
  EXPECT_EQ(HeaderOf(Adapter->Attempts[0].ConnectFrame, "login"), "(none)");  // refused before CONNECT
  EXPECT_EQ(HeaderOf(Adapter->Attempts[2].ConnectFrame, "login"), "base");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[2].ConnectFrame, "passcode"), "basepw");
  EXPECT_EQ(Client->GetLogin(), "base");
}

TEST_F(FailoverLoopTest, EntryCredentialsReachOnlyThatBroker) {
  Client->SetLogin("base");
  Client->SetPasscode("basepw");
  Adapter->Brokers["b:2"] = Answer::Error;
  Adapter->Brokers["c:3"] = Answer::Accept;
  Connect("failover:(stomp://a:1,stomp://u2:p2@b:2,stomp://c:3)?randomize=false&maxReconnectAttempts=5");
  ASSERT_EQ(Adapter->Attempts.size(), 3u);
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "login"), "u2");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "passcode"), "p2");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[2].ConnectFrame, "login"), "base");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[2].ConnectFrame, "passcode"), "basepw");
}

TEST_F(FailoverLoopTest, FirstEntrysCredentialsAreNotTakenForTheBase) {
  // The failover URL read as one broker URL shows the first entry's user information as its own.
  Client->SetLogin("base");
  Client->SetPasscode("basepw");
  Adapter->Brokers["a:1"] = Answer::Error;
  Adapter->Brokers["b:2"] = Answer::Accept;
  Connect("failover:(stomp://u1:p1@a:1,stomp://b:2)?randomize=false&maxReconnectAttempts=1");
  ASSERT_EQ(Adapter->Attempts.size(), 2u);
  EXPECT_EQ(HeaderOf(Adapter->Attempts[0].ConnectFrame, "login"), "u1");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "login"), "base");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "passcode"), "basepw");
}

TEST_F(FailoverLoopTest, EntryOptionsApplyToThatBrokerOnly) {
  Adapter->Brokers["a:1"] = Answer::Error;
  Adapter->Brokers["b:2"] = Answer::Accept;
  Connect("failover:(stomp://a:1?connect.host=vh-a,stomp://b:2)?randomize=false&maxReconnectAttempts=2");
  ASSERT_EQ(Adapter->Attempts.size(), 2u);
  EXPECT_EQ(HeaderOf(Adapter->Attempts[0].ConnectFrame, "host"), "vh-a");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "host"), "(none)");
}

TEST_F(FailoverLoopTest, FailedLoopRestoresTheFailoverUrlAndBaseCredentials) {
  Client->SetLogin("base");
  Client->SetPasscode("basepw");
  const std::string url = "failover:(stomp://a:1,stomp://u2:p2@b:2)?randomize=false&maxReconnectAttempts=1";
  Adapter->Brokers["b:2"] = Answer::Error;
  EXPECT_EQ(ErrorOf(url), "Reached 1 reconnect attempts");
  EXPECT_EQ(Client->GetURI()->GetURI(), url);
  EXPECT_EQ(Client->GetLogin(), "base");
  EXPECT_EQ(Client->GetPasscode(), "basepw");
  // A second start fails over again and reaches the broker that has come up meanwhile.
  Adapter->Brokers["a:1"] = Answer::Accept;
  Client->Connect();
  EXPECT_EQ(Brokers(), (Texts{"a:1", "b:2", "a:1"}));
  EXPECT_EQ(HeaderOf(Adapter->Attempts[2].ConnectFrame, "login"), "base");
  EXPECT_EQ(Client->GetURI()->GetURI(), "stomp://a:1");
}

TEST_F(FailoverLoopTest, FailedHeartBeatRequestDoesNotSpoilTheNextAttempt) {
  Adapter->Brokers["a:1"] = Answer::Error;
  Adapter->Brokers["b:2"] = Answer::Accept;
  Connect(
      "failover:(stomp://a:1?connect.heart-beat=1000,2000,stomp://b:2?connect.heart-beat=3000,0)?"
      "randomize=false&maxReconnectAttempts=1");
  ASSERT_EQ(Adapter->Attempts.size(), 2u);
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "heart-beat"), "3000,0");
  // Negotiated against the broker's 5000,5000: outgoing the larger of 3000 and 5000, incoming off.
  EXPECT_EQ(Adapter->GetOutgoingHeartbeat(), 5000);
  EXPECT_EQ(Adapter->GetIncomingHeartbeat(), 0);
}

TEST(FailoverRandomSourceTest, DefaultRandomSourceServesManyThreadsAtOnce) {
  std::atomic<int> outOfRange{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&outOfRange] {
      const TZQFailoverEnvironment environment = DefaultFailoverEnvironment();
      for (int i = 0; i < 2000; ++i) {
        const int32_t index = environment.RandomIndex(3);
        if (index < 0 || index > 2)
          ++outOfRange;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(outOfRange.load(), 0);
}

TEST(FailoverRandomSourceTest, DefaultRandomSourceReachesEveryIndex) {
  const TZQFailoverEnvironment environment = DefaultFailoverEnvironment();
  std::vector<int> seen(4, 0);
  for (int i = 0; i < 400; ++i)
    ++seen.at(static_cast<size_t>(environment.RandomIndex(4)));
  for (int count : seen)
    EXPECT_GT(count, 0);
}

}  // namespace
}  // namespace velmor
