// The fluent producer of a context: what it stamps on the messages it sends, and how its completion
// listener learns the outcome of each send.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
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
    FProducer = TZQMQProducer::Create(FSession);
  }

  std::shared_ptr<NiceMock<testing::MockSession>> FSession =
      std::make_shared<NiceMock<testing::MockSession>>();
  std::shared_ptr<NiceMock<testing::MockMessageProducer>> FSender =
      std::make_shared<NiceMock<testing::MockMessageProducer>>();
  std::shared_ptr<StrictMock<testing::MockCompletionListener>> FListener =
      std::make_shared<StrictMock<testing::MockCompletionListener>>();
  IMQProducerPtr FProducer;
  IQueuePtr FQueue = TZQQueue::Create("orders");
};

TEST_F(MQProducerTest, StampsItsDefaultsOnTheCallersMessageAndReportsCompletion) {
  const IQueuePtr replies = TZQQueue::Create("replies");
  FProducer->SetBooleanProperty("flag", true);
  FProducer->SetIntProperty("count", 5);
  FProducer->SetType("order");
  FProducer->SetReplyTo(replies);
  FProducer->SetCorrelationID("c-1");
  FProducer->SetCorrelationID("");
  const auto message = NewText("x");
  message->SetCorrelationID("own");
  EXPECT_CALL(*FSender, Send(Eq(FQueue), Eq(IMessagePtr(message)))).Times(2);
  EXPECT_CALL(*FListener, OnCompletion(Eq(IMessagePtr(message))));

  EXPECT_EQ(FProducer->Send(FQueue, IMessagePtr(message), FListener)->Send(FQueue, IMessagePtr(message)),
            FProducer);

  EXPECT_EQ(message->GetPropertyNames(), (PMStrings{"flag", "count"}));
  EXPECT_EQ(message->GetStringProperty("flag"), "true");
  EXPECT_EQ(message->GetStringProperty("count"), "5");
  EXPECT_EQ(message->GetCorrelationID(), "own");
  EXPECT_EQ(message->GetType(), "order");
  EXPECT_EQ(message->GetReplyTo(), replies);
}

// Where a send fails: in the message producer, or in the listener's own OnCompletion. Either way the
// listener's OnException gets the message and the error, and the caller gets the error; a nil listener
// acts as the null listener.
struct FailureCase {
  const char* Name;
  bool SendFails;
  bool NilListener;
};

class MQProducerFailureTest : public MQProducerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(MQProducerFailureTest, ListenerHearsOfTheErrorWhichIsRaisedAgain) {
  const IMessagePtr message = NewText("x");
  std::string heard = "<nothing heard>";
  if (GetParam().SendFails) {
    EXPECT_CALL(*FSender, Send(Eq(FQueue), Eq(message))).WillOnce(Throw(EMQException("broker said no")));
  } else {
    EXPECT_CALL(*FListener, OnCompletion(Eq(message))).WillOnce(Throw(std::runtime_error("broker said no")));
  }
  if (!GetParam().NilListener) {
    EXPECT_CALL(*FListener, OnException(Eq(message), _))
        .WillOnce(
            Invoke([&heard](const IMessagePtr&, const std::exception& Error) { heard = Error.what(); }));
  }
  const ICompletionListenerPtr listener = GetParam().NilListener ? nullptr : FListener;

  EXPECT_EQ(testing::MessageOf<std::exception>([&] { FProducer->Send(FQueue, message, listener); }),
            "broker said no");
  EXPECT_EQ(heard, GetParam().NilListener ? "<nothing heard>" : "broker said no");
}

INSTANTIATE_TEST_SUITE_P(Paths, MQProducerFailureTest,
                         ::testing::Values(FailureCase{"MessageProducerSend", true, false},
                                           FailureCase{"OnCompletion", false, false},
                                           FailureCase{"NilListener", true, true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace velmor
