#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BrokerFixture.h"
#include "MessageOf.h"
#include "RecordingClient.h"
#include "ZQAdapterRegistry.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::string_literals;
using velmor::testing::Broker;
using velmor::testing::BrokerScript;
using velmor::testing::BrokerTest;
using velmor::testing::BrokerUrl;
using velmor::testing::MessageOf;
using velmor::testing::NewClient;
using velmor::testing::RunBrokerScript;
using velmor::testing::TRecordingClient;
using velmor::testing::UniqueName;

// A client that keeps the MESSAGE frames handed to it.
class TBrokerClient final : public TRecordingClient {
 public:
  // The next MESSAGE frame: one held by a receipt wait, else one read within Timeout ms; nullptr when
  // none came.
  IStompFramePtr Receive(int32_t Timeout = 3000) {
    const std::size_t before = Messages.size();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Timeout);
    while (Messages.size() == before && !DispatchPendingMessageFrame()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
              .count();
      if (left <= 0)
        return nullptr;
      GetCommAdapter()->ReadOneMessage(static_cast<int32_t>(left), false);
    }
    return Messages.back();
  }
};

// Names a case by the versions its client offers: "1.0" gives "Stomp1_0", "1.0,1.1" gives "Stomp1_0Or1_1".
constexpr auto ByOffer = [](const auto& info) {
  std::string name = "Stomp";
  for (const char octet : std::string(info.param.offer))
    name += octet == '.' ? "_" : octet == ',' ? "Or" : std::string(1, octet);
  return name;
};

std::shared_ptr<TBrokerClient> Connected(const std::string& Query = "",
                                         const std::string& Login = Broker().User,
                                         const std::string& Passcode = Broker().Pass) {
  auto client = NewClient<TBrokerClient>(CreateDefaultAdapter(), BrokerUrl(Query), Login, Passcode);
  client->Connect();
  return client;
}

class StompClientBrokerTest : public BrokerTest {
 protected:
  void SetUp() override {
    BrokerTest::SetUp();
    Queue = "/queue/" + UniqueName("client");
  }

  // Takes what a test left in its queue, so that nothing stays behind.
  void TearDown() override {
    if (IsSkipped() || Queue.empty())
      return;
    try {
      const auto client = Connected();
      client->Subscribe(Queue, AckModeAuto, "drain", "", false);
      while (client->Receive(300) != nullptr) {
      }
      client->Disconnect();
    } catch (const std::exception&) {
    }
  }

  std::string Queue;
};

// --- Negotiation ---

struct NegotiationCase {
  const char* offer;
  int number;
};

class StompClientNegotiationTest : public StompClientBrokerTest,
                                   public ::testing::WithParamInterface<NegotiationCase> {};

TEST_P(StompClientNegotiationTest, BrokerAnswersTheOfferedVersionAndNamesItself) {
  const auto client = Connected(std::string("connect.accept-version=") + GetParam().offer);
  EXPECT_TRUE(client->GetConnected());
  EXPECT_EQ(client->GetVersion(), GetParam().number);
  EXPECT_THAT(client->GetServer(), StartsWith("RabbitMQ/"));
  EXPECT_FALSE(client->GetSessionID().empty());
  client->Disconnect();
  EXPECT_FALSE(client->IsConnected());
}

INSTANTIATE_TEST_SUITE_P(StompClientBrokerTest, StompClientNegotiationTest,
                         ::testing::Values(NegotiationCase{"1.0", 1}, NegotiationCase{"1.1", 2},
                                           NegotiationCase{"1.2", 3}, NegotiationCase{"1.0,1.1,1.2", 3}),
                         ByOffer);

TEST_F(StompClientBrokerTest, WrongPasscodeRaisesTheBrokersMessage) {
  try {
    Connected("", Broker().User, Broker().Pass + "-wrong");
    FAIL() << "connected";
  } catch (const EZQStompServerErrorMessage& error) {
    EXPECT_THAT(error.what(), HasSubstr("Access refused"));
  }
}

TEST_F(StompClientBrokerTest, HeartbeatsAreNegotiatedWithTheBroker) {
  const auto client = Connected("connect.heart-beat=1000,1000");
  EXPECT_EQ(client->GetCommAdapter()->GetOutgoingHeartbeat(), 1000);
  EXPECT_EQ(client->GetCommAdapter()->GetIncomingHeartbeat(), 1000);
  client->SendHeartbeat();
  EXPECT_TRUE(client->WaitHeartbeat(10000));
  EXPECT_NO_THROW(client->CheckHeartbeat());
  client->Disconnect();
}

TEST_F(StompClientBrokerTest, UserWithBackslashInPasscodeLogsInOnTheFirstConnect) {
  const std::string user = UniqueName("bs-user");
  const std::string passcode = "pa\\ss\\word";
  const std::string args = "adduser '" + user + "' '" + passcode + "' >/dev/null";
  ASSERT_EQ(RunBrokerScript(args), 0) << BrokerScript() << " " << args;
  const auto client = Connected("", user, passcode);
  EXPECT_TRUE(client->GetConnected());
  client->Disconnect();
}

