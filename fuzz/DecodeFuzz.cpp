// Feeds arbitrary header blocks to the decoder for every protocol version. The library's own errors are
// expected; a crash, a sanitizer report, any other exception or a failed round trip (also through the
// escaping of a connection to RabbitMQ) is a finding. So is an encoded frame the reader would refuse, a
// refusal the reader's limits do not explain, a received destination whose name does not survive
// RabbitMQ's encoding, and a content type without parameters that does not read as text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "ZQAbstractTransport.h"
#include "ZQExceptions.h"
#include "ZQMQTransportRabbitMQ.h"
#include "ZQStompDecoder.h"
#include "ZQStompEncoder.h"
#include "ZQStompFrame.h"

namespace {

// Whether the encoder must refuse the frame for the reader's limits: a header line (escaped) longer than
// the reader takes, or a header block longer than a sent one may be.
bool BeyondReadLimits(const velmor::IStompFrame& frame, velmor::TStompVersion version) {
  size_t block = frame.GetCommand().size() + 2;
  for (const auto& item : frame.GetHeaders()) {
    const size_t line = velmor::Escape(item.Name, false, version).size() + 1 +
                        velmor::Escape(item.Value, false, version).size();
    if (line > velmor::MaxHeaderLineLength)
      return true;
    block += line + 1;
  }
  return block > velmor::MaxSentHeaderBlockLength;
}

// Every line of an encoded header block, and the block itself, within the reader's limits.
bool WithinReadLimits(std::string_view octets, size_t blockEnd) {
  if (blockEnd + 2 > velmor::MaxHeaderBlockLength)
    return false;
  for (size_t start = 0; start <= blockEnd;) {
    const size_t end = octets.find('\n', start);
    if (end - start > velmor::MaxHeaderLineLength)
      return false;
    start = end + 1;
  }
  return true;
}

// Encodes the frame, which the encoder must refuse exactly when it goes beyond the reader's limits;
// what it writes must lie within them. Empty when refused.
std::optional<std::string> EncodeWithinLimits(const velmor::IStompFrame& frame,
                                              velmor::TStompVersion version) {
  const bool beyondLimits = BeyondReadLimits(frame, version);
  std::string octets;
  try {
    octets = velmor::Encode(frame, version);
  } catch (const velmor::EIllegalArgumentException&) {
    if (!beyondLimits)
      __builtin_trap();  // within the limits, what the decoder accepted must encode
    return std::nullopt;
  }
  const size_t blockEnd = octets.find("\n\n");
  if (blockEnd == std::string::npos || beyondLimits || !WithinReadLimits(octets, blockEnd))
    __builtin_trap();
  return octets;
}

// Short inputs reach the line limit too: the first header's value padded so that its escaped line
// ends a few octets before, at or after the limit, as Pick says.
void CheckPaddedToTheLimit(const velmor::IStompFrame& frame, velmor::TStompVersion version, unsigned pick) {
  if (frame.GetHeaders().empty())
    return;
  velmor::TZQStompFrame padded(frame.GetCommand());
  padded.GetHeaders() = frame.GetHeaders();
  velmor::TStompHeaderItem& first = padded.GetHeaders().front();
  const size_t line = velmor::Escape(first.Name, false, version).size() + 1 +
                      velmor::Escape(first.Value, false, version).size();
  const size_t target = velmor::MaxHeaderLineLength - 3 + pick % 7;
  if (line >= target)
    return;
  first.Value.append(target - line, 'v');
  EncodeWithinLimits(padded, version);
}

// A MESSAGE's destination decoded, written again as RabbitMQ writes it (octets below 0x20, "%" and from
// 0x80 as "%XX"), must decode to the same name.
void CheckDestinationDecoding(const velmor::IStompFrame& frame) {
  const std::string* header = frame.FindHeader("destination");
  if (frame.GetCommand() != "MESSAGE" || header == nullptr)
    return;
  const std::string name = velmor::DecodeRabbitMQDestination(*header);
  if (name.size() > header->size())
    __builtin_trap();
  std::string encoded;
  for (const char c : name) {
    const auto octet = static_cast<unsigned char>(c);
    if (octet < 0x20 || octet == '%' || octet >= 0x80) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      encoded += '%';
      encoded += kHex[octet >> 4];
      encoded += kHex[octet & 15];
    } else {
      encoded += c;
    }
  }
  if (velmor::DecodeRabbitMQDestination(encoded) != name)
    __builtin_trap();
}

