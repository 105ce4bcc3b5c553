// The simplified context over a connection: the session it opens, which operations start the
// connection, and the connection interfaces it passes on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "MessageOf.h"
#include "MessagingMocks.h"
#include "ZQExceptions.h"
#include "ZQMQContext.h"
#include "ZQTopic.h"

namespace velmor {
namespace {

using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

class MQContextTest : public ::testing::Test {
 protected:
  MQContextTest() {
    ON_CALL(*FConnection, CreateSession(::testing::A<uint8_t>())).WillByDefault(Return(FSession));
    ON_CALL(*FSession, CreateProducer(_))
        .WillByDefault(Return(std::make_shared<testing::MockMessageProducer>()));
    ON_CALL(*FSession, CreateConsumer(_))
        .WillByDefault(Return(std::make_shared<testing::MockMessageConsumer>()));
  }

  std::shared_ptr<NiceMock<testing::MockConnection>> FConnection =
      std::make_shared<NiceMock<testing::MockConnection>>();
  std::shared_ptr<NiceMock<testing::MockSession>> FSession =
      std::make_shared<NiceMock<testing::MockSession>>();
};

TEST_F(MQContextTest, OpensAnAutoAcknowledgedSessionUnlessAModeIsGiven) {
  EXPECT_CALL(*FConnection, CreateSession(AcknowledgeModeAuto));
  EXPECT_CALL(*FConnection, CreateSession(AcknowledgeModeTransacted));
  EXPECT_CALL(*FConnection, Start()).Times(0);

  TZQMQContext::Create(FConnection);
  TZQMQContext::Create(FConnection, AcknowledgeModeTransacted);
}

struct StartCase {
  const char* Name;
  std::function<void(IMQContext&)> Call;
  int Starts;
};

void PrintTo(const StartCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class MQContextStartTest : public MQContextTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(MQContextStartTest, StartsTheConnectionEveryTimeOnlyForConsumersProducersAndStart) {
  const IMQContextPtr context = TZQMQContext::Create(FConnection);
  EXPECT_CALL(*FConnection, Start()).Times(2 * GetParam().Starts);

  GetParam().Call(*context);
  GetParam().Call(*context);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, MQContextStartTest,
    ::testing::Values(StartCase{"CreateProducer", [](IMQContext& C) { C.CreateProducer(); }, 1},
                      StartCase{"CreateConsumer", [](IMQContext& C) { C.CreateConsumer(nullptr); }, 1},
                      StartCase{"Start", [](IMQContext& C) { C.Start(); }, 1},
                      StartCase{"CreateDurableConsumer",
                                [](IMQContext& C) { C.CreateDurableConsumer(TZQTopic::Create("t"), "d"); },
                                0},
                      StartCase{"CreateQueue", [](IMQContext& C) { C.CreateQueue("q"); }, 0},
                      StartCase{"Commit", [](IMQContext& C) { C.Commit(); }, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(MQContextTest, PassesOnTheConnectionsInformationAndRefusesWhatTheConnectionLacks) {
  EXPECT_CALL(*FConnection, GetServer()).WillOnce(Return("RabbitMQ/3.12"));
  const IMQContextPtr context = TZQMQContext::Create(FConnection);

  EXPECT_EQ(std::dynamic_pointer_cast<IConnectionInfo>(context)->GetServer(), "RabbitMQ/3.12");
  EXPECT_EQ(testing::MessageOf<EUnsupportedOperationException>(
                [&] { std::dynamic_pointer_cast<IHeartbeatControl>(context)->SendHeartbeat(); }),
            "The connection does not support this operation");
}

}  // namespace
}  // namespace velmor
