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

#include "FakeCommAdapter.h"
#include "RecordingClient.h"
#include "ZQConnectWithFailoverSupport.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQStompFrame.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using testing::TFakeCommAdapter;
using testing::TRecordingClient;

// How a fake broker answers a connect.
enum class Answer { Refuse, Error, Accept };

// The value of header Name in an encoded frame, or "(none)".
std::string HeaderOf(const std::string& Frame, const std::string& Name) {
  const std::string key = "\n" + Name + ":";
  const auto start = Frame.find(key);
  if (start == std::string::npos)
    return "(none)";
  const auto begin = start + key.size();
  return Frame.substr(begin, Frame.find('\n', begin) - begin);
}

class FailoverLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Adapter = std::make_shared<TFakeCommAdapter>();
    // Each broker answers as scripted in Answers; one not scripted refuses the connection.
    Adapter->OnConnect = [this](const std::string& Broker) {
      const auto found = Answers.find(Broker);
      const Answer answer = found == Answers.end() ? Answer::Refuse : found->second;
      if (answer == Answer::Refuse)
        throw EMQException("Connection refused: " + Broker);
      if (answer == Answer::Error) {
        const IStompFramePtr error = TZQStompFrame::CreateForCommand("ERROR");
        error->AddHeader("message", "Access refused");
        Adapter->Incoming.push_back(error);
        return;
      }
      const IStompFramePtr connected = TZQStompFrame::CreateForCommand("CONNECTED");
      connected->AddHeader("version", "1.2");
      connected->AddHeader("server", "fake/" + Broker);
      connected->AddHeader("heart-beat", "5000,5000");
      Adapter->Incoming.push_back(connected);
    };
    Client = std::make_shared<TRecordingClient>();
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
    for (const TFakeCommAdapter::Attempt& attempt : Adapter->Attempts)
      brokers.push_back(attempt.Broker);
    return brokers;
  }

  std::map<std::string, Answer> Answers;
  std::shared_ptr<TFakeCommAdapter> Adapter;
  std::shared_ptr<TRecordingClient> Client;
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
  Answers["a:1"] = Answer::Error;
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
  Answers["b:2"] = Answer::Accept;
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
  Answers["b:2"] = Answer::Accept;
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
  Answers["a:1"] = Answer::Accept;
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
  Answers["a:1"] = Answer::Accept;
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1,stomp://b:2?send.receipt=true&bogus=1)?maxReconnectAttempts=1"),
            "Connection URL contains unknown option: bogus=1");
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1?Send.Receipt=true)?maxReconnectAttempts=1"),
            "Connection URL contains unknown option: Send.Receipt=true");
  EXPECT_TRUE(Adapter->Attempts.empty());
}

TEST_F(FailoverLoopTest, EntryPortOutOfRangeFailsBeforeAnyAttempt) {
  Answers["a:1"] = Answer::Accept;
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1,stomp://b:70000)?maxReconnectAttempts=1"), "Range check error");
  EXPECT_THROW(Connect("failover:(stomp://a:1,stomp://b:-1)?maxReconnectAttempts=1"), ERangeError);
  EXPECT_TRUE(Adapter->Attempts.empty());
  EXPECT_TRUE(Sleeps.empty());
  // The edges of the range pass the check.
  Answers["b:65535"] = Answer::Accept;
  EXPECT_NO_THROW(Connect("failover:(stomp://b:65535)?maxReconnectAttempts=1"));
}

TEST_F(FailoverLoopTest, UnknownFailoverOptionFailsBeforeAnyAttempt) {
  Answers["a:1"] = Answer::Accept;
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?maxReconnectAttempts=1&send.receipt=true"),
            "unknown option: send.receipt=true");
  EXPECT_EQ(ErrorOf("failover:(stomp://a:1)?maxReconnectAttempts=1&initialReconnectDelay=-5"),
            "Range check error");
  EXPECT_THROW(Connect("failover:(stomp://a:1)?maxReconnectAttempts=abc"), EConfigurationException);
  EXPECT_TRUE(Adapter->Attempts.empty());
  EXPECT_EQ(Adapter->Connects, 0);
}

TEST_F(FailoverLoopTest, EachBrokerGetsTheBaseCredentialsUnlessItsEntryNamesOthers) {
  Client->SetLogin("base");
  Client->SetPasscode("basepw");
  Answers["c:3"] = Answer::Accept;
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
  Answers["b:2"] = Answer::Error;
  Answers["c:3"] = Answer::Accept;
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
  Answers["a:1"] = Answer::Error;
  Answers["b:2"] = Answer::Accept;
  Connect("failover:(stomp://u1:p1@a:1,stomp://b:2)?randomize=false&maxReconnectAttempts=1");
  ASSERT_EQ(Adapter->Attempts.size(), 2u);
  EXPECT_EQ(HeaderOf(Adapter->Attempts[0].ConnectFrame, "login"), "u1");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "login"), "base");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "passcode"), "basepw");
}

TEST_F(FailoverLoopTest, EntryOptionsApplyToThatBrokerOnly) {
  Answers["a:1"] = Answer::Error;
  Answers["b:2"] = Answer::Accept;
  Connect("failover:(stomp://a:1?connect.host=vh-a,stomp://b:2)?randomize=false&maxReconnectAttempts=2");
  ASSERT_EQ(Adapter->Attempts.size(), 2u);
  EXPECT_EQ(HeaderOf(Adapter->Attempts[0].ConnectFrame, "host"), "vh-a");
  EXPECT_EQ(HeaderOf(Adapter->Attempts[1].ConnectFrame, "host"), "(none)");
}

TEST_F(FailoverLoopTest, FailedLoopRestoresTheFailoverUrlAndBaseCredentials) {
  Client->SetLogin("base");
  Client->SetPasscode("basepw");
  const std::string url = "failover:(stomp://a:1,stomp://u2:p2@b:2)?randomize=false&maxReconnectAttempts=1";
  Answers["b:2"] = Answer::Error;
  EXPECT_EQ(ErrorOf(url), "Reached 1 reconnect attempts");
  EXPECT_EQ(Client->GetURI()->GetURI(), url);
  EXPECT_EQ(Client->GetLogin(), "base");
  EXPECT_EQ(Client->GetPasscode(), "basepw");
  // A second start fails over again and reaches the broker that has come up meanwhile.
  Answers["a:1"] = Answer::Accept;
  Client->Connect();
  EXPECT_EQ(Brokers(), (Texts{"a:1", "b:2", "a:1"}));
  EXPECT_EQ(HeaderOf(Adapter->Attempts[2].ConnectFrame, "login"), "base");
  EXPECT_EQ(Client->GetURI()->GetURI(), "stomp://a:1");
}

TEST_F(FailoverLoopTest, FailedHeartBeatRequestDoesNotSpoilTheNextAttempt) {
  Answers["a:1"] = Answer::Error;
  Answers["b:2"] = Answer::Accept;
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
