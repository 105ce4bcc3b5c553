#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "CaseName.h"
#include "ZQExceptions.h"
#include "ZQStompFrame.h"
#include "ZQStompTypes.h"

namespace velmor {
namespace {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

HeaderList ListOf(const IStompFrame& frame) {
  HeaderList list;
  for (const auto& item : frame.GetHeaders())
    list.emplace_back(item.Name, item.Value);
  return list;
}

TEST(StompFrameTest, NewFrameIsEmpty) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  EXPECT_EQ(frame->GetCommand(), "");
  EXPECT_EQ(frame->GetBody(), "");
  EXPECT_TRUE(frame->GetHeaders().empty());
  EXPECT_EQ(frame->GetContentLength(), 0);
}

TEST(StompFrameTest, FrameForCommandCarriesOnlyTheCommand) {
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("SEND");
  EXPECT_EQ(frame->GetCommand(), "SEND");
  EXPECT_EQ(frame->GetBody(), "");
  EXPECT_TRUE(frame->GetHeaders().empty());
}

TEST(StompFrameTest, BodyKeepsEveryOctetIncludingNul) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  const std::string body("a\0b\xC3\xA9\xFF", 6);
  frame->SetBody(body);
  EXPECT_EQ(frame->GetBody(), body);
  EXPECT_EQ(frame->GetBodyText(), body);
}

struct AddHeaderCase {
  const char* name;
  HeaderList added;
  HeaderList expected;
  std::string headerA;  // what GetHeader("a") returns afterwards
};

class AddHeaderOrderTest : public ::testing::TestWithParam<AddHeaderCase> {};

TEST_P(AddHeaderOrderTest, PutsRepeatedNamesAsTheRuleSays) {
  const auto& param = GetParam();
  const IStompFramePtr frame = TZQStompFrame::Create();
  for (const auto& [name, value] : param.added)
    frame->AddHeader(name, value);
  EXPECT_EQ(ListOf(*frame), param.expected);
  EXPECT_EQ(frame->GetHeader("a"), param.headerA);
}

INSTANTIATE_TEST_SUITE_P(
    StompFrameTest, AddHeaderOrderTest,
    ::testing::Values(
        AddHeaderCase{
            "NewestNonEmptyValueGoesFirst", {{"a", "1"}, {"a", "2"}}, {{"a", "2"}, {"a", "1"}}, "2"},
        AddHeaderCase{
            "EmptyValueDoesNotCountAsPresent", {{"a", ""}, {"a", "2"}}, {{"a", ""}, {"a", "2"}}, ""},
        AddHeaderCase{"RepeatGoesAheadOfOtherNames",
                      {{"b", "x"}, {"a", "1"}, {"a", "2"}},
                      {{"a", "2"}, {"b", "x"}, {"a", "1"}},
                      "2"},
        AddHeaderCase{"DistinctNamesKeepTheirOrder",
                      {{"c", "1"}, {"a", "2"}, {"b", "3"}},
                      {{"c", "1"}, {"a", "2"}, {"b", "3"}},
                      "2"},
        AddHeaderCase{"EmptyRepeatOfNonEmptyGoesFirstAndHidesIt",
                      {{"a", "1"}, {"a", ""}, {"a", "3"}},
                      {{"a", ""}, {"a", "1"}, {"a", "3"}},
                      ""}),
    [](const ::testing::TestParamInfo<AddHeaderCase>& info) { return std::string(info.param.name); });

TEST(StompFrameTest, RefusesEmptyHeaderNameAndKeepsTheList) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  frame->AddHeader("a", "1");
  try {
    frame->AddHeader("", "x");
    FAIL() << "no exception";
  } catch (const EIllegalArgumentException& e) {
    EXPECT_STREQ(e.what(), "Header name must not be empty");
  }
  EXPECT_EQ(ListOf(*frame), (HeaderList{{"a", "1"}}));
}