// HeaderText, encoded from Frame, decoded with Version must give Frame's command and headers again.
void CheckReadBack(const velmor::IStompDecoder& decoder, const velmor::IStompFrame& frame,
                   const std::string& headerText, velmor::TStompVersion version) {
  velmor::IStompFramePtr again;
  try {
    again = decoder.Decode(headerText, version);
  } catch (const velmor::EVelmorError&) {
    __builtin_trap();  // what the encoder wrote must decode again
  }
  const auto& before = frame.GetHeaders();
  const auto& after = again->GetHeaders();
  if (again->GetCommand() != frame.GetCommand() || before.size() != after.size())
    __builtin_trap();
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i].Name != after[i].Name || before[i].Value != after[i].Value)
      __builtin_trap();
  }
}

// Decoded headers written again and read back must come out the same. Checked for STOMP 1.1 and 1.2
// frames other than CONNECTED (which has its own unescape rule) with distinct names (repeated names are
// reordered by the duplicate rule on the second read) and without octets the encoder refuses to write
// (a NUL, and a CR on 1.1, which has no escape for it).
void CheckRoundTrip(const velmor::IStompDecoder& decoder, const velmor::IStompFrame& frame,
                    velmor::TStompVersion version, unsigned pick) {
  if (version < 2 || frame.GetCommand() == "CONNECTED")
    return;
  std::unordered_set<std::string_view> names;
  const std::string_view unwritable = version == 2 ? std::string_view("\0\r", 2) : std::string_view("\0", 1);
  for (const auto& item : frame.GetHeaders()) {
    if (!names.insert(item.Name).second)
      return;
    if (item.Name.find_first_of(unwritable) != std::string::npos ||
        item.Value.find_first_of(unwritable) != std::string::npos)
      return;
  }
  CheckPaddedToTheLimit(frame, version, pick);
  std::optional<std::string> octets;
  try {
    octets = EncodeWithinLimits(frame, version);
  } catch (const velmor::EVelmorError&) {
    __builtin_trap();  // what the decoder accepted must encode
  }
  if (!octets)
    return;
  const std::string headerText = octets->substr(0, octets->find("\n\n") + 2);
  CheckReadBack(decoder, frame, headerText, version);
  // A connection to RabbitMQ writes 1.0 and 1.1 headers with 1.1's escaping and reads them with 1.2's
  // unescaping, which takes "\r" too: what it writes reads back the same.
  if (version == 2)
    CheckReadBack(decoder, frame, headerText, velmor::HeaderUnescapingVersion(version, true));
}

// The content type of a received MESSAGE is read where it lies: any text gives an answer, and one
// without parameters reads as text.
void CheckContentType(const velmor::IStompFrame& frame) {
  const std::string* contentType = frame.FindHeader("content-type");
  if (contentType == nullptr)
    return;
  const bool text = velmor::TZQAbstractTransport::ReadsAsText(*contentType);
  if (contentType->find(';') == std::string::npos && !text)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const velmor::IStompDecoderPtr decoder = velmor::TZQStompDecoder::Create();
  if (size == 0)
    return 0;
  // The first octet picks a command line to put in front, so most inputs reach the header scan; the
  // rest is taken as received. The decoder's contract wants the text to end with two LFs.
  static constexpr std::string_view kPrefixes[] = {"", "CONNECTED\n", "MESSAGE\n", "RECEIPT\n", "ERROR\n"};
  std::string text(kPrefixes[data[0] % 5]);
  text.append(reinterpret_cast<const char*>(data + 1), size - 1);
  if (text.size() < 2 || text[text.size() - 1] != '\n' || text[text.size() - 2] != '\n') {
    text += "\n\n";
  }
  for (velmor::TStompVersion version = 1; version <= 3; ++version) {
    try {
      const velmor::IStompFramePtr frame = decoder->Decode(text, version);
      for (const auto& item : frame->GetHeaders()) {
        if (item.Name.empty())
          __builtin_trap();
      }
      CheckRoundTrip(*decoder, *frame, version, data[0] / 5);
      CheckDestinationDecoding(*frame);
      CheckContentType(*frame);
    } catch (const velmor::EAssertionFailed&) {
      __builtin_trap();  // the input meets the contract, so no consistency check may fire
    } catch (const velmor::EVelmorError&) {
    }
  }
  return 0;
}