// --- Subscribe, send, receive ---

TEST_F(StompClientBrokerTest, AutoAcknowledgedMessagesArriveInOrder) {
  const auto client = Connected();
  client->Subscribe(Queue, AckModeAuto, "s1", "", false);
  client->Send(Queue, "one", {}, false, false, -1);
  client->Send(Queue, std::string("t\0o", 3), {{"x-note", "a:b\\c"}}, false, false, -1);
  const IStompFramePtr first = client->Receive();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetBody(), "one");
  EXPECT_EQ(first->GetHeader("subscription"), "s1");
  const IStompFramePtr second = client->Receive();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetBody(), std::string("t\0o", 3));
  EXPECT_EQ(second->GetHeader("x-note"), "a:b\\c");
  client->Disconnect();
}

TEST_F(StompClientBrokerTest, ClientAcknowledgementCoversEveryEarlierMessage) {
  const auto sender = Connected();
  sender->Send(Queue, "m1", {}, false, false, -1);
  sender->Send(Queue, "m2", {}, false, false, -1);
  sender->Disconnect();

  auto client = Connected();
  client->Subscribe(Queue, AckModeClient, "s1", "", false);
  ASSERT_NE(client->Receive(), nullptr);
  const IStompFramePtr second = client->Receive();
  ASSERT_NE(second, nullptr);
  client->Ack(second->GetHeader("ack"), "s1", "");
  client->Disconnect();

  client = Connected();
  client->Subscribe(Queue, AckModeClient, "s1", "", false);
  EXPECT_EQ(client->Receive(500), nullptr);
  client->Disconnect();
}

TEST_F(StompClientBrokerTest, ClientIndividualAcknowledgementCoversOnlyThatMessage) {
  const auto sender = Connected();
  sender->Send(Queue, "m1", {}, false, false, -1);
  sender->Send(Queue, "m2", {}, false, false, -1);
  sender->Disconnect();

  auto client = Connected();
  client->Subscribe(Queue, AckModeClientIndividual, "s1", "", false);
  const IStompFramePtr first = client->Receive();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(client->Receive(), nullptr);
  client->Ack(first->GetHeader("ack"), "s1", "");
  client->Disconnect();

  client = Connected();
  client->Subscribe(Queue, AckModeClientIndividual, "s1", "", false);
  const IStompFramePtr again = client->Receive();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetBody(), "m2");
  client->Ack(again->GetHeader("ack"), "s1", "");
  client->Disconnect();
}

struct AckVersionCase {
  const char* offer;
};

class StompClientAckNackTest : public StompClientBrokerTest,
                               public ::testing::WithParamInterface<AckVersionCase> {};

TEST_P(StompClientAckNackTest, NackedMessageComesBackAndAckTakesIt) {
  const auto client = Connected(std::string("connect.accept-version=") + GetParam().offer);
  client->Subscribe(Queue, AckModeClientIndividual, "s1", "", false);
  client->Send(Queue, "m", {}, false, false, -1);
  const IStompFramePtr first = client->Receive();
  ASSERT_NE(first, nullptr);
  // STOMP 1.2 acknowledges by the "ack" header, 1.1 by "message-id" and "subscription".
  const std::string id = client->GetVersion() == 3 ? first->GetHeader("ack") : first->GetHeader("message-id");
  client->Nack(id, "s1", "");
  const IStompFramePtr again = client->Receive();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetBody(), "m");
  EXPECT_EQ(again->GetHeader("redelivered"), "true");
  const std::string againId =
      client->GetVersion() == 3 ? again->GetHeader("ack") : again->GetHeader("message-id");
  client->Ack(againId, "s1", "");
  EXPECT_EQ(client->Receive(300), nullptr);
  client->Disconnect();
}

INSTANTIATE_TEST_SUITE_P(StompClientBrokerTest, StompClientAckNackTest,
                         ::testing::Values(AckVersionCase{"1.1"}, AckVersionCase{"1.2"}), ByOffer);

// --- Transactions ---

TEST_F(StompClientBrokerTest, TransactedSendsReachOthersOnlyAfterCommit) {
  const auto receiver = Connected();
  receiver->Subscribe(Queue, AckModeAuto, "s1", "", false);
  const auto sender = Connected();
  sender->BeginTransaction("t1");
  sender->Send(Queue, "committed", {{"transaction", "t1"}}, false, false, -1);
  EXPECT_EQ(receiver->Receive(300), nullptr);
  sender->CommitTransaction("t1");
  const IStompFramePtr message = receiver->Receive();
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->GetBody(), "committed");
  sender->Disconnect();
  receiver->Disconnect();
}

