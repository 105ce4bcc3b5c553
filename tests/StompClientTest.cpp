#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CaseName.h"
#include "FakeCommAdapter.h"
#include "RecordingClient.h"
#include "StompFrames.h"
#include "ZQExceptions.h"
#include "ZQStompClient.h"
#include "ZQStompFrame.h"
#include "ZQURI.h"

namespace velmor {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using velmor::testing::MakeFrame;
using velmor::testing::TFakeCommAdapter;
using velmor::testing::TRecordingClient;

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Names a case of the suites below by the name member of its parameter.
constexpr auto ByItsName = [](const auto& Info) { return std::string(Info.param.name); };

// A frame as written: the text and its NUL.
std::string Octets(const std::string& Text) {
  return Text + std::string(1, '\0');
}

class StompClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Adapter = std::make_shared<TFakeCommAdapter>();
    Client = std::make_shared<TRecordingClient>();
    Client->SetCommAdapter(Adapter);
  }

  void UseUrl(const std::string& Query = "", const std::string& Credentials = "u:p@") {
    Client->SetURI(
        CreateURI("stomp://" + Credentials + "127.0.0.1:61613" + (Query.empty() ? "" : "?" + Query), 61613));
  }

  // Connects with CONNECTED answered by the given headers.
  void ConnectWith(const HeaderList& Connected = {{"version", "1.2"}}, const std::string& Query = "") {
    UseUrl(Query);
    Adapter->Incoming.push_back(MakeFrame("CONNECTED", Connected));
    Client->Connect();
    Adapter->Written.clear();
  }

  // Answers every frame that asks for a receipt with its RECEIPT, after the frames in Before.
  void AnswerReceipts(std::vector<IStompFramePtr> Before = {}) {
    Adapter->OnWrite = [this, Before](const std::string& Data) {
      const auto at = Data.find("\nreceipt:");
      if (at == std::string::npos)
        return;
      const auto end = Data.find('\n', at + 1);
      for (const auto& frame : Before)
        Adapter->Incoming.push_back(frame);
      Adapter->Incoming.push_back(MakeFrame("RECEIPT", {{"receipt-id", Data.substr(at + 9, end - at - 9)}}));
    };
  }

  std::string LastWritten() const {
    return Adapter->Written.empty() ? std::string() : Adapter->Written.back();
  }

  std::shared_ptr<TFakeCommAdapter> Adapter;
  std::shared_ptr<TRecordingClient> Client;
};

// --- CONNECT ---

TEST_F(StompClientTest, ConnectCarriesLoginPasscodeAndAcceptVersionInOrder) {
  UseUrl();
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
  Client->Connect();
  ASSERT_EQ(Adapter->Written.size(), 1U);
  EXPECT_EQ(Adapter->Written[0], Octets("CONNECT\nlogin:u\npasscode:p\naccept-version:1.2\n\n"));
  EXPECT_EQ(Adapter->SendTimeouts[0], -1);
}

TEST_F(StompClientTest, ConnectWithoutLoginSendsNoCredentials) {
  UseUrl("", "");
  Client->SetClientID("c1");
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
  Client->Connect();
  EXPECT_EQ(Adapter->Written[0], Octets("CONNECT\naccept-version:1.2\nclient-id:c1\n\n"));
}

TEST_F(StompClientTest, ConnectOptionsBecomeHeadersBeforeAcceptVersion) {
  UseUrl("connect.host=vh&connect.heart-beat=0,0");
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
  Client->Connect();
  EXPECT_EQ(Adapter->Written[0],
            Octets("CONNECT\nlogin:u\npasscode:p\nhost:vh\nheart-beat:0,0\naccept-version:1.2\n\n"));
}

TEST_F(StompClientTest, ConnectAcceptVersionOptionReplacesTheDefault) {
  UseUrl("connect.accept-version=1.0,1.1");
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.1"}}));
  Client->Connect();
  EXPECT_EQ(Adapter->Written[0], Octets("CONNECT\nlogin:u\npasscode:p\naccept-version:1.0,1.1\n\n"));
  EXPECT_EQ(Adapter->GetVersion(), 2);
}

TEST_F(StompClientTest, ConnectEscapesBackslashWhenItOffersStompOneDotOneOrLater) {
  UseUrl("", "");
  Client->SetLogin("u");
  Client->SetPasscode("a\\b:c");
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
  Client->Connect();
  EXPECT_EQ(Adapter->Written[0], Octets("CONNECT\nlogin:u\npasscode:a\\\\b:c\naccept-version:1.2\n\n"));
}

