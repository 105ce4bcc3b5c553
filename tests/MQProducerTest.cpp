// The fluent producer of a context: what it stamps on the messages it sends, and how its completion
// listener learns the outcome of each send.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "MessageOf.h"
#include "MessagingMocks.h"
#include "ZQExceptions.h"
#include "ZQMQProducer.h"
#include "ZQQueue.h"
#include "ZQTextMessage.h"

namespace velmor {
namespace {

using ::testing::_;
using ::testing::Eq;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::StrictMock;
using ::testing::Throw;

std::shared_ptr<TZQTextMessage> NewText(const std::string& Text) {
  auto message = std::make_shared<TZQTextMessage>(std::weak_ptr<TZQStompClient>{});
  message->SetText(Text);
  return message;
}

class MQProducerTest : public ::testing::Test {
 protected:
  MQProducerTest() {
    ON_CALL(*FSession, CreateProducer(Eq(nullptr))).WillByDefault(Return(FSender));
    ON_CALL(*FSession, CreateTextMessage(::testing::A<const std::string&>()))
        .WillByDefault(Invoke([](const std::string& Text) { return NewText(Text); }));
    FProducer = TZQMQProducer::Create(FSession);
  }

  std::shared_ptr<NiceMock<testing::MockSession>> FSession =
      std::make_shared<NiceMock<testing::MockSession>>();
  std::shared_ptr<NiceMock<testing::MockMessageProducer>> FSender =
      std::make_shared<NiceMock<testing::MockMessageProducer>>();
  IMQProducerPtr FProducer;
  IQueuePtr FQueue = TZQQueue::Create("orders");
};

TEST_F(MQProducerTest, StampsItsPropertiesAsTextsAndItsFieldsOnEveryMessage) {
  const IQueuePtr replies = TZQQueue::Create("replies");
  FProducer->SetBooleanProperty("flag", true);
  FProducer->SetIntProperty("count", 5);
  FProducer->SetCorrelationID("c-1");
  FProducer->SetType("order");
  FProducer->SetReplyTo(replies);
  IMessagePtr sent;
  EXPECT_CALL(*FSender, Send(Eq(FQueue), _)).Times(2).WillRepeatedly(SaveArg<1>(&sent));

  EXPECT_EQ(FProducer->Send(FQueue, "one")->Send(FQueue, "two"), FProducer);

  const auto text = std::dynamic_pointer_cast<ITextMessage>(sent);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetText(), "two");
  EXPECT_EQ(text->GetPropertyNames(), (PMStrings{"flag", "count"}));
  EXPECT_EQ(text->GetStringProperty("flag"), "true");
  EXPECT_EQ(text->GetStringProperty("count"), "5");
  EXPECT_EQ(text->GetCorrelationID(), "c-1");
  EXPECT_EQ(text->GetType(), "order");
  EXPECT_EQ(text->GetReplyTo(), replies);
}

TEST_F(MQProducerTest, EmptyDefaultsLeaveTheMessagesOwnFields) {
  FProducer->SetCorrelationID("c-1");
  FProducer->SetCorrelationID("");
  const auto message = NewText("x");
  message->SetCorrelationID("own");
  message->SetType("mine");

  FProducer->Send(FQueue, IMessagePtr(message));

  EXPECT_EQ(message->GetCorrelationID(), "own");
  EXPECT_EQ(message->GetType(), "mine");
  EXPECT_EQ(message->GetReplyTo(), nullptr);
}

TEST_F(MQProducerTest, CompletionListenerHearsOfTheCallersMessage) {
  const auto listener = std::make_shared<StrictMock<testing::MockCompletionListener>>();
  const IMessagePtr message = NewText("x");
  EXPECT_CALL(*listener, OnCompletion(Eq(message)));

  FProducer->Send(FQueue, message, listener);
}

// Where a send fails: in the message producer, or in the listener's own OnCompletion. Either way the
// listener's OnException gets the message and the error, and the caller gets the error.
struct FailureCase {
  const char* Name;
  bool SendFails;
};

void PrintTo(const FailureCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class MQProducerFailureTest : public MQProducerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(MQProducerFailureTest, ListenerHearsOfTheErrorWhichIsRaisedAgain) {
  const auto listener = std::make_shared<StrictMock<testing::MockCompletionListener>>();
  const IMessagePtr message = NewText("x");
  std::string heard;
  if (GetParam().SendFails) {
    EXPECT_CALL(*FSender, Send(Eq(FQueue), Eq(message))).WillOnce(Throw(EMQException("broker said no")));
  } else {
    EXPECT_CALL(*listener, OnCompletion(Eq(message))).WillOnce(Throw(std::runtime_error("broker said no")));
  }
  EXPECT_CALL(*listener, OnException(Eq(message), _))
      .WillOnce(Invoke([&heard](const IMessagePtr&, const std::exception& Error) { heard = Error.what(); }));

  EXPECT_EQ(testing::MessageOf<std::exception>([&] { FProducer->Send(FQueue, message, listener); }),
            "broker said no");
  EXPECT_EQ(heard, "broker said no");
}

INSTANTIATE_TEST_SUITE_P(Paths, MQProducerFailureTest,
                         ::testing::Values(FailureCase{"MessageProducerSend", true},
                                           FailureCase{"OnCompletion", false}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(MQProducerTest, NilListenerActsAsTheNullListener) {
  EXPECT_CALL(*FSender, Send(Eq(FQueue), _));
  EXPECT_CALL(*FSender, Send(Eq(nullptr), _))
      .WillOnce(Throw(EUnsupportedOperationException("A destination must be specified.")));

  EXPECT_NO_THROW(FProducer->Send(FQueue, "x", nullptr));
  EXPECT_EQ(
      testing::MessageOf<EUnsupportedOperationException>([&] { FProducer->Send(nullptr, "x", nullptr); }),
      "A destination must be specified.");
}

TEST_F(MQProducerTest, NilMessageIsRefusedBeforeAnythingIsSent) {
  EXPECT_CALL(*FSender, Send(_, _)).Times(0);

  EXPECT_EQ(testing::MessageOf<EIllegalArgumentException>([&] { FProducer->Send(FQueue, IMessagePtr()); }),
            "Message must not be nil");
}

}  // namespace
}  // namespace velmor
