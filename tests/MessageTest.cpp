#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>

#include "CaseName.h"
#include "ZQBytesMessage.h"
#include "ZQExceptions.h"
#include "ZQMQInterfaces.h"
#include "ZQMapMessage.h"
#include "ZQMessage.h"
#include "ZQObjectMessage.h"
#include "ZQQueue.h"
#include "ZQStompClient.h"
#include "ZQTextMessage.h"
#include "ZQTopic.h"

namespace velmor {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

// A message that belongs to no connection (the STOMP client is not needed to read or write fields).
const std::weak_ptr<TZQStompClient> NoTransport;

// Which interfaces each message class answers.
struct MessageRow {
  const char* ClassName;
  std::function<IMessagePtr()> Make;
  bool Text;
  bool Bytes;
  bool Map;
  bool Object;
  bool Content;
};

void PrintTo(const MessageRow& row, std::ostream* os) {
  *os << row.ClassName;
}

const MessageRow MessageRows[] = {
    {"TZQTextMessage", [] { return std::make_shared<TZQTextMessage>(NoTransport); }, true, false, false,
     false, false},
    {"TZQBytesMessage", [] { return std::make_shared<TZQBytesMessage>(NoTransport); }, false, true, false,
     false, false},
    {"TZQMapMessage", [] { return std::make_shared<TZQMapMessage>(NoTransport); }, false, false, true, false,
     true},
    {"TZQObjectMessage", [] { return std::make_shared<TZQObjectMessage>(NoTransport); }, false, false, false,
     true, true},
};

class MessageMatrixTest : public TestWithParam<MessageRow> {};

TEST_P(MessageMatrixTest, AnswersExactlyTheInterfacesOfItsKind) {
  const MessageRow& row = GetParam();
  const IMessagePtr message = row.Make();
  EXPECT_NE(std::dynamic_pointer_cast<ITransactionIdSupport>(message), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<IExtraHeadersSupport>(message), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<ITextMessage>(message) != nullptr, row.Text);
  EXPECT_EQ(std::dynamic_pointer_cast<IBytesMessage>(message) != nullptr, row.Bytes);
  EXPECT_EQ(std::dynamic_pointer_cast<IMapMessage>(message) != nullptr, row.Map);
  EXPECT_EQ(std::dynamic_pointer_cast<IObjectMessage>(message) != nullptr, row.Object);
  EXPECT_EQ(std::dynamic_pointer_cast<IMessageContent>(message) != nullptr, row.Content);
  // Found as the library message it is, at the address a cast gives.
  EXPECT_EQ(AsLibraryMessage(*message), std::dynamic_pointer_cast<TZQMessage>(message).get());
}

TEST_P(MessageMatrixTest, NewMessageHasEmptyHeaderFieldsAndNoProperties) {
  const IMessagePtr message = GetParam().Make();
  EXPECT_EQ(message->GetPriority(), 0);
  EXPECT_EQ(message->GetDeliveryMode(), 0);
  EXPECT_FALSE(message->GetRedelivered());
  EXPECT_EQ(message->GetExpiration(), 0.0);
  EXPECT_EQ(message->GetTimestamp(), 0.0);
  EXPECT_EQ(message->GetMessageID(), "");
  EXPECT_EQ(message->GetCorrelationID(), "");
  EXPECT_EQ(message->GetType(), "");
  EXPECT_EQ(message->GetDestination(), nullptr);
  EXPECT_EQ(message->GetReplyTo(), nullptr);
  EXPECT_TRUE(message->GetPropertyNames().empty());
  EXPECT_EQ(std::dynamic_pointer_cast<ITransactionIdSupport>(message)->GetTransactionID(), "");
  EXPECT_TRUE(std::dynamic_pointer_cast<TZQMessage>(message)->GetExtraHeaders().empty());
}

TEST_P(MessageMatrixTest, AcknowledgeWithoutAConnectionRaisesIllegalState) {
  const IMessagePtr message = GetParam().Make();
  message->SetMessageID("m-1");
  try {
    message->Acknowledge();
    FAIL() << "no error";
  } catch (const EIllegalStateException& e) {
    EXPECT_STREQ(e.what(), "Cannot acknowledge the message: the connection it belongs to no longer exists");
  }
  try {
    message->Nack();
    FAIL() << "no error";
  } catch (const EIllegalStateException& e) {
    EXPECT_STREQ(e.what(), "Cannot reject the message: the connection it belongs to no longer exists");
  }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, MessageMatrixTest, ::testing::ValuesIn(MessageRows),
                         [](const ::testing::TestParamInfo<MessageRow>& info) {
                           return std::string(info.param.ClassName);
                         });

TEST(MessageTest, HeaderFieldsReadBackAsSet) {
  const auto message = std::make_shared<TZQTextMessage>(NoTransport);
  const IQueuePtr queue = TZQQueue::Create("q");
  const ITopicPtr topic = TZQTopic::Create("t");
  message->SetMessageID("id-1");
  message->SetCorrelationID("corr");
  message->SetDestination(queue);
  message->SetReplyTo(topic);
  message->SetDeliveryMode(7);
  message->SetRedelivered(true);
  message->SetExpiration(45000.25);
  message->SetTimestamp(45000.5);
  message->SetType("order");
  EXPECT_EQ(message->GetMessageID(), "id-1");
  EXPECT_EQ(message->GetCorrelationID(), "corr");
  EXPECT_EQ(message->GetDestination(), queue);
  EXPECT_EQ(message->GetReplyTo(), topic);
  EXPECT_EQ(message->GetDeliveryMode(), 7);
  EXPECT_TRUE(message->GetRedelivered());
  EXPECT_EQ(message->GetExpiration(), 45000.25);
  EXPECT_EQ(message->GetTimestamp(), 45000.5);
  EXPECT_EQ(message->GetType(), "order");
  message->SetDestination(nullptr);
  EXPECT_EQ(message->GetDestination(), nullptr);
}

TEST(MessageTest, PriorityAcceptsTheWholeByteRange) {
  const auto message = std::make_shared<TZQTextMessage>(NoTransport);
  message->SetPriority(255);
  EXPECT_EQ(message->GetPriority(), 255);
  message->SetPriority(0);
  EXPECT_EQ(message->GetPriority(), 0);
  message->SetPriority(9);
  EXPECT_EQ(message->GetPriority(), 9);
}

class PriorityOutOfRangeTest : public TestWithParam<int32_t> {};

TEST_P(PriorityOutOfRangeTest, IsRefusedAndKeepsTheOldPriority) {
  const auto message = std::make_shared<TZQBytesMessage>(NoTransport);
  message->SetPriority(4);
  try {
    message->SetPriority(GetParam());
    FAIL() << "no error";
  } catch (const EIllegalArgumentException& e) {
    EXPECT_STREQ(e.what(), "Priority must be a value between 0 and 255");
  }
  EXPECT_EQ(message->GetPriority(), 4);
}

INSTANTIATE_TEST_SUITE_P(Priorities, PriorityOutOfRangeTest, Values(-1, 256, INT32_MIN, INT32_MAX),
                         [](const ::testing::TestParamInfo<int32_t>& Info) {
                           return testing::CaseName(std::to_string(Info.param));
                         });

TEST(MessageTest, BooleanPropertyIsTextTrueAndOnlyExactTrueReadsTrue) {
  const auto message = std::make_shared<TZQTextMessage>(NoTransport);
  message->SetBooleanProperty("ok", true);
  EXPECT_EQ(message->GetStringProperty("ok"), "true");
  EXPECT_TRUE(message->GetBooleanProperty("ok"));
  message->SetStringProperty("capital", "True");
  message->SetStringProperty("digit", "1");
  EXPECT_FALSE(message->GetBooleanProperty("capital"));
  EXPECT_FALSE(message->GetBooleanProperty("digit"));
  EXPECT_FALSE(message->GetBooleanProperty("absent"));
  message->SetBooleanProperty("ok", false);
  EXPECT_EQ(message->GetStringProperty("ok"), "false");
}

TEST(MessageTest, IntegerPropertiesTravelAsDecimalText) {
  const auto message = std::make_shared<TZQTextMessage>(NoTransport);
  message->SetIntProperty("n", -5);
  EXPECT_EQ(message->GetStringProperty("n"), "-5");
  EXPECT_EQ(message->GetIntProperty("n"), -5);
  message->SetStringProperty("word", "five");
  EXPECT_EQ(message->GetIntProperty("word"), 0);
  EXPECT_EQ(message->GetIntProperty("absent"), 0);
  EXPECT_EQ(message->GetStringProperty("absent"), "");
}

TEST(MessageTest, PropertyNamesKeepFirstSetOrderAndLetterCase) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport);
  message->SetStringProperty("b", "1");
  message->SetStringProperty("B", "2");
  message->SetStringProperty("a", "3");
  message->SetIntProperty("b", 4);
  EXPECT_EQ(message->GetPropertyNames(), (PMStrings{"b", "B", "a"}));
  EXPECT_EQ(message->GetStringProperty("b"), "4");
  EXPECT_EQ(message->GetStringProperty("B"), "2");
}