TEST_F(StompClientTest, ConnectOfferingOnlyStompOneDotZeroWritesCredentialsRaw) {
  UseUrl("connect.accept-version=1.0", "");
  Client->SetLogin("u");
  Client->SetPasscode("a\\b");
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.0"}}));
  Client->Connect();
  EXPECT_EQ(Adapter->Written[0], Octets("CONNECT\nlogin:u\npasscode:a\\b\naccept-version:1.0\n\n"));
}

TEST_F(StompClientTest, ConnectedFrameGivesSessionServerAndConnectedState) {
  ConnectWith({{"version", "1.2"}, {"session", "s-1"}, {"server", "RabbitMQ/3.10"}});
  EXPECT_TRUE(Client->GetConnected());
  EXPECT_TRUE(Client->IsConnected());
  EXPECT_EQ(Client->GetSessionID(), "s-1");
  EXPECT_EQ(Client->GetServer(), "RabbitMQ/3.10");
}

struct VersionCase {
  const char* header;  // nullptr: no "version" header
  int version;
};

class ConnectedVersionTest : public StompClientTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(ConnectedVersionTest, SetsTheAdapterVersionFromTheVersionHeader) {
  HeaderList headers;
  if (GetParam().header != nullptr)
    headers.emplace_back("version", GetParam().header);
  ConnectWith(headers);
  EXPECT_EQ(Adapter->GetVersion(), GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(StompClientTest, ConnectedVersionTest,
                         ::testing::Values(VersionCase{"1.2", 3}, VersionCase{"1.1", 2},
                                           VersionCase{"1.0", 1}, VersionCase{nullptr, 1},
                                           VersionCase{"2.0", 1}),
                         [](const ::testing::TestParamInfo<VersionCase>& Info) {
                           return Info.param.header == nullptr
                                      ? std::string("NoVersionHeader")
                                      : "Version" + testing::CaseName(Info.param.header);
                         });

// --- URL option validation ---

struct ValidationCase {
  const char* name;
  const char* query;
  const char* error;  // nullptr: the connect succeeds
};

class OptionValidationTest : public StompClientTest, public ::testing::WithParamInterface<ValidationCase> {};

TEST_P(OptionValidationTest, ChecksEveryOptionAtConnect) {
  UseUrl(GetParam().query);
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
  if (GetParam().error == nullptr) {
    EXPECT_NO_THROW(Client->Connect());
    EXPECT_TRUE(Client->GetConnected());
    return;
  }
  try {
    Client->Connect();
    FAIL() << "connect succeeded";
  } catch (const EMQException& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().error);
  }
  // The refused connect leaves nothing open.
  EXPECT_FALSE(Adapter->Open);
  EXPECT_FALSE(Client->GetConnected());
}

INSTANTIATE_TEST_SUITE_P(
    StompClientTest, OptionValidationTest,
    ::testing::Values(ValidationCase{"SubscribeReceipt", "subscribe.receipt=true", nullptr},
                      ValidationCase{"SubscribeReceiptTimeout", "subscribe.receipt.timeout=200", nullptr},
                      ValidationCase{"UnsubscribeReceipt", "unsubscribe.receipt=true", nullptr},
                      ValidationCase{"UnsubscribeReceiptTimeout", "unsubscribe.receipt.timeout=1", nullptr},
                      ValidationCase{"SendReceiptOfAnyValue", "send.receipt=True", nullptr},
                      ValidationCase{"SendReceiptTimeout", "send.receipt.timeout=1", nullptr},
                      ValidationCase{"DisconnectReceipt", "disconnect.receipt=false", nullptr},
                      ValidationCase{"DisconnectReceiptTimeout", "disconnect.receipt.timeout=9", nullptr},
                      ValidationCase{"SubscribeTransformation", "subscribe.transformation=jms-map-json",
                                     nullptr},
                      ValidationCase{"MessageSubscriptionCheck", "message.subscription_check=false", nullptr},
                      ValidationCase{"AnyConnectHeader", "connect.x-any=1", nullptr},
                      ValidationCase{"UpperCaseSend", "Send.receipt=true",
                                     "Connection URL contains unknown option: Send.receipt=true"},
                      ValidationCase{"UpperCaseConnect", "CONNECT.host=vh",
                                     "Connection URL contains unknown option: CONNECT.host=vh"},
                      ValidationCase{"EmptyOptionAfterTheLastAmpersand", "send.receipt=true&",
                                     "Connection URL contains unknown option: "},
                      ValidationCase{"BlankSplitsAnOption", "connect.host=my vh",
                                     "Connection URL contains unknown option: vh"},
                      ValidationCase{"UnknownName", "foo=1", "Connection URL contains unknown option: foo=1"},
                      ValidationCase{"KnownNameWithoutValue", "subscribe.receipt",
                                     "Connection URL contains unknown option: subscribe.receipt"},
                      ValidationCase{"KnownNameWithMoreAfterIt", "subscribe.transformationX=1",
                                     "Connection URL contains unknown option: subscribe.transformationX=1"}),
    ByItsName);

TEST_F(StompClientTest, ReceiptOptionCountsOnlyForTheExactValueTrue) {
  ConnectWith({{"version", "1.2"}}, "send.receipt=True");
  EXPECT_FALSE(Client->GetSendReceipt());
  EXPECT_EQ(Client->ReceiptIDFor("SEND"), "");
}

// --- Heart-beat negotiation ---

struct HeartbeatCase {
  const char* name;
  const char* request;  // "connect.heart-beat", nullptr: none
  const char* answer;   // CONNECTED "heart-beat", nullptr: none
  int outgoing;
  int incoming;
};

class HeartbeatNegotiationTest : public StompClientTest,
                                 public ::testing::WithParamInterface<HeartbeatCase> {};

TEST_P(HeartbeatNegotiationTest, TakesTheLargerIntervalWhenBothSidesWantOne) {
  HeaderList connected = {{"version", "1.2"}};
  if (GetParam().answer != nullptr)
    connected.emplace_back("heart-beat", GetParam().answer);
  ConnectWith(connected,
              GetParam().request == nullptr ? "" : std::string("connect.heart-beat=") + GetParam().request);
  EXPECT_EQ(Adapter->GetOutgoingHeartbeat(), GetParam().outgoing);
  EXPECT_EQ(Adapter->GetIncomingHeartbeat(), GetParam().incoming);
}

INSTANTIATE_TEST_SUITE_P(
    StompClientTest, HeartbeatNegotiationTest,
    ::testing::Values(HeartbeatCase{"BothWays", "1000,2000", "3000,500", 1000, 3000},
                      HeartbeatCase{"BrokerSendsNone", "1000,2000", "0,500", 1000, 0},
                      HeartbeatCase{"BrokerWantsNone", "1000,2000", "3000,0", 0, 3000},
                      HeartbeatCase{"NoAnswerHeader", "1000,2000", nullptr, 0, 0},
                      HeartbeatCase{"NoRequest", nullptr, "5000,5000", 0, 0},
                      HeartbeatCase{"NegativeAnswerMeansOff", "1000,2000", "-1,-1", 0, 0},
                      HeartbeatCase{"NegativeRequestMeansOff", "-1000,-2000", "3000,500", 0, 0},
                      HeartbeatCase{"NotANumberMeansOff", "1000,2000", "x,y", 0, 0}),
    ByItsName);

TEST_F(StompClientTest, IncomingHeartbeatsMarkEveryFrameAsSignOfLife) {
  ConnectWith({{"version", "1.2"}, {"heart-beat", "1000,1000"}}, "connect.heart-beat=1000,1000");
  const int marks = Adapter->Marks;
  EXPECT_GE(marks, 1);
  Client->DispatchFrame(MakeFrame("RECEIPT", {{"receipt-id", "x"}}));
  EXPECT_EQ(Adapter->Marks, marks + 1);
}

TEST_F(StompClientTest, ReconnectAfterFailedConnectWithHeartbeatsStartsAfresh) {
  UseUrl("connect.heart-beat=1000,1000");
  Adapter->Incoming.push_back(MakeFrame("ERROR", {{"message", "Bad CONNECT"}}));
  EXPECT_THROW(Client->Connect(), EZQStompServerErrorMessage);
  EXPECT_EQ(Adapter->GetOutgoingHeartbeat(), 1000);
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.1"}, {"heart-beat", "0,0"}}));
  EXPECT_NO_THROW(Client->Connect());
  EXPECT_TRUE(Client->GetConnected());
  EXPECT_EQ(Adapter->GetVersion(), 2);
}

TEST_F(StompClientTest, VersionOfAnEarlierConnectionDoesNotSurviveIntoTheNext) {
  ConnectWith({{"version", "1.2"}});
  Client->Disconnect();
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {}));
  Client->Connect();
  EXPECT_EQ(Adapter->GetVersion(), 1);
}

