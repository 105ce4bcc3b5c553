#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "StompFrames.h"
#include "ZQExceptions.h"
#include "ZQStompDecoder.h"
#include "ZQStompEncoder.h"
#include "ZQStompFrame.h"

namespace velmor {
namespace {

using namespace std::string_literals;
using HeaderList = std::vector<std::pair<std::string, std::string>>;
using velmor::testing::MakeFrame;

const char* const kUnknownFrame =
    "Unknown frame type. Expected MESSAGE, RECEIPT, CONNECTED or ERROR. Received: #";

HeaderList ListOf(const IStompFrame& frame) {
  HeaderList list;
  for (const auto& item : frame.GetHeaders())
    list.emplace_back(item.Name, item.Value);
  return list;
}

// The message of the exception E that Call raises; a test failure when it raises none.
template <class E, class F>
std::string MessageOf(F&& Call) {
  try {
    Call();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "no exception";
  return {};
}

IStompFramePtr Decode(const std::string& text, TStompVersion version) {
  return TZQStompDecoder::Create()->Decode(text, version);
}

std::string DecodeError(const std::string& text, TStompVersion version) {
  return MessageOf<EZQStompError>([&] { Decode(text, version); });
}

// ---- Encode ----

TEST(EncoderTest, WritesSendFrameOctetForOctet) {
  const auto frame = MakeFrame("SEND", {{"destination", "/queue/a"}, {"content-length", "5"}}, "hello");
  EXPECT_EQ(Encode(*frame, 3), "SEND\ndestination:/queue/a\ncontent-length:5\n\nhello\0"s);
}

TEST(EncoderTest, AddsNothingOfItsOwn) {
  EXPECT_EQ(Encode(*MakeFrame("DISCONNECT", {}), 3), "DISCONNECT\n\n\0"s);
  // No content-length is added, the body goes out as it is (NUL included), and no LF follows the NUL.
  EXPECT_EQ(Encode(*MakeFrame("SEND", {{"destination", "q"}}, "a\0b"s), 2), "SEND\ndestination:q\n\na\0b\0"s);
}

TEST(EncoderTest, WritesRepeatedHeadersNewestFirst) {
  const auto frame = MakeFrame("SEND", {{"b", "x"}, {"a", "1"}, {"a", "2"}});
  EXPECT_EQ(Encode(*frame, 3), "SEND\na:2\nb:x\na:1\n\n\0"s);
}

TEST(EncoderTest, WritesNonAsciiAsUtf8Octets) {
  const auto frame = MakeFrame("SEND", {{"n\xC3\xA4me", "caf\xC3\xA9 \xE2\x82\xAC"}});
  EXPECT_EQ(Encode(*frame, 3), "SEND\nn\xC3\xA4me:caf\xC3\xA9 \xE2\x82\xAC\n\n\0"s);
}

struct EncodeCase {
  const char* name;
  const char* command;
  TStompVersion version;
  HeaderList headers;
  std::string expected;
  bool escapeV10Headers = false;
};

class EncodeEscapingTest : public ::testing::TestWithParam<EncodeCase> {};

// The octets of the frame writer for the same command, headers and body, into a used buffer.
std::string Written(const char* Command, const HeaderList& Headers, TStompVersion Version,
                    bool EscapeV10Headers, std::string& Buffer) {
  Buffer = "left over from an earlier frame";
  TStompFrameWriter writer(Buffer, Command, Version, EscapeV10Headers);
  for (const auto& [name, value] : Headers)
    writer.Header(name, value);
  writer.Body("");
  return Buffer;
}

TEST_P(EncodeEscapingTest, WritesTheVersionsEscapes) {
  const auto& param = GetParam();
  EXPECT_EQ(Encode(*MakeFrame(param.command, param.headers), param.version, param.escapeV10Headers),
            param.expected);
  std::string buffer;
  EXPECT_EQ(Written(param.command, param.headers, param.version, param.escapeV10Headers, buffer),
            param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EncoderTest, EncodeEscapingTest,
    ::testing::Values(
        EncodeCase{"Stomp11EscapesColonLfBackslash",
                   "SEND",
                   2,
                   {{"h", "a:b\ncd\\e"}},
                   "SEND\nh:a\\cb\\ncd\\\\e\n\n\0"s},
        EncodeCase{"Stomp10WithStomp11Escaping",
                   "SEND",
                   1,
                   {{"p", "C:\\dir\n\tx"}},
                   "SEND\np:C\\c\\\\dir\\n\tx\n\n\0"s,
                   true},
        EncodeCase{
            "Stomp12AlsoEscapesCr", "SEND", 3, {{"h", "a:b\nc\rd\\e"}}, "SEND\nh:a\\cb\\nc\\rd\\\\e\n\n\0"s},
        EncodeCase{"NamesAreEscapedToo", "SEND", 3, {{"a:b\\c", "v"}}, "SEND\na\\cb\\\\c:v\n\n\0"s},
        EncodeCase{
            "Stomp10WritesColonAndBackslashRaw", "SEND", 1, {{"h", "a:b\\c"}}, "SEND\nh:a:b\\c\n\n\0"s},
        EncodeCase{"ConnectKeepsColonRawAndDoublesBackslash",
                   "CONNECT",
                   3,
                   {{"passcode", "p:w\\d"}},
                   "CONNECT\npasscode:p:w\\\\d\n\n\0"s},
        EncodeCase{"ConnectRuleInStomp11", "CONNECT", 2, {{"login", "u:\\"}}, "CONNECT\nlogin:u:\\\\\n\n\0"s},
        EncodeCase{"ConnectOnStomp10WritesRaw",
                   "CONNECT",
                   1,
                   {{"passcode", "p:w\\d"}},
                   "CONNECT\npasscode:p:w\\d\n\n\0"s},
        EncodeCase{
            "ConnectRuleNeedsTheExactCommand", "connect", 3, {{"h", "a:b"}}, "connect\nh:a\\cb\n\n\0"s}),
    [](const ::testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  const char* command;
  TStompVersion version;
  std::string headerName;
  std::string headerValue;
  std::string message;
  bool escapeV10Headers = false;
};

class EncodeRefusalTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(EncodeRefusalTest, RefusesHeaderThatWouldBreakTheFrame) {
  const auto& param = GetParam();
  const auto frame = MakeFrame(param.command, {{"first", "ok"}, {param.headerName, param.headerValue}});
  EXPECT_EQ(
      MessageOf<EIllegalArgumentException>([&] { Encode(*frame, param.version, param.escapeV10Headers); }),
      param.message);
  // The frame writer refuses the same header with the same text and leaves nothing to write.
  std::string buffer;
  EXPECT_EQ(MessageOf<EIllegalArgumentException>([&] {
              Written(param.command, ListOf(*frame), param.version, param.escapeV10Headers, buffer);
            }),
            param.message);
  EXPECT_EQ(buffer, "");
}

INSTANTIATE_TEST_SUITE_P(
    EncoderTest, EncodeRefusalTest,
    ::testing::Values(RefusedCase{"Stomp10ValueWithLf", "SEND", 1, "selector", "a\nforged:1",
                                  "Header \"selector\" cannot be encoded: its value holds a line break"},
                      RefusedCase{"Stomp10ValueWithCr", "SEND", 1, "x", "a\rb",
                                  "Header \"x\" cannot be encoded: its value holds a line break"},
                      RefusedCase{"Stomp10NameWithColon", "SEND", 1, "a:b", "v",
                                  "Header \"a:b\" cannot be encoded: its name holds a colon"},
                      RefusedCase{"Stomp10NameWithLf", "MESSAGE", 1, "a\nb", "v",
                                  "Header \"a\nb\" cannot be encoded: its name holds a line break"},
                      RefusedCase{"ConnectLoginWithLf", "CONNECT", 3, "login", "guest\npasscode:x",
                                  "Header \"login\" cannot be encoded: its value holds a line break"},
                      RefusedCase{"ConnectPasscodeWithCr", "CONNECT", 2, "passcode", "se\rcret",
                                  "Header \"passcode\" cannot be encoded: its value holds a line break"},
                      RefusedCase{"ConnectNameWithColon", "CONNECT", 3, "host:x", "v",
                                  "Header \"host:x\" cannot be encoded: its name holds a colon"},
                      RefusedCase{"ConnectNameWithCr", "CONNECT", 3, "a\r", "v",
                                  "Header \"a\r\" cannot be encoded: its name holds a line break"},
                      RefusedCase{"ConnectOnStomp10ValueWithLf", "CONNECT", 1, "passcode", "\n",
                                  "Header \"passcode\" cannot be encoded: its value holds a line break"},
                      RefusedCase{
                          "Stomp11ValueWithCr", "SEND", 2, "destination", "/queue/a\r",
                          "Header \"destination\" cannot be encoded: its value holds a carriage return"},
                      RefusedCase{"Stomp10EscapedValueWithCr", "SEND", 1, "p", "a\rb",
                                  "Header \"p\" cannot be encoded: its value holds a carriage return", true},
                      RefusedCase{"Stomp10EscapedValueWithLeadingSpace", "SEND", 1, "p", " lead",
                                  "Header \"p\" cannot be encoded: its value begins with a space", true},
                      RefusedCase{"Stomp12ValueWithNul", "SEND", 3, "p", "a\0b"s,
                                  "Header \"p\" cannot be encoded: its value holds a NUL octet"},
                      RefusedCase{"Stomp10NameWithNul", "SEND", 1, "a\0:"s, "v",
                                  "Header \"a\\0:\" cannot be encoded: its name holds a NUL octet"},
                      RefusedCase{"ConnectValueWithNul", "CONNECT", 3, "passcode", "\0"s,
                                  "Header \"passcode\" cannot be encoded: its value holds a NUL octet"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST(EncoderTest, EscapesWhatEscapingCanCarry) {
  // The same texts are fine where the version escapes them.
  EXPECT_EQ(Encode(*MakeFrame("SEND", {{"a\nb", "c\nd"}}), 2), "SEND\na\\nb:c\\nd\n\n\0"s);
  EXPECT_EQ(Encode(*MakeFrame("SEND", {{"a:b", "c\rd"}}), 3), "SEND\na\\cb:c\\rd\n\n\0"s);
  EXPECT_EQ(Encode(*MakeFrame("CONNECT", {{"login", "a:b"}}), 3), "CONNECT\nlogin:a:b\n\n\0"s);
}

struct EscapeCase {
  TStompVersion version;
  bool isConnect;
  std::string expected;
};

TEST(EncoderTest, EscapeFollowsTheTable) {
  const std::string text = "a\\b:c\nd\re";
  const std::vector<EscapeCase> cases = {
      {1, false, "a\\b:c\nd\re"},       {1, true, "a\\b:c\nd\re"},   {2, false, "a\\\\b\\cc\\nd\re"},
      {3, false, "a\\\\b\\cc\\nd\\re"}, {2, true, "a\\\\b:c\nd\re"}, {3, true, "a\\\\b:c\nd\re"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Escape(text, c.isConnect, c.version), c.expected)
        << "version " << int(c.version) << (c.isConnect ? " CONNECT" : "");
  }
}

TEST(EncoderTest, EscapeNeverDoublesTheBackslashesItIntroduces) {
  EXPECT_EQ(Escape("\n\\n:", false, 3), "\\n\\\\n\\c");
  EXPECT_EQ(Escape("\r\\r", false, 3), "\\r\\\\r");
}

TEST(EncoderTest, ReplaceAllCharDoesNotRescanInsertedText) {
  EXPECT_EQ(ReplaceAllChar('.', "..", "a.b.c"), "a..b..c");
  EXPECT_EQ(ReplaceAllChar('\\', "\\\\", "\\"), "\\\\");
  EXPECT_EQ(ReplaceAllChar('x', "", "xaxbx"), "ab");
  EXPECT_EQ(ReplaceAllChar('x', "y", ""), "");
  EXPECT_EQ(ReplaceAllChar('\0', "0", "a\0b"s), "a0b");
}

// ---- Decode ----

TEST(DecoderTest, DecodesFrameWithoutHeaders) {
  const auto frame = Decode("MESSAGE\n\n", 3);
  EXPECT_EQ(frame->GetCommand(), "MESSAGE");
  EXPECT_TRUE(frame->GetHeaders().empty());
  EXPECT_EQ(frame->GetBody(), "");
}

TEST(DecoderTest, DecodesEachBrokerCommand) {
  for (const std::string command : {"CONNECTED", "ERROR", "MESSAGE", "RECEIPT"}) {
    EXPECT_EQ(Decode(command + "\n\n", 2)->GetCommand(), command);
  }
}

TEST(DecoderTest, DecodesReceiptHeader) {
  const auto frame = Decode("RECEIPT\nreceipt-id:77\n\n", 2);
  EXPECT_EQ(frame->GetCommand(), "RECEIPT");
  EXPECT_EQ(ListOf(*frame), (HeaderList{{"receipt-id", "77"}}));
}

TEST(DecoderTest, KeepsHeaderWithEmptyValue) {
  EXPECT_EQ(ListOf(*Decode("MESSAGE\na:\nb:1\n\n", 3)), (HeaderList{{"a", ""}, {"b", "1"}}));
}

TEST(DecoderTest, AddsRepeatedHeadersLikeAddHeader) {
  EXPECT_EQ(ListOf(*Decode("MESSAGE\nb:x\na:1\na:2\n\n", 3)),
            (HeaderList{{"a", "2"}, {"b", "x"}, {"a", "1"}}));
  EXPECT_EQ(ListOf(*Decode("MESSAGE\na:\na:2\n\n", 3)), (HeaderList{{"a", ""}, {"a", "2"}}));
}

TEST(DecoderTest, OrdersManyRepeatedHeadersExactlyAsAddHeaderWould) {
  // Short and long header lists (the decoder indexes names differently for long ones).
  std::mt19937 random(12345);
  const std::vector<std::string> names = {"a", "b", "c", "message-id", "x"};
  const std::vector<std::string> values = {"", "1", "2", "v"};
  for (int round = 0; round < 200; ++round) {
    const size_t count = random() % (round < 100 ? 12 : 120);
    std::string text = "MESSAGE\n";
    const IStompFramePtr expected = TZQStompFrame::Create();
    for (size_t i = 0; i < count; ++i) {
      const std::string& name = names[random() % names.size()];
      const std::string& value = values[random() % values.size()];
      text += name + ":" + value + "\n";
      expected->AddHeader(name, value);
    }
    text += "\n";
    ASSERT_EQ(ListOf(*Decode(text, 3)), ListOf(*expected)) << text;
  }
}

TEST(DecoderTest, SplitsNameAtFirstColonOnlyInStomp10) {
  EXPECT_EQ(ListOf(*Decode("MESSAGE\na:b:c\n\n", 1)), (HeaderList{{"a", "b:c"}}));
  for (const TStompVersion version : {2, 3}) {
    EXPECT_EQ(DecodeError("MESSAGE\na:b:c\n\n", version),
              "The STOMP header contains an invalid value: octet 58");
  }
}

struct UnescapeCase {
  const char* name;
  TStompVersion version;
  const char* command;
  std::string value;     // as received
  std::string expected;  // as decoded
};

class DecodeEscapesTest : public ::testing::TestWithParam<UnescapeCase> {};

TEST_P(DecodeEscapesTest, UndoesTheVersionsEscapes) {
  const auto& param = GetParam();
  const auto frame = Decode(std::string(param.command) + "\nh:" + param.value + "\n\n", param.version);
  EXPECT_EQ(ListOf(*frame), (HeaderList{{"h", param.expected}}));
}

INSTANTIATE_TEST_SUITE_P(
    DecoderTest, DecodeEscapesTest,
    ::testing::Values(UnescapeCase{"Stomp11Backslash", 2, "MESSAGE", "a\\\\b", "a\\b"},
                      UnescapeCase{"Stomp11Colon", 2, "MESSAGE", "a\\cb", "a:b"},
                      UnescapeCase{"Stomp11Lf", 2, "MESSAGE", "a\\nb", "a\nb"},
                      UnescapeCase{"Stomp12Backslash", 3, "RECEIPT", "\\\\", "\\"},
                      UnescapeCase{"Stomp12Colon", 3, "ERROR", "\\c", ":"},
                      UnescapeCase{"Stomp12Lf", 3, "MESSAGE", "\\n", "\n"},
                      UnescapeCase{"Stomp12Cr", 3, "MESSAGE", "x\\ry", "x\ry"},
                      UnescapeCase{"AllEscapesTogether", 3, "MESSAGE", "\\\\\\c\\n\\r\\\\n", "\\:\n\r\\n"},
                      UnescapeCase{"TrailingBackslashIsDropped", 3, "MESSAGE", "abc\\", "abc"},
                      UnescapeCase{"TrailingBackslashAfterPairIsDropped", 2, "MESSAGE", "\\\\\\", "\\"},
                      UnescapeCase{"RawCrIsKept", 2, "MESSAGE", "a\rb", "a\rb"},
                      UnescapeCase{"Stomp10KeepsEverything", 1, "MESSAGE", "a\\cb\\n\\\\\\t\\",
                                   "a\\cb\\n\\\\\\t\\"},
                      UnescapeCase{"ConnectedKeepsEscapedColon", 2, "CONNECTED", "a\\cb", "a\\cb"},
                      UnescapeCase{"ConnectedDoubleBackslash", 2, "CONNECTED", "a\\\\b", "a\\b"},
                      UnescapeCase{"ConnectedKeepsOtherEscapes", 3, "CONNECTED", "\\n\\r\\t", "\\n\\r\\t"},
                      UnescapeCase{"ConnectedDropsTrailingBackslash", 3, "CONNECTED", "x\\", "x"},
                      UnescapeCase{"NonAsciiPassesThrough", 3, "MESSAGE", "caf\xC3\xA9\\c", "caf\xC3\xA9:"},
                      UnescapeCase{"NulPassesThrough", 3, "MESSAGE", "a\0b"s, "a\0b"s}),
    [](const ::testing::TestParamInfo<UnescapeCase>& info) { return std::string(info.param.name); });

TEST(DecoderTest, UnescapesNamesAfterTheSplit) {
  EXPECT_EQ(ListOf(*Decode("MESSAGE\na\\cb\\\\:1\n\n", 3)), (HeaderList{{"a:b\\", "1"}}));
}

TEST(DecoderTest, RejectsUnsupportedEscapes) {
  EXPECT_EQ(DecodeError("MESSAGE\nh:x\\ry\n\n", 2), "Unsupported escape sequence \\r");
  EXPECT_EQ(DecodeError("MESSAGE\nh:x\\ty\n\n", 3), "Unsupported escape sequence \\t");
  EXPECT_EQ(DecodeError("MESSAGE\nh:x\\ty\n\n", 2), "Unsupported escape sequence \\t");
  EXPECT_EQ(DecodeError("ERROR\nh\\x:1\n\n", 3), "Unsupported escape sequence \\x");
  EXPECT_EQ(DecodeError("MESSAGE\nh:\\C\n\n", 3), "Unsupported escape sequence \\C");
  EXPECT_EQ(DecodeError("MESSAGE\nh:\\\xC3\xA9\n\n", 3), "Unsupported escape sequence \\\xC3\xA9");
}

TEST(DecoderTest, ReportsTheValuesBadEscapeBeforeTheNames) {
  EXPECT_EQ(DecodeError("MESSAGE\nn\\a:v\\b\n\n", 3), "Unsupported escape sequence \\b");
}

TEST(DecoderTest, RejectsUnknownFirstLineWithTheFullHeaderText) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"message\n\n", 109},                // lower case
      {"MSG\nmessage-id:1\n\n", 77},       // first letter right, word wrong
      {"MESSAGES\nmessage-id:1\n\n", 77},  // longer word
      {"MESSAG\n\n", 77},                  // shorter word
      {"CONNECT\n\n", 67},                 // a client command
      {"SEND\na:1\n\n", 83},
      {" MESSAGE\n\n", 32},
      {"MESSAGE \n\n", 77},
      {"MESSAGE\r\nid:1\r\n\r\n\n", 77},  // CR LF line ends are not taken
      {"\n\n", 10},
      {"\xC3\xA9t\xC3\xA9\n\n", 233},
      {"\xFFMESSAGE\n\n", 255},
  };
  for (const auto& [text, code] : cases) {
    EXPECT_EQ(DecodeError(text, 3), kUnknownFrame + std::to_string(code) + "\r\nFrame header: \r\n" + text)
        << "text: " << text;
  }
}

TEST(DecoderTest, RejectsHeaderLineWithoutColon) {
  EXPECT_EQ(DecodeError("MESSAGE\nmessage-id\n\n", 3),
            "Malformed STOMP header line 2: no colon between name and value");
  EXPECT_EQ(DecodeError("MESSAGE\na:1\nnocolon\n\n", 1),
            "Malformed STOMP header line 3: no colon between name and value");
  // A blank line inside the block is a line without a colon as well.
  EXPECT_EQ(DecodeError("MESSAGE\na:1\n\nb:2\n\n", 2),
            "Malformed STOMP header line 3: no colon between name and value");
}

TEST(DecoderTest, RejectsHeaderWithEmptyName) {
  for (const TStompVersion version : {1, 2, 3}) {
    EXPECT_EQ(DecodeError("MESSAGE\n:value\n\n", version),
              "Malformed STOMP header line 2: empty header name");
  }
  EXPECT_EQ(DecodeError("RECEIPT\n:\n\n", 3), "Malformed STOMP header line 2: empty header name");
  // A name that is empty once unescaped (a lone trailing backslash is dropped).
  EXPECT_EQ(DecodeError("MESSAGE\n\\:x\n\n", 3), "Malformed STOMP header line 2: empty header name");
  EXPECT_EQ(DecodeError("CONNECTED\n\\:x\n\n", 2), "Malformed STOMP header line 2: empty header name");
}

TEST(DecoderTest, FailsConsistencyChecksOnBrokenContract) {
  const auto checkMessage = [](const std::string& text, TStompVersion version) {
    return MessageOf<EAssertionFailed>([&] { Decode(text, version); });
  };
  EXPECT_EQ(checkMessage("MESSAGE\n\n", 0), "Assertion failure (ZQStompDecoder, line 75)");
  EXPECT_EQ(checkMessage("MESSAGE\n", 3), "Assertion failure (ZQStompDecoder, line 77)");
  EXPECT_EQ(checkMessage("MESSAGE\na:1\n\nx", 3), "Assertion failure (ZQStompDecoder, line 76)");
  EXPECT_EQ(checkMessage("", 3), "Assertion failure (ZQStompDecoder, line 76)");
  EXPECT_EQ(checkMessage("\n", 3), "Assertion failure (ZQStompDecoder, line 77)");
}

TEST(DecoderTest, KeepsNoStateBetweenCalls) {
  const IStompDecoderPtr decoder = TZQStompDecoder::Create();
  EXPECT_THROW(decoder->Decode("MESSAGE\na:b\\t\n\n", 3), EZQStompError);
  const auto first = decoder->Decode("MESSAGE\na:1\n\n", 3);
  const auto second = decoder->Decode("MESSAGE\na:1\n\n", 3);
  EXPECT_NE(first, second);
  EXPECT_EQ(ListOf(*second), (HeaderList{{"a", "1"}}));
}

// ---- Round trips ----

std::vector<std::string> TrickyTexts() {
  std::vector<std::string> texts = {
      "",      "\\",           "\\\\",   ":",      "\n",          "\r",
      "\r\n",  "\\n",          "\\c",    "\\r",    "a:b:c",       "a\\cb",
      "\\\\n", "x\\",          "::\\::", "\n\n\n", "caf\xC3\xA9", "\xE2\x82\xAC:\\\n",
      "a\0b"s, "trailing\\\\", "\\\\\\", "c n r",  "\r\\r\r",     "\\\n:",
  };
  std::mt19937 random(4711);
  const std::string alphabet = "\\:\n\rcnrt a\0\xC3\xA9"s;
  for (int i = 0; i < 300; ++i) {
    std::string text(random() % 24, ' ');
    for (char& c : text)
      c = alphabet[random() % alphabet.size()];
    texts.push_back(std::move(text));
  }
  return texts;
}

TEST(CodecRoundTripTest, UnescapeUndoesEscape) {
  for (const TStompVersion version : {2, 3}) {
    for (const auto& text : TrickyTexts()) {
      ASSERT_EQ(TZQStompDecoder::Unescape(Escape(text, false, version), false, version), text)
          << "version " << int(version) << " text " << ::testing::PrintToString(text);
    }
  }
}

TEST(CodecRoundTripTest, DecodedHeadersEqualEncodedOnes) {
  const auto texts = TrickyTexts();
  for (const TStompVersion version : {2, 3}) {
    for (size_t i = 0; i + 1 < texts.size(); ++i) {
      // Distinct names, so the header order stays as written.
      const HeaderList headers = {{"n" + texts[i], texts[i + 1]}, {"m" + texts[i + 1], texts[i]}};
      // What the encoder refuses to write has no round trip: NUL, and CR on 1.1.
      const std::string refused = version == 2 ? "\0\r"s : "\0"s;
      if (texts[i].find_first_of(refused) != std::string::npos ||
          texts[i + 1].find_first_of(refused) != std::string::npos)
        continue;
      const std::string octets = Encode(*MakeFrame("MESSAGE", headers, "body"), version);
      const std::string headerText = octets.substr(0, octets.find("\n\n") + 2);
      ASSERT_EQ(ListOf(*Decode(headerText, version)), headers)
          << "version " << int(version) << " octets " << ::testing::PrintToString(octets);
    }
  }
}

}  // namespace
}  // namespace velmor
