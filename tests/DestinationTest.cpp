#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "ZQDestination.h"
#include "ZQExceptions.h"
#include "ZQMQInterfaces.h"
#include "ZQQueue.h"
#include "ZQTopic.h"

namespace velmor {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

// Which interfaces each destination class answers, and what it reports.
struct DestinationRow {
  const char* ClassName;
  std::function<IDestinationPtr(const std::string&)> Make;
  uint8_t Kind;
  bool Queue;
  bool TemporaryQueue;
  bool Topic;
  bool TemporaryTopic;
};

void PrintTo(const DestinationRow& row, std::ostream* os) {
  *os << row.ClassName;
}

class DestinationMatrixTest : public TestWithParam<DestinationRow> {};

TEST_P(DestinationMatrixTest, AnswersExactlyTheInterfacesOfItsClass) {
  const DestinationRow& row = GetParam();
  const IDestinationPtr destination = row.Make("orders");
  ASSERT_NE(destination, nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<IQueue>(destination) != nullptr, row.Queue);
  EXPECT_EQ(std::dynamic_pointer_cast<ITemporaryQueue>(destination) != nullptr, row.TemporaryQueue);
  EXPECT_EQ(std::dynamic_pointer_cast<ITopic>(destination) != nullptr, row.Topic);
  EXPECT_EQ(std::dynamic_pointer_cast<ITemporaryTopic>(destination) != nullptr, row.TemporaryTopic);
}

TEST_P(DestinationMatrixTest, ReportsItsKindAndTheNameItWasGiven) {
  const DestinationRow& row = GetParam();
  const IDestinationPtr destination = row.Make("tmp-7");
  EXPECT_EQ(destination->GetDestinationKind(), row.Kind);
  if (row.Queue) {
    EXPECT_EQ(std::dynamic_pointer_cast<IQueue>(destination)->GetQueueName(), "tmp-7");
  } else {
    EXPECT_EQ(std::dynamic_pointer_cast<ITopic>(destination)->GetTopicName(), "tmp-7");
  }
}

TEST_P(DestinationMatrixTest, AcceptsTheEmptyName) {
  const DestinationRow& row = GetParam();
  const IDestinationPtr destination = row.Make("");
  EXPECT_EQ(destination->GetDestinationKind(), row.Kind);
  if (row.Queue) {
    EXPECT_EQ(std::dynamic_pointer_cast<IQueue>(destination)->GetQueueName(), "");
  } else {
    EXPECT_EQ(std::dynamic_pointer_cast<ITopic>(destination)->GetTopicName(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllClasses, DestinationMatrixTest,
    Values(DestinationRow{"TZQQueue", [](const std::string& n) { return TZQQueue::Create(n); }, 0, true,
                          false, false, false},
           DestinationRow{"TZQTemporaryQueue",
                          [](const std::string& n) { return TZQTemporaryQueue::Create(n); }, 2, true, true,
                          false, false},
           DestinationRow{"TZQTopic", [](const std::string& n) { return TZQTopic::Create(n); }, 1, false,
                          false, true, false},
           DestinationRow{"TZQTemporaryTopic",
                          [](const std::string& n) { return TZQTemporaryTopic::Create(n); }, 3, false, false,
                          true, true}),
    [](const ::testing::TestParamInfo<DestinationRow>& info) { return std::string(info.param.ClassName); });

TEST(DestinationTest, NamesAreKeptExactly) {
  EXPECT_EQ(TZQQueue::Create(" Mixed Case?x=1 ")->GetQueueName(), " Mixed Case?x=1 ");
  EXPECT_EQ(TZQTopic::Create("/exchange/amq.topic")->GetTopicName(), "/exchange/amq.topic");
}

TEST(DestinationTest, DeletingATemporaryQueueFailsEveryTimeAndLeavesItUsable) {
  const ITemporaryQueuePtr queue = TZQTemporaryQueue::Create("tmp-0");
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      queue->Delete();
      FAIL() << "Delete succeeded";
    } catch (const EMQException& e) {
      EXPECT_STREQ(e.what(), "Feature not implemented");
    }
  }
  EXPECT_EQ(queue->GetQueueName(), "tmp-0");
  EXPECT_EQ(queue->GetDestinationKind(), 2);
}

TEST(DestinationTest, DeletingATemporaryTopicFailsEveryTimeAndLeavesItUsable) {
  const ITemporaryTopicPtr topic = TZQTemporaryTopic::Create("tmp-1");
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      topic->Delete();
      FAIL() << "Delete succeeded";
    } catch (const EMQException& e) {
      EXPECT_STREQ(e.what(), "Feature not implemented");
    }
  }
  EXPECT_EQ(topic->GetTopicName(), "tmp-1");
  EXPECT_EQ(topic->GetDestinationKind(), 3);
}