// --- Answers to CONNECT ---

TEST_F(StompClientTest, FirstFrameOtherThanConnectedFailsTheConnectAndClosesTheSocket) {
  UseUrl();
  Adapter->Incoming.push_back(MakeFrame("RECEIPT", {{"receipt-id", "x"}}));
  try {
    Client->Connect();
    FAIL() << "connect succeeded";
  } catch (const EZQStompError& error) {
    EXPECT_STREQ(error.what(), "Expected a CONNECTED frame, received RECEIPT");
  }
  EXPECT_FALSE(Adapter->Open);
  EXPECT_FALSE(Adapter->IsConnected());
  EXPECT_FALSE(Client->GetConnected());
}

TEST_F(StompClientTest, ErrorAnswerToConnectRaisesTheBrokersMessage) {
  UseUrl();
  Adapter->Incoming.push_back(MakeFrame("ERROR", {{"message", "Access refused"}}, "Login failed"));
  try {
    Client->Connect();
    FAIL() << "connect succeeded";
  } catch (const EZQStompServerErrorMessage& error) {
    EXPECT_STREQ(error.what(), "Access refused Login failed");
  }
  EXPECT_FALSE(Adapter->Open);
  EXPECT_FALSE(Client->GetConnected());
}

struct ErrorTextCase {
  const char* name;
  HeaderList headers;
  const char* body;
  const char* text;
};

