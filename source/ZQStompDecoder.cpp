#include "ZQStompDecoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ZQExceptions.h"
#include "ZQStompFrame.h"
#include "ZQText.h"

namespace velmor {

namespace {

constexpr char kBackslash = '\\';

// Up to this many headers, repeated names are found by a linear search; beyond it by a hash index, so a
// peer sending thousands of header lines costs linear time.
constexpr size_t kLinearLookupLimit = 32;

// Length of the UTF-8 sequence that starts at Text[Pos]; 1 for a stray or truncated octet.
size_t CharLength(std::string_view Text, size_t Pos) {
  const auto lead = static_cast<unsigned char>(Text[Pos]);
  size_t length = 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
  }
  if (Pos + length > Text.size())
    return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(Text[Pos + i]) & 0xC0) != 0x80)
      return 1;
  }
  return length;
}

// Code of the first character: its Unicode code point, or the octet when it starts no UTF-8 sequence.
int64_t FirstCharCode(std::string_view Text) {
  const size_t length = CharLength(Text, 0);
  const auto lead = static_cast<unsigned char>(Text[0]);
  if (length == 1)
    return lead;
  uint32_t code = lead & (0x7Fu >> length);
  for (size_t i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(Text[i]) & 0x3Fu);
  }
  return code;
}

[[noreturn]] void RaiseUnknownFrameType(const std::string& HeaderText) {
  std::string message = "Unknown frame type. Expected MESSAGE, RECEIPT, CONNECTED or ERROR. Received: #";
  message += std::to_string(FirstCharCode(HeaderText));
  message += "\r\nFrame header: \r\n";
  message += HeaderText;
  throw EZQStompError(message);
}

[[noreturn]] void RaiseMalformedLine(int LineNumber, const char* What) {
  throw EZQStompError(Format("Malformed STOMP header line %d: %s", {LineNumber, std::string_view(What)}));
}

// Appends Text to Out with the version's escapes undone. Texts without a backslash are copied whole.
void AppendUnescaped(std::string& Out, std::string_view Text, bool IsConnected, TStompVersion Version) {
  size_t escape = Version <= 1 ? std::string_view::npos : Text.find(kBackslash);
  if (escape == std::string_view::npos) {
    Out.append(Text);
    return;
  }
  Out.reserve(Out.size() + Text.size());
  size_t runStart = 0;
  while (escape != std::string_view::npos) {
    Out.append(Text.data() + runStart, escape - runStart);
    runStart = escape + 2;
    if (escape + 1 >= Text.size()) {
      break;  // a backslash at the very end is dropped
    }
    const char c = Text[escape + 1];
    if (c == kBackslash) {
      Out.push_back(kBackslash);
    } else if (IsConnected) {
      // CONNECTED frames only know the doubled backslash; anything else stays as received.
      Out.push_back(kBackslash);
      Out.push_back(c);
    } else if (c == 'c') {
      Out.push_back(':');
    } else if (c == 'n') {
      Out.push_back('\n');
    } else if (c == 'r') {
      if (Version < 3) {
        throw EZQStompError("Unsupported escape sequence \\r");
      }
      Out.push_back('\r');
    } else {
      std::string message = "Unsupported escape sequence \\";
      message.append(Text.substr(escape + 1, CharLength(Text, escape + 1)));
      throw EZQStompError(message);
    }
    escape = Text.find(kBackslash, runStart);
  }
  if (runStart < Text.size()) {
    Out.append(Text.data() + runStart, Text.size() - runStart);
  }
}

bool IsBrokerCommand(std::string_view Command) {
  return Command == "CONNECTED" || Command == "MESSAGE" || Command == "RECEIPT" || Command == "ERROR";
}

// Puts the headers, parsed in received order, into the order that IStompFrame::AddHeader gives: a header
// whose name already leads with a non-empty value goes first, anything else is appended. Equal to
// calling AddHeader for each, without its linear look-up and front insertion per header.
bool ArrangeLikeAddHeader(TStompHeaders& Headers) {
  const size_t count = Headers.size();
  if (count < 2)
    return false;
  const bool linear = count <= kLinearLookupLimit;
  // For each header, the index of the first header of its name; for those first ones, whether the header
  // that GetHeader would currently find for the name has a non-empty value; and whether the header goes
  // to the front. Short lists keep this on the stack.
  std::array<size_t, kLinearLookupLimit> firstOfNameSmall;
  std::array<char, kLinearLookupLimit> leadsNonEmptySmall;
  std::array<char, kLinearLookupLimit> goesFirstSmall;
  std::vector<size_t> firstOfNameLarge;
  std::vector<char> leadsNonEmptyLarge;
  std::vector<char> goesFirstLarge;
  std::unordered_map<std::string_view, size_t> index;
  if (!linear) {
    firstOfNameLarge.resize(count);
    leadsNonEmptyLarge.resize(count);
    goesFirstLarge.resize(count);
    index.reserve(count);
  }
  size_t* const firstOfName = linear ? firstOfNameSmall.data() : firstOfNameLarge.data();
  char* const leadsNonEmpty = linear ? leadsNonEmptySmall.data() : leadsNonEmptyLarge.data();
  char* const goesFirst = linear ? goesFirstSmall.data() : goesFirstLarge.data();

  bool anyFirst = false;
  for (size_t i = 0; i < count; ++i) {
    size_t first = i;
    if (linear) {
      for (size_t j = 0; j < i; ++j) {
        if (firstOfName[j] == j && Headers[j].Name == Headers[i].Name) {
          first = j;
          break;
        }
      }
    } else {
      first = index.try_emplace(Headers[i].Name, i).first->second;
    }
    firstOfName[i] = first;
    goesFirst[i] = 0;
    const bool nonEmpty = !Headers[i].Value.empty();
    if (first == i) {
      leadsNonEmpty[i] = nonEmpty;
    } else if (leadsNonEmpty[first]) {
      goesFirst[i] = 1;
      anyFirst = true;
      leadsNonEmpty[first] = nonEmpty;
    }
  }
  if (!anyFirst)
    return false;
  TStompHeaders arranged;
  arranged.reserve(count);
  for (size_t i = count; i-- > 0;) {
    if (goesFirst[i])
      arranged.push_back(std::move(Headers[i]));
  }
  for (size_t i = 0; i < count; ++i) {
    if (!goesFirst[i])
      arranged.push_back(std::move(Headers[i]));
  }
  Headers = std::move(arranged);
  return true;
}

}  // namespace