TEST(StompFrameTest, HeaderNamesAreCaseSensitive) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  frame->AddHeader("content-length", "5");
  EXPECT_EQ(frame->GetHeader("content-length"), "5");
  EXPECT_EQ(frame->GetHeader("Content-Length"), "");
  EXPECT_EQ(frame->GetHeader("CONTENT-LENGTH"), "");
}

TEST(StompFrameTest, MissingHeaderReadsAsEmpty) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  frame->AddHeader("a", "1");
  EXPECT_EQ(frame->GetHeader("b"), "");
}

class ContentLengthTest : public ::testing::TestWithParam<std::pair<std::string, int32_t>> {};

TEST_P(ContentLengthTest, ReadsTheHeaderAsAnInteger) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  frame->AddHeader("content-length", GetParam().first);
  EXPECT_EQ(frame->GetContentLength(), GetParam().second) << "value \"" << GetParam().first << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    StompFrameTest, ContentLengthTest,
    ::testing::Values(std::pair<std::string, int32_t>{"42", 42}, std::pair<std::string, int32_t>{"0042", 42},
                      std::pair<std::string, int32_t>{" 42", 42}, std::pair<std::string, int32_t>{"0", 0},
                      std::pair<std::string, int32_t>{"12abc", 0}, std::pair<std::string, int32_t>{"", 0},
                      std::pair<std::string, int32_t>{"abc", 0},
                      std::pair<std::string, int32_t>{"2147483647", 2147483647},
                      std::pair<std::string, int32_t>{"2147483648", 0},
                      std::pair<std::string, int32_t>{"99999999999999999999", 0}),
    [](const ::testing::TestParamInfo<std::pair<std::string, int32_t>>& Info) {
      return testing::CaseName(Info.param.first);
    });

TEST(StompFrameTest, ContentLengthUsesTheHeaderThatGetHeaderReturns) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  frame->AddHeader("content-length", "3");
  frame->AddHeader("content-length", "7");
  EXPECT_EQ(frame->GetContentLength(), 7);
}

TEST(StompFrameTest, HeaderItemIsACopyOfTheEntryAtTheIndex) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  frame->AddHeader("a", "1");
  frame->AddHeader("b", "2");
  TStompHeaderItem item = frame->GetHeaderItem(1);
  EXPECT_EQ(item.Name, "b");
  EXPECT_EQ(item.Value, "2");
  item.Value = "changed";
  EXPECT_EQ(frame->GetHeader("b"), "2");
}

TEST(StompFrameTest, HeaderItemOutOfRangeFailsTheConsistencyCheck) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  frame->AddHeader("a", "1");
  for (const int index : {1, 2, -1}) {
    try {
      frame->GetHeaderItem(index);
      ADD_FAILURE() << "no exception for index " << index;
    } catch (const EAssertionFailed& e) {
      EXPECT_STREQ(e.what(), "Assertion failure (ZQStompFrame, line 147)");
    }
  }
}

TEST(StompFrameTest, HeaderListIsTheFramesOwnLiveList) {
  const IStompFramePtr frame = TZQStompFrame::Create();
  TStompHeaders& list = frame->GetHeaders();
  EXPECT_EQ(&list, &frame->GetHeaders());
  frame->AddHeader("a", "1");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Name, "a");
  frame->AddHeader("a", "2");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Value, "2");
}

TEST(StompFrameTest, ReservedHeaderNamesAreTheTwentyInTheirOrder) {
  const std::vector<std::string> expected = {
      "login",      "passcode",  "transaction", "session",  "message",        "destination",    "id",
      "ack",        "client-id", "selector",    "type",     "content-length", "correlation-id", "expires",
      "persistent", "priority",  "redelivered", "reply-to", "message-id",     "timestamp"};
  ASSERT_EQ(ReservedHeaderNames.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(ReservedHeaderNames[i], expected[i]) << i;
}

}  // namespace
}  // namespace velmor
