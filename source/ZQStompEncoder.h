#pragma once

#include <string>
#include <string_view>

#include "ZQStompFrame.h"
#include "ZQStompTypes.h"

namespace velmor {

// The complete octets of a frame for the given protocol version, ready to be written in one call.
// Refuses (EIllegalArgumentException naming the header) a header that cannot be written safely in
// that version; nothing is produced then. EscapeV10Headers writes STOMP 1.0 headers with 1.1's escaping
// and refuses 1.0 values that begin with a space, for brokers that treat 1.0 headers that way.
std::string Encode(const IStompFrame& Frame, TStompVersion Version, bool EscapeV10Headers = false);

// Escapes one header name or value (UTF-8) for the version; IsConnect selects the CONNECT rule.
std::string Escape(std::string_view Text, bool IsConnect, TStompVersion Version);

// Replaces every occurrence of the octet C in Subject by Replacement, left to right.
std::string ReplaceAllChar(char C, std::string_view Replacement, std::string_view Subject);

}  // namespace velmor