TEST(DestinationTest, KindSetterStoresAnyValueUnchecked) {
  const IQueuePtr queue = TZQQueue::Create("q");
  queue->SetDestinationKind(200);
  EXPECT_EQ(queue->GetDestinationKind(), 200);
  EXPECT_EQ(queue->GetQueueName(), "q");
  EXPECT_EQ(std::dynamic_pointer_cast<ITemporaryQueue>(queue), nullptr);
}

TEST(DestinationTest, InterfaceOfTheKindIsFoundForEveryClass) {
  EXPECT_EQ(DestinationAsQueue(TZQQueue::Create("a"))->GetQueueName(), "a");
  EXPECT_EQ(DestinationAsQueue(TZQTemporaryQueue::Create("b"))->GetQueueName(), "b");
  EXPECT_EQ(DestinationAsTemporaryQueue(TZQTemporaryQueue::Create("c"))->GetQueueName(), "c");
  EXPECT_EQ(DestinationAsTopic(TZQTopic::Create("d"))->GetTopicName(), "d");
  EXPECT_EQ(DestinationAsTopic(TZQTemporaryTopic::Create("e"))->GetTopicName(), "e");
  EXPECT_EQ(DestinationAsTemporaryTopic(TZQTemporaryTopic::Create("f"))->GetTopicName(), "f");
}

// A destination whose kind was changed to one its class cannot serve gives a clear error.
struct MismatchRow {
  const char* Case;
  std::function<IDestinationPtr()> Make;
  uint8_t Kind;
  std::function<void(const IDestinationPtr&)> Ask;
  const char* Message;
};

void PrintTo(const MismatchRow& row, std::ostream* os) {
  *os << row.Case;
}

class DestinationKindMismatchTest : public TestWithParam<MismatchRow> {};

TEST_P(DestinationKindMismatchTest, AskingForTheMissingInterfaceRaisesIllegalState) {
  const MismatchRow& row = GetParam();
  const IDestinationPtr destination = row.Make();
  destination->SetDestinationKind(row.Kind);
  try {
    row.Ask(destination);
    FAIL() << "no error";
  } catch (const EIllegalStateException& e) {
    EXPECT_STREQ(e.what(), row.Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationKindMismatchTest,
    Values(MismatchRow{"TopicAsQueue", [] { return TZQTopic::Create("t"); }, 0,
                       [](const IDestinationPtr& d) { DestinationAsQueue(d); },
                       "Destination of kind 0 does not implement IQueue"},
           MismatchRow{"QueueAsTopic", [] { return TZQQueue::Create("q"); }, 1,
                       [](const IDestinationPtr& d) { DestinationAsTopic(d); },
                       "Destination of kind 1 does not implement ITopic"},
           MismatchRow{"QueueAsTemporaryQueue", [] { return TZQQueue::Create("q"); }, 2,
                       [](const IDestinationPtr& d) { DestinationAsTemporaryQueue(d); },
                       "Destination of kind 2 does not implement ITemporaryQueue"},
           MismatchRow{"TemporaryTopicAsTemporaryQueue", [] { return TZQTemporaryTopic::Create("t"); }, 2,
                       [](const IDestinationPtr& d) { DestinationAsTemporaryQueue(d); },
                       "Destination of kind 2 does not implement ITemporaryQueue"},
           MismatchRow{"TopicAsTemporaryTopic", [] { return TZQTopic::Create("t"); }, 3,
                       [](const IDestinationPtr& d) { DestinationAsTemporaryTopic(d); },
                       "Destination of kind 3 does not implement ITemporaryTopic"}),
    [](const ::testing::TestParamInfo<MismatchRow>& info) { return std::string(info.param.Case); });

TEST(DestinationTest, AskingAnUnassignedDestinationForAnInterfaceRaises) {
  EXPECT_THROW(
      {
        try {
          DestinationAsQueue(nullptr);
        } catch (const EMQException& e) {
          EXPECT_STREQ(e.what(), "Destination is unassigned");
          throw;
        }
      },
      EMQException);
}

}  // namespace
}  // namespace velmor