TEST(MessageTest, ReservedNamesAreStoredWithoutComplaint) {
  const auto message = std::make_shared<TZQTextMessage>(NoTransport);
  message->SetStringProperty("login", "x");
  EXPECT_EQ(message->GetStringProperty("login"), "x");
}

TEST(MessageTest, PropertiesAndMapEntriesAreSeparate) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport);
  message->SetStringProperty("k", "property");
  message->SetString("k", "entry");
  EXPECT_EQ(message->GetStringProperty("k"), "property");
  EXPECT_EQ(message->GetString("k"), "entry");
}

TEST(MessageTest, TransactionIdReadsBackAsSet) {
  const auto message = std::make_shared<TZQBytesMessage>(NoTransport);
  const auto support = std::dynamic_pointer_cast<ITransactionIdSupport>(message);
  support->SetTransactionID("{TX}");
  EXPECT_EQ(support->GetTransactionID(), "{TX}");
}

TEST(MessageTest, ExtraHeadersAreCopiedInOrder) {
  const auto message = std::make_shared<TZQTextMessage>(NoTransport);
  PMStrings headers{"x-reason=late", "x-code=7"};
  std::dynamic_pointer_cast<IExtraHeadersSupport>(message)->SetExtraHeaders(headers);
  headers.push_back("x-later=1");
  headers[0] = "changed=1";
  EXPECT_EQ(message->GetExtraHeaders(), (PMStrings{"x-reason=late", "x-code=7"}));
  std::dynamic_pointer_cast<IExtraHeadersSupport>(message)->SetExtraHeaders({"only=1"});
  EXPECT_EQ(message->GetExtraHeaders(), (PMStrings{"only=1"}));
}