class ServerErrorTextTest : public StompClientTest, public ::testing::WithParamInterface<ErrorTextCase> {};

TEST_P(ServerErrorTextTest, JoinsMessageBodyAndReceipt) {
  ConnectWith();
  try {
    Client->DispatchFrame(MakeFrame("ERROR", GetParam().headers, GetParam().body));
    FAIL() << "no error raised";
  } catch (const EZQStompServerErrorMessage& error) {
    EXPECT_STREQ(error.what(), GetParam().text);
  }
  EXPECT_FALSE(Adapter->IsConnected());
}

INSTANTIATE_TEST_SUITE_P(
    StompClientTest, ServerErrorTextTest,
    ::testing::Values(
        ErrorTextCase{"MessageAndReceipt", {{"message", "m"}, {"receipt", "r"}}, "", "m receipt:r"},
        ErrorTextCase{"MessageAndBody", {{"message", "m"}}, "b", "m b"},
        ErrorTextCase{"MessageBodyAndReceipt", {{"message", "m"}, {"receipt", "r"}}, "b", "m b receipt:r"},
        ErrorTextCase{"NoneOfThem", {}, "", ""}),
    ByItsName);

// --- Sending and receipts ---

TEST_F(StompClientTest, FrameOtherThanConnectNeedsTheConnectedState) {
  UseUrl();
  try {
    Client->SendFrame(MakeFrame("SEND"), -1);
    FAIL() << "sent";
  } catch (const EZQStompClientNotConnectedError& error) {
    EXPECT_STREQ(error.what(), "Not connected! Command: SEND");
  }
}

TEST_F(StompClientTest, ReceiptIdsDifferInTheirNumber) {
  const std::string first = Client->NewReceiptID();
  const std::string second = Client->NewReceiptID();
  EXPECT_THAT(first, StartsWith("id.0."));
  EXPECT_THAT(second, StartsWith("id.1."));
}

TEST_F(StompClientTest, SubscribeWithReceiptWaitsForTheReceipt) {
  ConnectWith({{"version", "1.2"}}, "subscribe.receipt=true");
  AnswerReceipts();
  Client->Subscribe("/queue/a", AckModeAuto, "s1", "", false);
  EXPECT_THAT(LastWritten(), HasSubstr("\nreceipt:subscribe.receipt.id.0."));
  EXPECT_TRUE(Client->GetReceiptReceived());
  EXPECT_TRUE(Adapter->Incoming.empty());
}

TEST_F(StompClientTest, MessagesArrivingBeforeTheReceiptAreKeptForTheNextReceive) {
  ConnectWith({{"version", "1.2"}}, "send.receipt=true");
  AnswerReceipts({MakeFrame("MESSAGE", {{"message-id", "m1"}}, "one"),
                  MakeFrame("MESSAGE", {{"message-id", "m2"}}, "two")});
  EXPECT_NO_THROW(Client->Send("/queue/a", "one", {}, true, false, -1));
  EXPECT_TRUE(Client->Messages.empty());
  EXPECT_EQ(Client->PendingMessageFrameCount(), 2U);
  ASSERT_TRUE(Client->DispatchPendingMessageFrame());
  ASSERT_TRUE(Client->DispatchPendingMessageFrame());
  EXPECT_FALSE(Client->DispatchPendingMessageFrame());
  ASSERT_EQ(Client->Messages.size(), 2U);
  EXPECT_EQ(Client->Messages[0]->GetHeader("message-id"), "m1");
  EXPECT_EQ(Client->Messages[1]->GetHeader("message-id"), "m2");
}

