#pragma once

#include <string>
#include <string_view>

#include "ZQStompFrame.h"
#include "ZQStompTypes.h"

namespace velmor {

// The complete octets of a frame for the given protocol version, ready to be written in one call.
// Refuses (EIllegalArgumentException naming the header) a header that cannot be written safely in
// that version, or whose line or the header block it ends would be longer than the receive side reads
// (MaxHeaderLineLength; MaxSentHeaderBlockLength, which leaves room for what a broker adds to a
// delivery); a body longer than MaxBodyLength is refused as well.
// Nothing is produced then. EscapeV10Headers writes STOMP 1.0 headers with 1.1's escaping
// and refuses 1.0 values that begin with a space, for brokers that treat 1.0 headers that way.
std::string Encode(const IStompFrame& Frame, TStompVersion Version, bool EscapeV10Headers = false);

// The same octets as Encode, written into Out (its old content replaced, its capacity reused). On a
// refused header Out is left empty.
void EncodeInto(std::string& Out, const IStompFrame& Frame, TStompVersion Version,
                bool EscapeV10Headers = false);

// Writes one frame into a buffer piece by piece, without a frame object: the command at construction,
// then each header in order, then the body. The octets are those Encode gives for a frame with the
// same command, headers and body. A refused header raises as Encode does and leaves the buffer empty;
// the caller writes the buffer only after Body.
class TStompFrameWriter final {
 public:
  TStompFrameWriter(std::string& Out, std::string_view Command, TStompVersion Version,
                    bool EscapeV10Headers = false);
  TStompFrameWriter(const TStompFrameWriter&) = delete;
  TStompFrameWriter& operator=(const TStompFrameWriter&) = delete;

  void Header(std::string_view Name, std::string_view Value);
  // The blank line, the body and the frame end.
  void Body(std::string_view Body);
  // The blank line alone, for Body and the frame end written from elsewhere; Body is refused as Body()
  // refuses it.
  void EndHeaders(std::string_view Body);

 private:
  std::string& FOut;
  bool FIsConnect;
  bool FRefuseLeadingSpace;
  TStompVersion FVersion;
};

// Escapes one header name or value (UTF-8) for the version; IsConnect selects the CONNECT rule.
std::string Escape(std::string_view Text, bool IsConnect, TStompVersion Version);

// Replaces every occurrence of the octet C in Subject by Replacement, left to right.
std::string ReplaceAllChar(char C, std::string_view Replacement, std::string_view Subject);

}  // namespace velmor