TEST(TextMessageTest, StartsEmptyAndHoldsItsText) {
  const auto message = std::make_shared<TZQTextMessage>(NoTransport);
  EXPECT_EQ(message->GetText(), "");
  message->SetText(
      "gr\xC3\xBC\xC3\x9F"
      "e");
  EXPECT_EQ(message->GetText(),
            "gr\xC3\xBC\xC3\x9F"
            "e");
}

TEST(BytesMessageTest, StartsEmptyAndKeepsNulOctets) {
  const auto message = std::make_shared<TZQBytesMessage>(NoTransport);
  EXPECT_EQ(message->GetContent(), "");
  const std::string body("a\0b\0\xFF", 5);
  message->SetContent(body);
  EXPECT_EQ(message->GetContent(), body);
  EXPECT_EQ(message->GetContent().size(), 5u);
}

TEST(BytesMessageTest, ReceivedBodyIsItsContent) {
  const std::string body("\0\x01\x02", 3);
  const auto message = std::make_shared<TZQBytesMessage>(NoTransport, body, "sub-1");
  EXPECT_EQ(message->GetContent(), body);
}

TEST(MapMessageTest, NewMapMessageHasNoEntries) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport);
  EXPECT_TRUE(message->GetMapNames().empty());
  EXPECT_FALSE(message->ItemExists("a"));
  EXPECT_EQ(message->GetContent(), "");
}

TEST(MapMessageTest, EntriesKeepOrderOverwriteInPlaceAndReadTyped) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport);
  message->SetString("s", "text");
  message->SetInt("i", -17);
  message->SetBoolean("b", true);
  message->SetString("s", "again");
  EXPECT_EQ(message->GetMapNames(), (PMStrings{"s", "i", "b"}));
  EXPECT_EQ(message->GetString("s"), "again");
  EXPECT_EQ(message->GetInt("i"), -17);
  EXPECT_EQ(message->GetString("i"), "-17");
  EXPECT_TRUE(message->GetBoolean("b"));
  EXPECT_EQ(message->GetString("b"), "true");
  EXPECT_EQ(message->GetInt("b"), 0);
  EXPECT_FALSE(message->GetBoolean("s"));
}