TEST_F(StompClientTest, LateReceiptOfAnEarlierWaitDoesNotBreakTheNextOne) {
  ConnectWith({{"version", "1.2"}}, "send.receipt=true");
  AnswerReceipts({MakeFrame("RECEIPT", {{"receipt-id", "send.receipt.id.old"}})});
  EXPECT_NO_THROW(Client->Send("/queue/a", "x", {}, true, false, -1));
  EXPECT_TRUE(Adapter->Incoming.empty());
}

TEST_F(StompClientTest, NoFrameWithinTheReceiptTimeoutClosesTheConnection) {
  ConnectWith({{"version", "1.2"}}, "subscribe.receipt=true&subscribe.receipt.timeout=30");
  try {
    Client->Subscribe("/queue/a", AckModeAuto, "s1", "", false);
    FAIL() << "no error";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "ReadOneMessage: received no data.");
  }
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(StompClientTest, OtherFramesWithoutTheReceiptFailAfterTheConfiguredTimeoutAndKeepTheConnection) {
  ConnectWith({{"version", "1.2"}}, "subscribe.receipt=true&subscribe.receipt.timeout=30");
  Adapter->OnWrite = [this](const std::string&) {
    Adapter->Incoming.push_back(MakeFrame("MESSAGE", {{"message-id", "m1"}}, "one"));
  };
  try {
    Client->Subscribe("/queue/a", AckModeAuto, "s1", "", false);
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_THAT(error.what(),
                StartsWith("No RECEIPT received. Timeout: 30 msec Expected: subscribe.receipt.id.0."));
  }
  EXPECT_TRUE(Client->GetConnected());
  EXPECT_TRUE(Adapter->IsConnected());
  EXPECT_EQ(Client->PendingMessageFrameCount(), 1U);
}

TEST_F(StompClientTest, OnlyOtherReceiptsWithinTheTimeoutIsAWrongReceipt) {
  ConnectWith({{"version", "1.2"}}, "unsubscribe.receipt=true&unsubscribe.receipt.timeout=30");
  Adapter->OnWrite = [this](const std::string&) {
    Adapter->Incoming.push_back(MakeFrame("RECEIPT", {{"receipt-id", "other"}}));
  };
  try {
    Client->Unsubscribe("s1");
    FAIL() << "no error";
  } catch (const EZQStompError& error) {
    EXPECT_THAT(error.what(), StartsWith("Wrong RECEIPT received - expected unsubscribe.receipt.id.0."));
    EXPECT_THAT(error.what(), HasSubstr(", received other"));
  }
}

