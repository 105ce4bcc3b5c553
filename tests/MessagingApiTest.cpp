// The messaging API without a broker: the message store, the local checks of connection, session,
// producer and consumer, and ownership when an owner is gone.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "MessageOf.h"
#include "MessagingFixture.h"
#include "ZQExceptions.h"
#include "ZQMQProducer.h"
#include "ZQMessage.h"
#include "ZQMessageStore.h"
#include "ZQTextMessage.h"

namespace velmor {
namespace {

using testing::MessageOf;

// Nothing listens here: these tests never start the connection, or expect the connect to fail.
const std::string Unreachable = "stomp://127.0.0.1:1";

TEST(MessagingApiTest, TheMessageStoreKeepsPerSubscriptionAndKnowsItsIds) {
  TZQMessageStore store;
  store.SetLimits(2, 1000);
  store.Open("a");
  EXPECT_EQ(MessageOf<EDuplicateConsumerIDException>([&] { store.Open("a"); }),
            "Duplicate Consumer ID \"a\"");
  auto first = std::make_shared<TZQTextMessage>(std::weak_ptr<TZQStompClient>{});
  first->SetText("12345");
  EXPECT_TRUE(store.Keep("a", first));
  EXPECT_FALSE(store.Keep("never", first));
  EXPECT_EQ(store.GetOctets(), 5u);
  EXPECT_NO_THROW(store.CheckRoom());
  EXPECT_TRUE(store.Keep("a", first));
  EXPECT_THROW(store.CheckRoom(), EIllegalStateException);
  EXPECT_EQ(store.Take("a"), first);
  store.Close("a");
  EXPECT_EQ(store.GetCount(), 0u);
  EXPECT_TRUE(store.Keep("a", first));  // closed: dropped, not unexpected
  EXPECT_EQ(store.Take("a"), nullptr);
  EXPECT_NO_THROW(store.Open("a"));
  // An awaited id keeps a bounded number of messages until its consumer opens it.
  store.SetLimits(5000, 1 << 20);
  store.Await("reply");
  for (std::size_t i = 0; i < TZQMessageStore::MaxAwaitedMessages; ++i)
    ASSERT_TRUE(store.Keep("reply", first));
  EXPECT_FALSE(store.Keep("reply", first));
  store.Open("reply");
  EXPECT_TRUE(store.Keep("reply", first));
}

struct RefusalCase {
  const char* Title;
  std::function<void(TZQConnection&, const ISessionPtr&)> Call;
  std::string Text;
};

class MessagingRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(MessagingRefusalTest, RaisesWithExactText) {
  const auto connection = testing::NewConnection(Unreachable);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeClient);
  EXPECT_EQ(MessageOf<EVelmorError>([&] { GetParam().Call(*connection, session); }), GetParam().Text);
}

const auto Queue = [](const ISessionPtr& S) { return S->CreateQueue("q"); };

// An object message of an application's own class, without the raw content that a message transformer
// fills: nothing would turn its object into a body.
class TOwnObjectMessage final : public TZQMessage, public IObjectMessage {
 public:
  TOwnObjectMessage() : TZQMessage(std::weak_ptr<TZQStompClient>{}) {}
  void SetObject(const IObjectPtr& /*Object*/) override {}
  IObjectPtr GetObject() const override { return nullptr; }
  TZQMessageKind GetKind() const override { return TZQMessageKind::Object; }
};

// A transformer that leaves every message as it is.
class TNoTransformer final : public IMessageTransformer {
 public:
  void TransformIncoming(const ISessionPtr& /*Session*/, const IMessageConsumerPtr& /*Consumer*/,
                         const IMessagePtr& /*Message*/, IMessagePtr& /*Replacement*/) override {}
  void TransformOutgoing(const ISessionPtr& /*Session*/, const IMessageProducerPtr& /*Producer*/,
                         const IMessagePtr& /*Message*/, IMessagePtr& /*Replacement*/) override {}
};

INSTANTIATE_TEST_SUITE_P(
    Texts, MessagingRefusalTest,
    ::testing::Values(
        RefusalCase{"SecondClientID",
                    [](auto& C, auto&) {
                      C.SetClientID("a");
                      C.SetClientID("b");
                    },
                    "The ClientID has already been set"},
        RefusalCase{"StartClosed",
                    [](auto& C, auto&) {
                      C.Close();
                      C.Start();
                    },
                    "Connection is closed."},
        RefusalCase{"SessionOnClosedConnection",
                    [](auto& C, auto&) {
                      C.Close();
                      C.CreateSession(false, AcknowledgeModeAuto);
                    },
                    "Connection is closed."},
        RefusalCase{"AcknowledgeModeOutOfRange", [](auto& C, auto&) { C.CreateSession(false, 7); },
                    "Acknowledge mode must be a value between 0 and 3"},
        RefusalCase{"TransactedModeWithoutTransactedFlag",
                    [](auto& C, auto&) { C.CreateSession(false, AcknowledgeModeTransacted); },
                    "Acknowledge mode 1 (transacted) needs a transacted session"},
        RefusalCase{"SameTransformationIDs",
                    [](auto& C, auto&) {
                      C.SetMapTransformationID("x");
                      C.SetObjectTransformationID("x");
                    },
                    "The transformation IDs for map and object messages must be different"},
        RefusalCase{"MapWithoutTransformer", [](auto&, auto& S) { S->CreateMapMessage(); },
                    "Session has no message transformer"},
        RefusalCase{"Browser", [](auto&, auto& S) { S->CreateBrowser(nullptr); }, "Feature not supported"},
        RefusalCase{"TemporaryWithClientAck", [](auto&, auto& S) { S->CreateTemporaryQueue(); },
                    "The message broker supports temporary destinations only with auto-ack"},
        RefusalCase{"CommitNotTransacted", [](auto&, auto& S) { S->Commit(); }, "Session is not transacted"},
        RefusalCase{"Selector", [](auto&, auto& S) { S->CreateConsumer(Queue(S), "a>1"); },
                    "Message selectors are not supported by RabbitMQ"},
        RefusalCase{"NoLocal", [](auto&, auto& S) { S->CreateConsumer(Queue(S), "", true); },
                    "NoLocal is not supported by RabbitMQ"},
        RefusalCase{"PriorityRange", [](auto&, auto& S) { S->CreateProducer(nullptr)->SetPriority(256); },
                    "Priority must be a value between 0 and 255"},
        RefusalCase{"SendPriorityRange",
                    [](auto&, auto& S) { S->CreateProducer(Queue(S))->Send(S->CreateMessage(), 0, 256, 0); },
                    "Range check error"},
        RefusalCase{"NoDestination",
                    [](auto&, auto& S) { S->CreateProducer(nullptr)->Send(S->CreateMessage()); },
                    "A destination must be specified."},
        RefusalCase{"NullDestination",
                    [](auto&, auto& S) { S->CreateProducer(Queue(S))->Send(nullptr, S->CreateMessage()); },
                    "Don't understand null destinations."},
        RefusalCase{"ClosedProducer",
                    [](auto&, auto& S) {
                      const auto producer = S->CreateProducer(nullptr);
                      producer->Close();
                      producer->Close();
                      producer->GetPriority();
                    },
                    "The producer is closed"},
        // Refused before the send is written: the connection is not even started.
        RefusalCase{
            "OwnObjectMessageWithoutContent",
            [](auto&, auto& S) { S->CreateProducer(Queue(S))->Send(std::make_shared<TOwnObjectMessage>()); },
            "Cannot send an object message that has no raw content: it must implement "
            "IMessageContent, which the message transformer fills from its object"},
        // The producer took no transformer: it was made before the connection's was installed.
        RefusalCase{"MapEntriesOfAProducerWithoutTransformer",
                    [](auto& C, auto& S) {
                      const auto producer = S->CreateProducer(Queue(S));
                      C.SetMessageTransformer(std::make_shared<TNoTransformer>());
                      const auto map = S->CreateMapMessage();
                      map->SetString("a", "1");
                      producer->Send(map);
                    },
                    "The producer has no message transformer to write the map message's entries: create it "
                    "after the connection's message transformer is installed"},
        RefusalCase{"TimeToLiveBeyondASignedInteger",
                    [](auto&, auto& S) {
                      const auto producer = S->CreateProducer(nullptr);
                      producer->SetTimeToLive(1000);
                      try {
                        producer->SetTimeToLive(3000000000u);
                      } catch (...) {
                        EXPECT_EQ(producer->GetTimeToLive(), 1000u);
                        throw;
                      }
                    },
                    "Range check error"},
        RefusalCase{"FluentNegativeTimeToLive",
                    [](auto&, auto& S) { TZQMQProducer::Create(S)->SetTimeToLive(-1); }, "Range check error"},
        RefusalCase{"ClosedSession",
                    [](auto&, auto& S) {
                      S->Close();
                      S->Close();
                      S->CreateTextMessage();
                    },
                    "The session is closed"}),
    [](const ::testing::TestParamInfo<RefusalCase>& Info) { return Info.param.Title; });

TEST(MessagingApiTest, ChildrenOutlivingTheirConnectionRaiseInsteadOfTouchingIt) {
  auto connection = testing::NewConnection(Unreachable);
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const ISessionPtr open = connection->CreateSession(false, AcknowledgeModeAuto);
  const auto producer = open->CreateProducer(nullptr);
  session->Close();
  EXPECT_EQ(connection->GetSessionCount(), 1u);
  connection.reset();
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { open->CreateTextMessage(); }), "The session is closed");
  EXPECT_EQ(MessageOf<EIllegalStateException>([&] { producer->GetPriority(); }), "The producer is closed");
}

}  // namespace
}  // namespace velmor
