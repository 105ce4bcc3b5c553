#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmor {

// One frame header: name and value, UTF-8.
struct TStompHeaderItem {
  std::string Name;
  std::string Value;
};

using TStompHeaders = std::vector<TStompHeaderItem>;

// Protocol version of a connection: 1 = STOMP 1.0, 2 = STOMP 1.1, 3 = STOMP 1.2.
using TStompVersion = uint8_t;

// The version whose header escaping a connection uses: STOMP 1.1's for 1.0 frames when EscapeV10Headers
// is set (brokers that read and write 1.0 headers with it), else the version's own.
constexpr TStompVersion HeaderEscapingVersion(TStompVersion Version, bool EscapeV10Headers) {
  return Version == 1 && EscapeV10Headers ? 2 : Version;
}

// The version whose header unescaping reads what the connection receives: with EscapeV10Headers STOMP
// 1.2's for 1.0 and 1.1 frames, since such a broker (RabbitMQ) writes a CR as "\r" to every version,
// else the version's own.
constexpr TStompVersion HeaderUnescapingVersion(TStompVersion Version, bool EscapeV10Headers) {
  return EscapeV10Headers && Version < 3 ? 3 : Version;
}

// Separator octets of the frame format.
inline constexpr char LINE_SEP = '\n';
inline constexpr char END_SEP = '\0';
inline constexpr char HEADER_SEP = ':';

// Limits of a frame, the same for what the library writes and what it reads. A header line is the name,
// the colon and the value as they travel (escaped), without the line's end; the header block is the
// command line, the header lines and the blank line after them, each with its LF; the body is the octets
// that "content-length" announces.
inline constexpr std::size_t MaxHeaderLineLength = 16384;
inline constexpr std::size_t MaxHeaderBlockLength = 1024 * 1024;
inline constexpr std::size_t MaxBodyLength = 256 * 1024 * 1024;
// A broker delivers what was sent with headers of its own added (the subscription, and message and ack
// ids that name it, at most a few lines as long as MaxHeaderLineLength): a header block written stays
// this much below MaxHeaderBlockLength, so that its delivery can be read back.
inline constexpr std::size_t BrokerHeaderReserve = 64 * 1024;
inline constexpr std::size_t MaxSentHeaderBlockLength = MaxHeaderBlockLength - BrokerHeaderReserve;

// Header names that a message property must not use, in the order the reserved-property check walks them.
inline constexpr std::array<std::string_view, 20> ReservedHeaderNames = {
    "login",      "passcode",  "transaction", "session",  "message",        "destination",    "id",
    "ack",        "client-id", "selector",    "type",     "content-length", "correlation-id", "expires",
    "persistent", "priority",  "redelivered", "reply-to", "message-id",     "timestamp"};

}  // namespace velmor