TEST_F(StompClientTest, ErrorDuringAReceiptWaitEndsTheWaitAtOnce) {
  ConnectWith({{"version", "1.2"}}, "subscribe.receipt=true");
  Adapter->OnWrite = [this](const std::string&) {
    Adapter->Incoming.push_back(MakeFrame("ERROR", {{"message", "stop"}}));
  };
  EXPECT_THROW(Client->Subscribe("/queue/a", AckModeAuto, "s1", "", false), EZQStompServerErrorMessage);
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(StompClientTest, UnexpectedReceiptOnlySetsTheFlagUntilTheNextFrame) {
  ConnectWith();
  Client->DispatchFrame(MakeFrame("RECEIPT", {{"receipt-id", "r"}}));
  EXPECT_TRUE(Client->GetReceiptReceived());
  EXPECT_EQ(Client->GetReceivedReceiptID(), "r");
  Client->DispatchFrame(MakeFrame("MESSAGE", {{"message-id", "m"}}));
  EXPECT_FALSE(Client->GetReceiptReceived());
  EXPECT_EQ(Client->Messages.size(), 1U);
}

// --- Disconnect ---

TEST_F(StompClientTest, DisconnectWhenNotConnectedDoesNothing) {
  UseUrl();
  Client->Disconnect();
  EXPECT_TRUE(Adapter->Written.empty());
  EXPECT_EQ(Adapter->Disconnects, 0);
}

TEST_F(StompClientTest, DisconnectSendsDisconnectWithClientIdAndCloses) {
  Client->SetClientID("c1");
  ConnectWith({{"version", "1.2"}, {"session", "s"}});
  Client->Disconnect();
  EXPECT_EQ(LastWritten(), Octets("DISCONNECT\nclient-id:c1\n\n"));
  EXPECT_FALSE(Client->GetConnected());
  EXPECT_EQ(Client->GetSessionID(), "");
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(StompClientTest, FailedDisconnectStillClosesTheConnectionAndReportsTheError) {
  ConnectWith({{"version", "1.2"}, {"session", "s"}},
              "disconnect.receipt=true&disconnect.receipt.timeout=20");
  EXPECT_THROW(Client->Disconnect(), EMQException);
  EXPECT_FALSE(Client->GetConnected());
  EXPECT_EQ(Client->GetSessionID(), "");
  EXPECT_FALSE(Adapter->Open);
  EXPECT_FALSE(Adapter->IsConnected());
}

TEST_F(StompClientTest, DisconnectFrameWithoutReceiptKeepsTheConnectedState) {
  ConnectWith({{"version", "1.2"}}, "disconnect.receipt=true&disconnect.receipt.timeout=20");
  EXPECT_THROW(Client->SendDisconnectFrame(), EMQException);
  EXPECT_TRUE(Client->GetConnected());
}

// --- Adapter ---

TEST_F(StompClientTest, ReplacingAnActiveAdapterIsRefused) {
  ConnectWith();
  try {
    Client->SetCommAdapter(std::make_shared<TFakeCommAdapter>());
    FAIL() << "replaced";
  } catch (const EMQException& error) {
    EXPECT_STREQ(error.what(), "Changing the CommAdapter is not supported when the connection is active");
  }
  EXPECT_EQ(Client->GetCommAdapter(), Adapter);
  EXPECT_NO_THROW(Client->SetCommAdapter(nullptr));
  EXPECT_EQ(Client->GetCommAdapter(), nullptr);
}

TEST(StompClientWithoutAdapterTest, RaisesAClearErrorInsteadOfCrashing) {
  const auto client = std::make_shared<TRecordingClient>();
  EXPECT_THROW(client->Connect(), EIllegalStateException);
  EXPECT_FALSE(client->IsConnected());
  EXPECT_EQ(client->GetParam("x"), "");
}

TEST_F(StompClientTest, UrlCredentialsReplaceOnlyWhenGiven) {
  Client->SetLogin("factory");
  Client->SetPasscode("secret");
  UseUrl("", "");
  EXPECT_EQ(Client->GetLogin(), "factory");
  UseUrl("", "url:pw@");
  EXPECT_EQ(Client->GetLogin(), "url");
  EXPECT_EQ(Client->GetPasscode(), "pw");
}

TEST_F(StompClientTest, FailoverUrlGoesThroughTheFailoverLoopToAPlainConnect) {
  Client->SetURI(CreateURI("failover:(stomp://127.0.0.1:61613)?maxReconnectAttempts=0", 61613));
  Adapter->Incoming.push_back(MakeFrame("CONNECTED", {{"version", "1.2"}}));
  Client->Connect();
  EXPECT_TRUE(Client->GetConnected());
  EXPECT_EQ(Adapter->Connects, 1);
}

TEST_F(StompClientTest, FailoverUrlWithoutFailoverSupportIsRefused) {
  Client->SetFailoverSupport(nullptr);
  Client->SetURI(CreateURI("failover:(stomp://127.0.0.1:1)", 61613));
  EXPECT_THROW(Client->Connect(), EUnsupportedOperationException);
  EXPECT_TRUE(Adapter->Written.empty());
}

// --- Commands, byte for byte ---

TEST_F(StompClientTest, SubscribeCarriesDestinationOptionsInWrittenOrder) {
  ConnectWith();
  Client->Subscribe("/queue/a?a=10&b=1", AckModeClient, "s1", "", false);
  EXPECT_EQ(LastWritten(), Octets("SUBSCRIBE\ndestination:/queue/a\nack:client\nid:s1\na:10\nb:1\n\n"));
}

TEST_F(StompClientTest, SubscribeCarriesSelectorNoLocalAndTransformation) {
  ConnectWith({{"version", "1.2"}}, "subscribe.transformation=t1");
  Client->Subscribe("/topic/x?p=1", AckModeClientIndividual, "s2", "a > 1", true);
  EXPECT_EQ(LastWritten(),
            Octets("SUBSCRIBE\ndestination:/topic/x\nack:client-individual\nid:s2\nselector:a > 1\n"
                   "no-local:true\np:1\ntransformation:t1\n\n"));
  Client->Subscribe("/topic/y", AckModeAuto, "", " ", false);
  EXPECT_EQ(LastWritten(), Octets("SUBSCRIBE\ndestination:/topic/y\nack:auto\ntransformation:t1\n\n"));
}

TEST_F(StompClientTest, SubscribeRefusesADestinationOptionWithoutValue) {
  ConnectWith();
  try {
    Client->Subscribe("/queue/a?flag", AckModeAuto, "s1", "", false);
    FAIL() << "subscribed";
  } catch (const EIllegalArgumentException& error) {
    EXPECT_STREQ(error.what(), "Header name must not be empty");
  }
  EXPECT_TRUE(Adapter->Written.empty());
}

TEST(StompClientAckModeTest, NamesEveryMode) {
  EXPECT_EQ(TZQStompClient::AckModeName(0), "auto");
  EXPECT_EQ(TZQStompClient::AckModeName(1), "client");
  EXPECT_EQ(TZQStompClient::AckModeName(2), "client-individual");
  EXPECT_EQ(TZQStompClient::AckModeName(3), "client");
}

TEST_F(StompClientTest, SendCountsContentLengthInOctetsAndPutsHeadersAfterIt) {
  ConnectWith();
  Client->Send("/queue/a", "\xC3\xA9", {{"persistent", "false"}, {"x", "y"}}, false, false, 3000);
  EXPECT_EQ(LastWritten(),
            Octets("SEND\ndestination:/queue/a\ncontent-length:2\npersistent:false\nx:y\n\n\xC3\xA9"));
  EXPECT_EQ(Adapter->SendTimeouts.back(), 3000);
}

TEST_F(StompClientTest, SendCanOmitContentLengthAndKeepsABodyWithNul) {
  ConnectWith();
  const std::string body("a\0b", 3);
  Client->Send("/queue/a", body, {}, true, false, -1);
  EXPECT_EQ(LastWritten(), Octets("SEND\ndestination:/queue/a\n\n" + body));
}

TEST_F(StompClientTest, SendHeaderNamedDestinationGoesFirst) {
  ConnectWith();
  Client->Send("/queue/a", "", {{"destination", "/queue/b"}}, true, false, -1);
  EXPECT_EQ(LastWritten(), Octets("SEND\ndestination:/queue/b\ndestination:/queue/a\n\n"));
}

TEST_F(StompClientTest, SendWithoutReceiptPassesACallersReceiptHeaderAndReadsNothing) {
  ConnectWith();
  Adapter->Incoming.push_back(MakeFrame("MESSAGE", {{"message-id", "m"}}));
  Client->Send("/queue/a", "", {{"receipt", "mine"}}, true, false, -1);
  EXPECT_EQ(LastWritten(), Octets("SEND\ndestination:/queue/a\nreceipt:mine\n\n"));
  EXPECT_EQ(Adapter->Incoming.size(), 1U);
}

TEST_F(StompClientTest, ForcedReceiptRefusesACallersReceiptHeader) {
  ConnectWith();
  try {
    Client->Send("/queue/a", "", {{"receipt", "x"}}, true, true, -1);
    FAIL() << "sent";
  } catch (const EZQStompError& error) {
    EXPECT_THAT(error.what(),
                StartsWith("Changing STOMP header \"receipt\" from \"x\" to \"send.receipt.id.0."));
    EXPECT_THAT(error.what(), ::testing::EndsWith("\" is not supported"));
  }
  EXPECT_TRUE(Adapter->Written.empty());
}

TEST_F(StompClientTest, ForcedReceiptIsAwaited) {
  ConnectWith();
  AnswerReceipts();
  Client->Send("/queue/a", "x", {}, false, true, -1);
  EXPECT_THAT(LastWritten(),
              StartsWith("SEND\ndestination:/queue/a\ncontent-length:1\nreceipt:send.receipt.id.0."));
  EXPECT_TRUE(Client->GetReceiptReceived());
}

struct AckCase {
  const char* name;
  const char* version;
  const char* transaction;
  const char* octets;
};

class AckFormTest : public StompClientTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(AckFormTest, FollowsTheNegotiatedVersion) {
  ConnectWith({{"version", GetParam().version}});
  Client->Ack("m1", "s1", GetParam().transaction);
  EXPECT_EQ(LastWritten(), Octets(GetParam().octets));
}

INSTANTIATE_TEST_SUITE_P(
    StompClientTest, AckFormTest,
    ::testing::Values(AckCase{"StompOneDotZero", "1.0", "", "ACK\nmessage-id:m1\n\n"},
                      AckCase{"StompOneDotOne", "1.1", "", "ACK\nmessage-id:m1\nsubscription:s1\n\n"},
                      AckCase{"StompOneDotTwo", "1.2", "", "ACK\nid:m1\n\n"},
                      AckCase{"WithTransaction", "1.2", "t1", "ACK\nid:m1\ntransaction:t1\n\n"},
                      AckCase{"BlankTransactionLeftOut", "1.1", "  ",
                              "ACK\nmessage-id:m1\nsubscription:s1\n\n"}),
    ByItsName);

TEST_F(StompClientTest, AckRefusesAnEmptyMessageIdAndOnStompOneDotOneAnEmptySubscription) {
  ConnectWith({{"version", "1.1"}});
  try {
    Client->Ack("", "s1", "");
    FAIL() << "sent";
  } catch (const EAssertionFailed& error) {
    EXPECT_THAT(error.what(), StartsWith("MessageID header must not be empty (ZQStompClient, line "));
  }
  try {
    Client->Ack("m1", "", "");
    FAIL() << "sent";
  } catch (const EAssertionFailed& error) {
    EXPECT_THAT(error.what(), StartsWith("Assertion failure (ZQStompClient, line "));
  }
  EXPECT_TRUE(Adapter->Written.empty());
}

TEST_F(StompClientTest, NackFollowsTheNegotiatedVersion) {
  ConnectWith({{"version", "1.1"}});
  Client->Nack("m1", "", "t1", {"requeue=false"});
  EXPECT_EQ(LastWritten(), Octets("NACK\nmessage-id:m1\nsubscription:\nrequeue:false\ntransaction:t1\n\n"));
  Client->Disconnect();
  ConnectWith({{"version", "1.2"}});
  Client->Nack("m2", "s1", "", {});
  EXPECT_EQ(LastWritten(), Octets("NACK\nid:m2\n\n"));
}

TEST_F(StompClientTest, NackAndHeartbeatCheckNeedStompOneDotOne) {
  ConnectWith({{"version", "1.0"}, {"heart-beat", "1000,1000"}}, "connect.heart-beat=1000,1000");
  for (const auto& call : std::vector<std::function<void()>>{[this] { Client->Nack("m1", "s1", ""); },
                                                             [this] { Client->CheckHeartbeat(); }}) {
    try {
      call();
      FAIL() << "not refused";
    } catch (const EZQStompError& error) {
      EXPECT_STREQ(error.what(), "STOMP 1.1 support is required for this operation.");
    }
  }
  EXPECT_NO_THROW(Client->SendHeartbeat());
  EXPECT_EQ(LastWritten(), "\n");
}

TEST_F(StompClientTest, NackRefusesAnEmptyMessageId) {
  ConnectWith({{"version", "1.2"}});
  try {
    Client->Nack("", "s1", "");
    FAIL() << "sent";
  } catch (const EAssertionFailed& error) {
    EXPECT_THAT(error.what(), StartsWith("NACK header must not be empty (ZQStompClient, line "));
  }
}

TEST_F(StompClientTest, TransactionFramesCarryTheIdUntrimmed) {
  ConnectWith();
  Client->BeginTransaction(" t1 ");
  EXPECT_EQ(LastWritten(), Octets("BEGIN\ntransaction: t1 \n\n"));
  Client->CommitTransaction("t1");
  EXPECT_EQ(LastWritten(), Octets("COMMIT\ntransaction:t1\n\n"));
  Client->AbortTransaction("t2");
  EXPECT_EQ(LastWritten(), Octets("ABORT\ntransaction:t2\n\n"));
}

TEST_F(StompClientTest, TransactionFramesRefuseABlankId) {
  ConnectWith();
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"BEGIN", [this] { Client->BeginTransaction("  "); }},
      {"COMMIT", [this] { Client->CommitTransaction(""); }},
      {"ABORT", [this] { Client->AbortTransaction("\t"); }}};
  for (const auto& [command, call] : calls) {
    try {
      call();
      FAIL() << command << " sent";
    } catch (const EZQStompInvalidTransactionIdError& error) {
      EXPECT_EQ(std::string(error.what()),
                std::string("Empty \"transaction\" header in ") + command + " frame");
    }
  }
  EXPECT_TRUE(Adapter->Written.empty());
}

TEST_F(StompClientTest, UnsubscribeSendsTheIdEvenWhenEmpty) {
  ConnectWith();
  Client->Unsubscribe("");
  EXPECT_EQ(LastWritten(), Octets("UNSUBSCRIBE\nid:\n\n"));
}

TEST_F(StompClientTest, HeartbeatCallsNeedNegotiatedIntervals) {
  ConnectWith({{"version", "1.2"}});
  try {
    Client->SendHeartbeat();
    FAIL() << "sent";
  } catch (const EZQStompError& error) {
    EXPECT_STREQ(error.what(), "Server does not expect heartbeats.");
  }
  try {
    Client->CheckHeartbeat();
    FAIL() << "checked";
  } catch (const EZQStompError& error) {
    EXPECT_STREQ(error.what(), "Server does not send heartbeats.");
  }
}

}  // namespace
}  // namespace velmor
