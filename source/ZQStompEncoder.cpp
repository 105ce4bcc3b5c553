#include "ZQStompEncoder.h"

#include <array>
#include <utility>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

namespace {

// Versions below 2 (STOMP 1.0) have no header escaping at all.
bool EscapesNothing(TStompVersion Version) {
  return Version <= 1;
}

// Octet classes for escaping; a mode escapes the classes in its mask.
enum : unsigned char { kBackslashOctet = 1, kLfOctet = 2, kColonOctet = 4, kCrOctet = 8, kNulOctet = 16 };

constexpr std::array<unsigned char, 256> MakeOctetClasses() {
  std::array<unsigned char, 256> classes{};
  classes[static_cast<unsigned char>('\\')] = kBackslashOctet;
  classes[static_cast<unsigned char>('\n')] = kLfOctet;
  classes[static_cast<unsigned char>(':')] = kColonOctet;
  classes[static_cast<unsigned char>('\r')] = kCrOctet;
  classes[0] = kNulOctet;
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

// The classes of the octets in Text, those in Mask only.
unsigned char ClassesIn(std::string_view Text, unsigned char Mask) {
  unsigned char found = 0;
  for (const char c : Text)
    found |= kOctetClasses[static_cast<unsigned char>(c)];
  return found & Mask;
}

// The name is quoted as it is, except that a NUL is shown as backslash and 0: the message is read as a
// C string and would end there.
[[noreturn]] void RaiseNotWritable(std::string_view Name, std::string_view Reason) {
  throw EIllegalArgumentException(
      Format("Header \"%s\" cannot be encoded: %s", {ReplaceAllChar('\0', "\\0", Name), Reason}));
}

[[noreturn]] void RaiseLineTooLong(std::string_view Name) {
  RaiseNotWritable(Name, Format("its line is longer than %d octets", {int64_t{MaxHeaderLineLength}}));
}

// Refuses a header that cannot be written without changing the frame: a NUL would end the frame early
// on every version. Where nothing is escaped (STOMP 1.0) or the CONNECT rule keeps LF, CR and colon raw,
// a line break would end the header line early and a colon in the name would move the name/value
// split. STOMP 1.1 escapes LF and colon but has no escape for CR, which brokers drop or choke on.
// RefuseLeadingSpace guards 1.0 values against brokers that strip leading spaces.
void CheckWritable(std::string_view Name, std::string_view Value, bool IsConnect, TStompVersion Version,
                   bool RefuseLeadingSpace) {
  const bool raw = EscapesNothing(Version) || IsConnect;
  unsigned char refused = kNulOctet;
  if (raw) {
    refused |= kLfOctet | kCrOctet;
  } else if (Version < 3) {
    refused |= kCrOctet;
  }
  const std::pair<std::string_view, std::string_view> parts[] = {{Name, "name"}, {Value, "value"}};
  for (const auto& [text, part] : parts) {
    const unsigned char found = ClassesIn(text, refused | (raw && part == "name" ? kColonOctet : 0));
    if (found == 0)
      continue;
    std::string reason = "its " + std::string(part) + " holds ";
    if (found & kNulOctet) {
      reason += "a NUL octet";
    } else if (raw && (found & (kLfOctet | kCrOctet))) {
      reason += "a line break";
    } else if (found & kCrOctet) {
      reason += "a carriage return";
    } else {
      reason += "a colon";
    }
    RaiseNotWritable(Name, reason);
  }
  if (RefuseLeadingSpace && !Value.empty() && Value.front() == ' ')
    RaiseNotWritable(Name, "its value begins with a space");
  // Escaping only lengthens a line: one that is too long as it stands is refused before it is written.
  if (Name.size() + 1 + Value.size() > MaxHeaderLineLength)
    RaiseLineTooLong(Name);
}

// Appends one header line to Out, which holds the frame's command line and the header lines before it.
// A line or a header block that the receive side would refuse empties Out and raises.
void AppendHeaderLine(std::string& Out, std::string_view Name, std::string_view Value, bool IsConnect,
                      TStompVersion Version) {
  const size_t lineStart = Out.size();
  AppendEscaped(Out, Name, IsConnect, Version);
  Out.push_back(HEADER_SEP);
  AppendEscaped(Out, Value, IsConnect, Version);
  const size_t lineLength = Out.size() - lineStart;
  Out.push_back(LINE_SEP);
  if (lineLength > MaxHeaderLineLength) {
    Out.clear();
    RaiseLineTooLong(Name);
  }
  // The blank line that ends the block counts too.
  if (Out.size() + 1 > MaxSentHeaderBlockLength) {
    Out.clear();
    RaiseNotWritable(
        Name, Format("the header block would be longer than %d octets", {int64_t{MaxSentHeaderBlockLength}}));
  }
}

// Refuses a body longer than the receive side reads.
void CheckBodyWritable(std::string_view Body) {
  if (Body.size() > MaxBodyLength) {
    throw EIllegalArgumentException(Format("Frame body of %d octets is longer than %d octets",
                                           {static_cast<int64_t>(Body.size()), int64_t{MaxBodyLength}}));
  }
}

}  // namespace

TStompFrameWriter::TStompFrameWriter(std::string& Out, std::string_view Command, TStompVersion Version,
                                     bool EscapeV10Headers)
    : FOut(Out),
      FIsConnect(Command == "CONNECT"),
      FRefuseLeadingSpace(Version == 1 && EscapeV10Headers),
      FVersion(HeaderEscapingVersion(Version, EscapeV10Headers)) {
  FOut.clear();
  FOut.append(Command);
  FOut.push_back(LINE_SEP);
}

void TStompFrameWriter::Header(std::string_view Name, std::string_view Value) {
  try {
    CheckWritable(Name, Value, FIsConnect, FVersion, FRefuseLeadingSpace);
  } catch (...) {
    FOut.clear();
    throw;
  }
  AppendHeaderLine(FOut, Name, Value, FIsConnect, FVersion);
}

void TStompFrameWriter::EndHeaders(std::string_view Body) {
  try {
    CheckBodyWritable(Body);
  } catch (...) {
    FOut.clear();
    throw;
  }
  FOut.push_back(LINE_SEP);
}

void TStompFrameWriter::Body(std::string_view Body) {
  EndHeaders(Body);
  FOut.append(Body);
  FOut.push_back(END_SEP);
}

void EncodeInto(std::string& Out, const IStompFrame& Frame, TStompVersion Version, bool EscapeV10Headers) {
  const std::string& command = Frame.GetCommand();
  const std::string& body = Frame.GetBody();
  const TStompHeaders& headers = Frame.GetHeaders();
  const bool isConnect = command == "CONNECT";
  const bool refuseLeadingSpace = Version == 1 && EscapeV10Headers;
  const TStompVersion escaping = HeaderEscapingVersion(Version, EscapeV10Headers);

  // Check every header before writing anything, and size the result for one allocation in the usual
  // case (escapes only grow it a little).
  CheckBodyWritable(body);
  size_t size = command.size() + 1 + 1 + body.size() + 1;
  for (const auto& item : headers) {
    CheckWritable(item.Name, item.Value, isConnect, escaping, refuseLeadingSpace);
    size += item.Name.size() + 1 + item.Value.size() + 1;
  }
  Out.clear();
  Out.reserve(size + size / 16);
  Out.append(command);
  Out.push_back(LINE_SEP);
  for (const auto& item : headers)
    AppendHeaderLine(Out, item.Name, item.Value, isConnect, escaping);
  Out.push_back(LINE_SEP);
  Out.append(body);
  Out.push_back(END_SEP);
}

std::string Encode(const IStompFrame& Frame, TStompVersion Version, bool EscapeV10Headers) {
  std::string out;
  EncodeInto(out, Frame, Version, EscapeV10Headers);
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
