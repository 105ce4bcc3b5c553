#include "ZQAbstractCommAdapter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>

#include "ZQExceptions.h"
#include "ZQSocket.h"
#include "ZQStompDecoder.h"
#include "ZQText.h"

namespace velmor {

namespace {

std::atomic<TTickSource> TickSource{nullptr};

uint32_t SystemTicks() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace

uint32_t CurrentTicks() {
  const TTickSource source = TickSource.load(std::memory_order_acquire);
  return source != nullptr ? source() : SystemTicks();
}

void SetTickSource(TTickSource Source) {
  TickSource.store(Source, std::memory_order_release);
}

std::vector<std::string> SplitOptionList(std::string_view Text, char Delimiter) {
  std::vector<std::string> items;
  const size_t n = Text.size();
  size_t p = 0;
  while (p < n && IsBlankOrControl(Text[p]))
    ++p;
  while (p < n) {
    std::string item;
    if (Text[p] == '"') {
      ++p;
      while (p < n) {
        if (Text[p] == '"') {
          if (p + 1 < n && Text[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += Text[p++];
      }
    } else {
      const size_t start = p;
      while (p < n && !IsBlankOrControl(Text[p]) && Text[p] != Delimiter)
        ++p;
      item.assign(Text.substr(start, p - start));
    }
    items.push_back(std::move(item));
    while (p < n && IsBlankOrControl(Text[p]))
      ++p;
    if (p < n && Text[p] == Delimiter) {
      if (p + 1 == n)
        items.emplace_back();
      do {
        ++p;
      } while (p < n && IsBlankOrControl(Text[p]));
    }
  }
  return items;
}

std::vector<std::string> QueryOptionList(std::string_view Query) {
  return Query.empty() ? std::vector<std::string>() : SplitOptionList(Query);
}

std::string OptionName(std::string_view Item) {
  const auto equals = Item.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(Item.substr(0, equals));
}

std::string OptionItemValue(std::string_view Item) {
  const auto equals = Item.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(Item.substr(equals + 1));
}

std::string OptionValue(const std::vector<std::string>& Items, std::string_view Name) {
  for (const std::string& item : Items) {
    const auto equals = item.find('=');
    if (equals == std::string::npos) {
      if (Name.empty())
        return std::string();
      continue;
    }
    if (SameTextAscii(std::string_view(item).substr(0, equals), Name))
      return item.substr(equals + 1);
  }
  return std::string();
}

int32_t CheckedPort(std::string_view PortText) {
  const int32_t port = StrToIntDef(PortText, 0);
  if (port < 0 || port > 65535)
    throw ERangeError("Range check error");
  return port;
}

TZQAbstractCommAdapter::TZQAbstractCommAdapter() : FDecoder(TZQStompDecoder::Create()) {}

TStompVersion TZQAbstractCommAdapter::GetVersion() const {
  Check(FVersion != 0, "ZQAbstractCommAdapter", __LINE__);
  return FVersion;
}

void TZQAbstractCommAdapter::Init(const IURIPtr& URI) {
  CheckNotConnected();
  Check(URI != nullptr, "ZQAbstractCommAdapter", __LINE__, "Init needs a URI");
  std::vector<std::string> items = QueryOptionList(URI->GetParams());
  FBrokerURI = URI;
  FParamList = std::move(items);
}

bool TZQAbstractCommAdapter::Supports(const std::string& Scheme) const {
  return Scheme == "stomp" || Scheme == "failover:(stomp";
}

std::string TZQAbstractCommAdapter::GetParam(const std::string& Name) const {
  return OptionValue(FParamList, Name);
}

void TZQAbstractCommAdapter::SendHeartbeat() {
  if (FOutgoingHeartbeat <= 0)
    throw EZQStompError("Server does not expect heartbeats.");
  Write(std::string(1, LINE_SEP), -1);
}

void TZQAbstractCommAdapter::CheckHeartbeat() {
  CheckIncomingHeartbeat();
  const uint32_t elapsed = ElapsedTicks(FLastHeartbeat, CurrentTicks());
  const int64_t limit = int64_t{2} * FIncomingHeartbeat;
  if (limit > INT32_MAX)
    throw ERangeError("Integer overflow");
  if (int64_t{elapsed} > limit)
    throw EZQStompServerHeartbeatMissing("Heartbeat too late");
}

void TZQAbstractCommAdapter::MarkHeartbeat() {
  FHeartbeatReceived = true;
  FLastHeartbeat = CurrentTicks();
}

bool TZQAbstractCommAdapter::WaitHeartbeat(int32_t Timeout) {
  CheckTimeout(Timeout);
  CheckConnected();
  CheckIncomingHeartbeat();
  FHeartbeatReceived = false;
  ReadHeartbeatLine(Timeout);
  return FHeartbeatReceived;
}

void TZQAbstractCommAdapter::RequireVersion(TStompVersion Version) const {
  if (FVersion >= Version)
    return;
  if (Version == 2)
    throw EZQStompError("STOMP 1.1 support is required for this operation.");
  if (Version == 3)
    throw EZQStompError("STOMP 1.2 support is required for this operation.");
}

void TZQAbstractCommAdapter::CheckNotConnected() const {
  if (IsConnected())
    throw EMQException("Transport layer is already connected.");
}

void TZQAbstractCommAdapter::CheckConnected() const {
  if (!FConnected)
    throw EMQException("Transport layer is not connected.");
}

void TZQAbstractCommAdapter::CheckTimeout(int32_t Timeout) {
  if (Timeout < 1)
    throw EMQException("Timeout must be greater than zero.");
}

void TZQAbstractCommAdapter::CheckIncomingHeartbeat() const {
  if (FIncomingHeartbeat <= 0)
    throw EZQStompError("Server does not send heartbeats.");
}

void TZQAbstractCommAdapter::CheckHandlers(bool NeedConnected) const {
  if (!FOnFrame || (NeedConnected && !FOnConnected)) {
    throw EIllegalStateException("The adapter's handlers must be installed before it connects or reads.");
  }
}

std::string TZQAbstractCommAdapter::ReadFirstLine(int32_t Timeout) {
  std::string line = ReadLine(Timeout);
  if (!line.empty() || ReadLineTimedOut() || FIncomingHeartbeat <= 0)
    return line;
  // An empty line is a heart-beat from the broker; keep waiting for a frame, one second at a time.
  MarkHeartbeat();
  int64_t budget = Timeout;
  do {
    line = ReadLine(1000);
    if (!line.empty() || ReadLineTimedOut())
      return line;
    MarkHeartbeat();
    budget -= 1000;
  } while (budget >= 0);
  return std::string();
}

IStompFramePtr TZQAbstractCommAdapter::ReceiveHeader(const std::string& FirstLine, TWaitDeadline& Deadline) {
  std::string text;
  std::string line = FirstLine;
  do {
    if (text.size() + line.size() + 2 > MaxHeaderBlockLength) {
      throw EZQStompError(
          Format("Frame header block longer than %d octets.", {int64_t{MaxHeaderBlockLength}}));
    }
    text += line;
    text += LINE_SEP;
    line = ReadLine(Deadline.RemainingMs());
    // The frame has begun: a header line that does not come in time is an error, not the blank line.
    if (line.empty() && ReadLineTimedOut())
      throw EReadTimeout();
  } while (!line.empty());
  text += LINE_SEP;
  return FDecoder->Decode(text, HeaderUnescapingVersion(GetVersion(), FEscapeV10Headers));
}

void TZQAbstractCommAdapter::DoFrame(const IStompFramePtr& Frame) {
  FOnFrame(Frame);
}

int32_t TZQAbstractCommAdapter::ConnectWaitTimeout() const {
  return FUseConnectTimeout && FConnectTimeout > 0 ? FConnectTimeout : BodyReadTimeout;
}

int32_t TZQAbstractCommAdapter::FrameRestTimeout(int32_t Timeout) {
  return Timeout >= UnlimitedWait ? BodyReadTimeout : std::max(Timeout, BodyReadTimeout);
}

int64_t TZQAbstractCommAdapter::BodyReadAllowance(int32_t Length) {
  constexpr int64_t mebibyte = 1024 * 1024;
  return Length <= 0 ? 0 : (int64_t{Length} * BodyReadTimePerMiB + mebibyte - 1) / mebibyte;
}

std::optional<int64_t> TZQAbstractCommAdapter::AnnouncedLength(const std::string* Header) {
  if (Header == nullptr)
    return std::nullopt;
  int64_t length = 0;
  return TryStrToIntClamped(*Header, length) ? length : 0;
}

void TZQAbstractCommAdapter::CheckContentLength(int64_t Length) {
  if (Length < 0)
    throw EZQStompError(Format("Invalid content-length %d.", {Length}));
  if (static_cast<uint64_t>(Length) > MaxBodyLength)
    RaiseBodyTooLong();
}

void TZQAbstractCommAdapter::RaiseBodyTooLong() {
  throw EZQStompError(Format("Frame body longer than %d octets.", {int64_t{MaxBodyLength}}));
}

void TZQAbstractCommAdapter::CheckLineSepByte(uint8_t Octet) {
  if (Octet != static_cast<uint8_t>(LINE_SEP)) {
    throw EZQStompError(Format("Invalid trailing LINE_SEP byte #%d (expected #%d).",
                               {int64_t{Octet}, int64_t{static_cast<uint8_t>(LINE_SEP)}}));
  }
}

void TZQAbstractCommAdapter::CheckEndSepByte(uint8_t Octet) {
  if (Octet != static_cast<uint8_t>(END_SEP)) {
    throw EZQStompError(Format("Invalid trailing END_SEP byte #%d (expected #%d).",
                               {int64_t{Octet}, int64_t{static_cast<uint8_t>(END_SEP)}}));
  }
}

}  // namespace velmor