TEST(MapMessageTest, EntryWithEmptyValueIsListedButDoesNotExist) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport);
  message->SetString("empty", "");
  EXPECT_EQ(message->GetMapNames(), (PMStrings{"empty"}));
  EXPECT_FALSE(message->ItemExists("empty"));
  message->SetBoolean("flag", false);
  EXPECT_TRUE(message->ItemExists("flag"));
}

TEST(MapMessageTest, ItemExistsLooksUpTheUntrimmedName) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport);
  message->SetString(" a ", "1");
  EXPECT_TRUE(message->ItemExists(" a "));
  EXPECT_FALSE(message->ItemExists("a"));
}

class BlankMapNameTest : public TestWithParam<std::string> {};

TEST_P(BlankMapNameTest, ItemExistsRaisesTheAssertionButSetAndGetAcceptTheName) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport);
  try {
    (void)message->ItemExists(GetParam());
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Assertion failure (ZQMapMessage, line 67)");
  }
  message->SetString(GetParam(), "stored");
  EXPECT_EQ(message->GetString(GetParam()), "stored");
  EXPECT_EQ(message->GetMapNames(), (PMStrings{GetParam()}));
}

INSTANTIATE_TEST_SUITE_P(Names, BlankMapNameTest,
                         Values(std::string(""), std::string("   "), std::string("\t\r\n"),
                                std::string("\0 ", 2), std::string("\x1F\x20")),
                         [](const ::testing::TestParamInfo<std::string>& Info) {
                           return testing::CaseName(Info.param);
                         });

TEST(MapMessageTest, RawBodyIsReachedThroughMessageContent) {
  const auto message = std::make_shared<TZQMapMessage>(NoTransport, "{\"k\":1}", "sub-1");
  const auto content =
      std::dynamic_pointer_cast<IMessageContent>(std::static_pointer_cast<IMessage>(message));
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->GetContent(), "{\"k\":1}");
  EXPECT_TRUE(message->GetMapNames().empty());
  content->SetContent("other");
  EXPECT_EQ(message->GetContent(), "other");
  message->SetString("k", "v");
  EXPECT_EQ(content->GetContent(), "other");
}

// An application object carried by object messages.
class TOrder final : public IObject {
 public:
  explicit TOrder(int Number) : Number(Number) {}
  int Number;
};

TEST(ObjectMessageTest, NewObjectMessageHasNoObject) {
  const auto message = std::make_shared<TZQObjectMessage>(NoTransport);
  EXPECT_EQ(message->GetObject(), nullptr);
  EXPECT_EQ(message->GetContent(), "");
}

TEST(ObjectMessageTest, NilObjectIsRefusedAndTheOldOneKept) {
  const auto message = std::make_shared<TZQObjectMessage>(NoTransport);
  const auto order = std::make_shared<TOrder>(1);
  message->SetObject(order);
  try {
    message->SetObject(nullptr);
    FAIL() << "no error";
  } catch (const EIllegalArgumentException& e) {
    EXPECT_STREQ(e.what(), "Object must not be nil");
  }
  EXPECT_EQ(message->GetObject(), order);
}

TEST(ObjectMessageTest, KeepsTheObjectAliveAndGivesItBackTyped) {
  const auto message = std::make_shared<TZQObjectMessage>(NoTransport);
  std::weak_ptr<TOrder> watch;
  {
    const auto order = std::make_shared<TOrder>(42);
    watch = order;
    message->SetObject(order);
  }
  ASSERT_FALSE(watch.expired());
  const auto back = std::dynamic_pointer_cast<TOrder>(message->GetObject());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Number, 42);
}

TEST(ObjectMessageTest, ReleasesTheObjectWithTheMessage) {
  std::weak_ptr<TOrder> watch;
  {
    const auto message = std::make_shared<TZQObjectMessage>(NoTransport);
    const auto order = std::make_shared<TOrder>(1);
    watch = order;
    message->SetObject(order);
  }
  EXPECT_TRUE(watch.expired());
}

TEST(ObjectMessageTest, ReceivedObjectMessageHoldsTheRawBodyAndNoObject) {
  const auto message = std::make_shared<TZQObjectMessage>(NoTransport, "serialized", "sub-9");
  const auto content =
      std::dynamic_pointer_cast<IMessageContent>(std::static_pointer_cast<IMessage>(message));
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->GetContent(), "serialized");
  EXPECT_EQ(message->GetObject(), nullptr);
}

}  // namespace
}  // namespace velmor