IStompDecoderPtr TZQStompDecoder::Create() {
  return std::make_shared<TZQStompDecoder>();
}

IStompFramePtr TZQStompDecoder::Decode(const std::string& HeaderText, TStompVersion Version) const {
  auto frame = std::make_shared<TZQStompFrame>();
  Check(Version != 0, "ZQStompDecoder", 75);
  const size_t size = HeaderText.size();
  Check(size >= 1 && HeaderText[size - 1] == LINE_SEP, "ZQStompDecoder", 76);
  Check(size >= 2 && HeaderText[size - 2] == LINE_SEP, "ZQStompDecoder", 77);

  const std::string_view text(HeaderText);
  // The first line must be one of the four commands a broker sends, exactly.
  const size_t commandEnd = text.find(LINE_SEP);
  const std::string_view command = text.substr(0, commandEnd);
  if (!IsBrokerCommand(command)) {
    RaiseUnknownFrameType(HeaderText);
  }
  // Header lines run up to the blank line; the final LF is never scanned. The LF before it (checked
  // above) ends the last header line, so every line found below is complete.
  DecodeHeaderBlock(command, text.substr(commandEnd + 1, size - 1 - (commandEnd + 1)), false, Version,
                    *frame);
  return frame;
}

size_t TZQStompDecoder::DecodeHeaderBlock(std::string_view Command, std::string_view Lines, bool DropCR,
                                          TStompVersion Version, TZQStompFrame& Frame) {
  if (!IsBrokerCommand(Command)) {
    // The text of the block as the lines gave it, for the message.
    std::string text(Command);
    text += LINE_SEP;
    for (size_t start = 0; start < Lines.size();) {
      const size_t end = Lines.find(LINE_SEP, start);
      size_t length = end - start;
      if (DropCR && length > 0 && Lines[end - 1] == '\r')
        --length;
      text.append(Lines.substr(start, length));
      text += LINE_SEP;
      start = end + 1;
    }
    text += LINE_SEP;
    RaiseUnknownFrameType(text);
  }
  const bool isConnected = Command == "CONNECTED";
  Frame.SetCommand(std::string(Command));
  Frame.ClearBody();

  // The frame's header items are reused: their strings keep their room from an earlier frame.
  // A fresh frame gets room for every line at once; a reused one mostly has it already.
  TStompHeaders& headers = Frame.GetHeaders();
  if (headers.capacity() == 0)
    headers.reserve(static_cast<size_t>(std::count(Lines.begin(), Lines.end(), LINE_SEP)));
  size_t used = 0;
  size_t contentLength = std::string_view::npos;
  bool repeatedContentLength = false;
  int lineNumber = 1;
  for (size_t lineStart = 0; lineStart < Lines.size();) {
    ++lineNumber;
    const size_t lineEnd = Lines.find(LINE_SEP, lineStart);
    std::string_view line = Lines.substr(lineStart, lineEnd - lineStart);
    if (DropCR && !line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    // A name ends at the first colon; escaped colons travel as backslash and c.
    const size_t colon = line.find(HEADER_SEP);
    if (colon == std::string_view::npos) {
      RaiseMalformedLine(lineNumber, "no colon between name and value");
    }
    if (Version >= 2 && line.find(HEADER_SEP, colon + 1) != std::string_view::npos) {
      throw EZQStompError(Format("The STOMP header contains an invalid value: octet %d", {58}));
    }
    if (colon == 0) {
      RaiseMalformedLine(lineNumber, "empty header name");
    }
    if (used == headers.size())
      headers.emplace_back();
    TStompHeaderItem& item = headers[used];
    item.Value.clear();
    item.Name.clear();
    AppendUnescaped(item.Value, line.substr(colon + 1), isConnected, Version);
    AppendUnescaped(item.Name, line.substr(0, colon), isConnected, Version);
    if (item.Name.empty()) {
      RaiseMalformedLine(lineNumber, "empty header name");
    }
    if (item.Name == "content-length") {
      repeatedContentLength = contentLength != std::string_view::npos;
      contentLength = used;
    }
    ++used;
    lineStart = lineEnd + 1;
  }
  headers.resize(used);
  if (ArrangeLikeAddHeader(headers) || repeatedContentLength) {
    // Which "content-length" is read first depends on the arranged order.
    contentLength = std::string_view::npos;
    for (size_t i = 0; i < headers.size() && contentLength == std::string_view::npos; ++i) {
      if (headers[i].Name == "content-length")
        contentLength = i;
    }
  }
  return contentLength;
}

std::string TZQStompDecoder::Unescape(std::string_view Text, bool IsConnected, TStompVersion Version) {
  std::string out;
  AppendUnescaped(out, Text, IsConnected, Version);
  return out;
}

}  // namespace velmor
