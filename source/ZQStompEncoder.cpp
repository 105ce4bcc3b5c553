#include "ZQStompEncoder.h"

#include <array>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

namespace {

// Versions below 2 (STOMP 1.0) have no header escaping at all.
bool EscapesNothing(TStompVersion Version) {
  return Version <= 1;
}

bool HoldsLineBreak(std::string_view Text) {
  return Text.find_first_of(std::string_view("\n\r", 2)) != std::string_view::npos;
}

// Octet classes for escaping; a mode escapes the classes in its mask.
enum : unsigned char { kBackslashOctet = 1, kLfOctet = 2, kColonOctet = 4, kCrOctet = 8 };

constexpr std::array<unsigned char, 256> MakeOctetClasses() {
  std::array<unsigned char, 256> classes{};
  classes[static_cast<unsigned char>('\\')] = kBackslashOctet;
  classes[static_cast<unsigned char>('\n')] = kLfOctet;
  classes[static_cast<unsigned char>(':')] = kColonOctet;
  classes[static_cast<unsigned char>('\r')] = kCrOctet;
  return classes;
}

constexpr std::array<unsigned char, 256> kOctetClasses = MakeOctetClasses();

// Appends Text to Out escaped for the version. One pass that gives the same result as replacing
// backslashes first and then CR, LF and colon, so the backslashes these introduce are never doubled.
void AppendEscaped(std::string& Out, std::string_view Text, bool IsConnect, TStompVersion Version) {
  if (EscapesNothing(Version)) {
    Out.append(Text);
    return;
  }
  unsigned char mask = kBackslashOctet;
  if (!IsConnect) {
    mask |= kLfOctet | kColonOctet;
    if (Version >= 3)
      mask |= kCrOctet;
  }
  size_t runStart = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    const unsigned char octetClass = kOctetClasses[static_cast<unsigned char>(Text[i])] & mask;
    if (octetClass == 0)
      continue;
    Out.append(Text.data() + runStart, i - runStart);
    Out.push_back('\\');
    switch (octetClass) {
      case kBackslashOctet:
        Out.push_back('\\');
        break;
      case kLfOctet:
        Out.push_back('n');
        break;
      case kColonOctet:
        Out.push_back('c');
        break;
      default:
        Out.push_back('r');
        break;
    }
    runStart = i + 1;
  }
  Out.append(Text.data() + runStart, Text.size() - runStart);
}

// Refuses a header that cannot be written without changing the frame's structure: where nothing is
// escaped (STOMP 1.0) or the CONNECT rule keeps LF, CR and colon raw, a line break would end the header
// line early and a colon in the name would move the name/value split.
void CheckWritable(const TStompHeaderItem& Item, bool IsConnect, TStompVersion Version) {
  if (!EscapesNothing(Version) && !IsConnect) {
    return;
  }
  if (HoldsLineBreak(Item.Name)) {
    throw EIllegalArgumentException(
        Format("Header \"%s\" cannot be encoded: its name holds a line break", {Item.Name}));
  }
  if (Item.Name.find(HEADER_SEP) != std::string::npos) {
    throw EIllegalArgumentException(
        Format("Header \"%s\" cannot be encoded: its name holds a colon", {Item.Name}));
  }
  if (HoldsLineBreak(Item.Value)) {
    throw EIllegalArgumentException(
        Format("Header \"%s\" cannot be encoded: its value holds a line break", {Item.Name}));
  }
}

}  // namespace

std::string Encode(const IStompFrame& Frame, TStompVersion Version) {
  const std::string& command = Frame.GetCommand();
  const std::string& body = Frame.GetBody();
  const TStompHeaders& headers = Frame.GetHeaders();
  const bool isConnect = command == "CONNECT";

  // Check every header before writing anything, and size the result for one allocation in the usual
  // case (escapes only grow it a little).
  size_t size = command.size() + 1 + 1 + body.size() + 1;
  for (const auto& item : headers) {
    CheckWritable(item, isConnect, Version);
    size += item.Name.size() + 1 + item.Value.size() + 1;
  }

  std::string out;
  out.reserve(size + size / 16);
  out.append(command);
  out.push_back(LINE_SEP);
  for (const auto& item : headers) {
    AppendEscaped(out, item.Name, isConnect, Version);
    out.push_back(HEADER_SEP);
    AppendEscaped(out, item.Value, isConnect, Version);
    out.push_back(LINE_SEP);
  }
  out.push_back(LINE_SEP);
  out.append(body);
  out.push_back(END_SEP);
  return out;
}

std::string Escape(std::string_view Text, bool IsConnect, TStompVersion Version) {
  std::string out;
  out.reserve(Text.size() + 8);
  AppendEscaped(out, Text, IsConnect, Version);
  return out;
}

std::string ReplaceAllChar(char C, std::string_view Replacement, std::string_view Subject) {
  std::string out;
  out.reserve(Subject.size());
  size_t runStart = 0;
  for (size_t i = 0; i < Subject.size(); ++i) {
    if (Subject[i] == C) {
      out.append(Subject.data() + runStart, i - runStart);
      out.append(Replacement);
      runStart = i + 1;
    }
  }
  out.append(Subject.data() + runStart, Subject.size() - runStart);
  return out;
}

}  // namespace velmor