TEST_F(StompClientBrokerTest, AbortedSendsNeverReachOthers) {
  const auto receiver = Connected();
  receiver->Subscribe(Queue, AckModeAuto, "s1", "", false);
  const auto sender = Connected();
  sender->BeginTransaction("t2");
  sender->Send(Queue, "aborted", {{"transaction", "t2"}}, false, false, -1);
  sender->AbortTransaction("t2");
  sender->Send(Queue, "after", {}, false, false, -1);
  const IStompFramePtr message = receiver->Receive();
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->GetBody(), "after");
  EXPECT_EQ(receiver->Receive(300), nullptr);
  sender->Disconnect();
  receiver->Disconnect();
}

// --- Receipts ---

TEST_F(StompClientBrokerTest, ReceiptsForSubscribeSendAndDisconnectArrive) {
  const auto client = Connected("subscribe.receipt=true&send.receipt=true&disconnect.receipt=true");
  EXPECT_NO_THROW(client->Subscribe(Queue, AckModeAuto, "s1", "", false));
  // The broker routes each message to this very connection before it confirms the SEND.
  for (int i = 0; i < 20; ++i) {
    EXPECT_NO_THROW(client->Send(Queue, "r" + std::to_string(i), {}, false, false, -1));
  }
  for (int i = 0; i < 20; ++i) {
    const IStompFramePtr message = client->Receive();
    ASSERT_NE(message, nullptr) << i;
    EXPECT_EQ(message->GetBody(), "r" + std::to_string(i));
  }
  EXPECT_NO_THROW(client->Disconnect());
  EXPECT_FALSE(client->GetConnected());
  EXPECT_FALSE(client->IsConnected());
}

TEST_F(StompClientBrokerTest, ForcedSendReceiptArrives) {
  const auto client = Connected();
  EXPECT_NO_THROW(client->Send(Queue, "persistent", {{"persistent", "true"}}, false, true, 5000));
  EXPECT_TRUE(client->GetReceiptReceived());
  client->Disconnect();
}

// --- Header values the broker must not alter ---

struct HeaderFidelityCase {
  const char* offer;
  std::vector<std::pair<std::string, std::string>> refused;  // header value, reason
};

class StompClientHeaderFidelityTest : public StompClientBrokerTest,
                                      public ::testing::WithParamInterface<HeaderFidelityCase> {};

// What can be written arrives unchanged; what the version cannot carry is refused before anything goes
// out, and the connection goes on.
TEST_P(StompClientHeaderFidelityTest, ValuesArriveUnchangedOrAreRefused) {
  const auto client = Connected(std::string("connect.accept-version=") + GetParam().offer);
  client->Subscribe(Queue, AckModeAuto, "s1", "", false);
  const TStompHeaders sent = {
      {"p1", "C:\\dir"}, {"p2", "a:b"}, {"p3", "a\nb"}, {"p4", "\tx"}, {"p5", "end "}};
  for (const auto& refused : GetParam().refused) {
    EXPECT_EQ(MessageOf<EIllegalArgumentException>([&] {
                client->Send(Queue, "x", {{"p", refused.first}}, false, true, -1);
              }),
              "Header \"p\" cannot be encoded: " + refused.second);
  }
  client->Send(Queue, "kept", sent, false, true, -1);
  const IStompFramePtr frame = client->Receive();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->GetBodyText(), "kept");
  for (const auto& item : sent)
    EXPECT_EQ(frame->GetHeader(item.Name), item.Value) << item.Name;
  client->Disconnect();
}

INSTANTIATE_TEST_SUITE_P(
    StompClientBrokerTest, StompClientHeaderFidelityTest,
    ::testing::Values(HeaderFidelityCase{"1.0",
                                         {{" lead", "its value begins with a space"},
                                          {"a\rb", "its value holds a carriage return"}}},
                      HeaderFidelityCase{"1.1", {{"a\rb", "its value holds a carriage return"}}},
                      HeaderFidelityCase{"1.2", {{"a\0b"s, "its value holds a NUL octet"}}}),
    ByOffer);

// The broker writes a CR that a STOMP 1.2 sender escaped as "\r" so to consumers of every version.
TEST_F(StompClientBrokerTest, ACarriageReturnSentOnStomp12ArrivesOnStomp11And10) {
  const auto sender = Connected();
  for (const char* version : {"1.1", "1.0"}) {
    SCOPED_TRACE(version);
    const auto consumer = Connected(std::string("connect.accept-version=") + version);
    consumer->Subscribe(Queue, AckModeAuto, "s1", "", false);
    sender->Send(Queue, "x", {{"p", "a\rb"}}, false, true, -1);
    const IStompFramePtr frame = consumer->Receive(10000);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->GetHeader("p"), "a\rb");
    consumer->Disconnect();
  }
  sender->Disconnect();
}

}  // namespace
}  // namespace velmor
