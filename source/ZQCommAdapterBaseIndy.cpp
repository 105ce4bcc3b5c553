#include "ZQCommAdapterBaseIndy.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "ZQExceptions.h"
#include "ZQStompDecoder.h"
#include "ZQText.h"

namespace velmor {

// The first line of a frame is read by the socket layer's line reads, the rest by the adapter itself:
// both under one line limit.
static_assert(TTCPClient::DefaultMaxLineLength == MaxHeaderLineLength);

TZQCommAdapterBaseIndy::TZQCommAdapterBaseIndy() {
  FConnectTimeout = FClient.GetConnectTimeout();
}

void TZQCommAdapterBaseIndy::Init(const IURIPtr& URI) {
  CheckNotConnected();
  Check(URI != nullptr, "ZQCommAdapterBaseIndy", __LINE__, "Init needs a URI");
  const int32_t port = CheckedPort(URI->GetPort());
  TZQAbstractCommAdapterMQ::Init(URI);
  FClient.SetHost(URI->GetHost());
  FClient.SetHostInErrors(!MayHoldUserInformation(*URI, URI->GetHost()));
  FClient.SetPort(port);
  FClient.SetIPv6(URI->GetIsIPv6());
}

void TZQCommAdapterBaseIndy::Connect() {
  CheckNotConnected();
  CheckHandlers(true);
  // A connection that the broker closed still counts as connected until now.
  FConnected = false;
  FClient.Disconnect();
  FMessageFramesLeft.clear();
  // No host name holds "@": this one holds the rest of a user name or password that held "@", and
  // looking it up would send that to the name service.
  if (FClient.GetHost().find('@') != std::string::npos) {
    throw EConfigurationException(
        "The host of the broker URL could not be read: a user name or password in the URL must not hold "
        "\"@\", \"?\" or \"/\"");
  }
  if (FUseConnectTimeout)
    FClient.SetConnectTimeout(FConnectTimeout);
  FClient.Connect();
  ConfigureEncoding();
  FOnConnected(*this);
  ReadOneMessage(ConnectWaitTimeout(), true);
  FConnected = true;
  Trace("Connected");
}

void TZQCommAdapterBaseIndy::Disconnect() {
  CloseConnection();
}

void TZQCommAdapterBaseIndy::CloseConnection() {
  FClient.Disconnect();
  FConnected = false;
}

void TZQCommAdapterBaseIndy::Adopt(int Handle) {
  CheckNotConnected();
  FClient.Adopt(Handle);
  FConnected = true;
}

void TZQCommAdapterBaseIndy::Receive() {
  CheckHandlers(false);
  try {
    AwaitInput(UnlimitedWait);
  } catch (...) {
    CloseConnection();
    throw;
  }
  ReadOneMessage(UnlimitedWait, false);
}

void TZQCommAdapterBaseIndy::ReadOneMessage(int32_t Timeout, bool RaiseOnNoData) {
  CheckHandlers(false);
  std::shared_ptr<TZQStompFrame> frame;
  try {
    frame = ReadFrame(Timeout >= 1 ? Timeout : 1);
  } catch (const EReadTimeout& error) {
    CloseConnection();
    throw EMQException(Format("ReadOneMessage: %s", {error.what()}));
  } catch (...) {
    CloseConnection();
    throw;
  }
  if (!frame) {
    if (RaiseOnNoData) {
      CloseConnection();
      throw EMQException("ReadOneMessage: received no data.");
    }
    return;
  }
  if (frame->GetCommand() == "ERROR") {
    // The broker may go on sending after an ERROR, and it counts what it sent as delivered.
    ReadFramesLeft();
    CloseConnection();
  }
  DoFrame(frame);
  // A frame nobody kept serves the next read: its strings keep their room. Only small frames are kept.
  if (frame.use_count() == 1 && frame->GetHeaders().size() <= MaxSpareHeaders) {
    frame->ClearBody();
    FSpareFrame = std::move(frame);
  }
}

std::shared_ptr<TZQStompFrame> TZQCommAdapterBaseIndy::ReadFrame(int32_t Timeout) {
  const std::string firstLine = ReadFirstLine(Timeout);
  if (firstLine.empty())
    return nullptr;
  // One deadline for the rest of the frame, moved later by the time its body may take.
  TWaitDeadline deadline(FrameRestTimeout(Timeout));

  // The header block is decoded where it lies in the input buffer, once its blank line is in.
  const auto [linesEnd, blockEnd] = FindHeaderBlockEnd(firstLine.size(), deadline);
  std::shared_ptr<TZQStompFrame> frame = std::move(FSpareFrame);
  if (!frame)
    frame = std::make_shared<TZQStompFrame>();
  const size_t lengthIndex =
      TZQStompDecoder::DecodeHeaderBlock(firstLine, FClient.Buffered().substr(0, linesEnd), true,
                                         HeaderUnescapingVersion(GetVersion(), FEscapeV10Headers), *frame);
  FClient.Skip(blockEnd);

  const std::optional<int64_t> length =
      AnnouncedLength(lengthIndex == std::string::npos ? nullptr : &frame->GetHeaders()[lengthIndex].Value);
  if (length) {
    CheckContentLength(*length);
    deadline.Extend(BodyReadAllowance(static_cast<int32_t>(*length)));
    if (*length > 0)
      FClient.ReadBytesInto(frame->Body(), static_cast<size_t>(*length), deadline);
  } else {
    ReadUntilEndSep(frame->Body(), deadline);
  }
  const std::string_view end = FClient.Buffered();
  if (end.size() >= 2) {
    CheckEndSepByte(static_cast<uint8_t>(end[0]));
    CheckLineSepByte(static_cast<uint8_t>(end[1]));
    FClient.Skip(2);
  } else {
    CheckEndSep(deadline);
    CheckLineSep(deadline);
  }
  return frame;
}

std::pair<size_t, size_t> TZQCommAdapterBaseIndy::FindHeaderBlockEnd(size_t FirstLineLength,
                                                                     TWaitDeadline& Deadline) {
  // The same limits as reading line by line: each line at most MaxHeaderLineLength, the joined block
  // (lines without CR, each with its LF) at most MaxHeaderBlockLength.
  size_t lineStart = 0;
  size_t scanned = 0;
  size_t textSize = FirstLineLength + 1;
  for (;;) {
    const std::string_view input = FClient.Buffered();
    const void* found = std::memchr(input.data() + scanned, LINE_SEP, input.size() - scanned);
    if (found != nullptr) {
      const size_t lineEnd = static_cast<size_t>(static_cast<const char*>(found) - input.data());
      if (lineEnd - lineStart > MaxHeaderLineLength)
        throw EMaxLineLengthExceeded();
      size_t length = lineEnd - lineStart;
      if (length > 0 && input[lineEnd - 1] == '\r')
        --length;
      if (length == 0)
        return {lineStart, lineEnd + 1};
      if (textSize + length + 2 > MaxHeaderBlockLength) {
        throw EZQStompError(
            Format("Frame header block longer than %d octets.", {int64_t{MaxHeaderBlockLength}}));
      }
      textSize += length + 1;
      lineStart = lineEnd + 1;
      scanned = lineStart;
      continue;
    }
    scanned = input.size();
    if (input.size() - lineStart > MaxHeaderLineLength)
      throw EMaxLineLengthExceeded();
    // The frame has begun: a header line that does not come in time is an error.
    if (!FClient.ReceiveMore(Deadline.RemainingMs()))
      throw EReadTimeout();
  }
}

void TZQCommAdapterBaseIndy::Poll() {
  ReadOneMessage(1, false);
}

bool TZQCommAdapterBaseIndy::IsConnected() const {
  return FConnected && FClient.PeerOpen();
}

void TZQCommAdapterBaseIndy::Write(const std::string& Data, int32_t SendTimeout) {
  WriteParts(Data, std::string_view(), std::string_view(), SendTimeout);
}

void TZQCommAdapterBaseIndy::WriteParts(std::string_view Head, std::string_view Body, std::string_view Tail,
                                        int32_t SendTimeout) {
  try {
    if (SendTimeout != -1)
      FClient.SetSendTimeout(SendTimeout);
    FClient.Write(Head, Body, Tail);
  } catch (const ESocketError& Error) {
    // A broker that closes the connection says why in an ERROR frame first.
    std::shared_ptr<TZQStompFrame> error;
    if (Error.GetErrorCode() == EPIPE || Error.GetErrorCode() == ECONNRESET)
      error = ReadFramesLeft();
    CloseConnection();
    if (error)
      DoFrame(error);
    throw;
  } catch (...) {
    // A torn frame must not stay on the wire for the next one to follow.
    CloseConnection();
    throw;
  }
}

std::shared_ptr<TZQStompFrame> TZQCommAdapterBaseIndy::ReadFramesLeft() {
  try {
    while (FClient.InputBufferSize() < MaxOctetsLeft && FClient.ReceiveMore(0)) {
    }
  } catch (...) {
  }
  FClient.StopReceiving();
  std::shared_ptr<TZQStompFrame> error;
  try {
    // No read waits now: each takes a line or a frame from the input, or raises at its end.
    while (!FClient.InputBufferIsEmpty()) {
      std::shared_ptr<TZQStompFrame> frame = ReadFrame(0);
      if (!frame)
        continue;
      if (frame->GetCommand() == "MESSAGE") {
        FMessageFramesLeft.push_back(std::move(frame));
      } else if (frame->GetCommand() == "ERROR" && !error) {
        error = std::move(frame);
      }
    }
  } catch (...) {
  }
  return error;
}

std::vector<IStompFramePtr> TZQCommAdapterBaseIndy::TakeMessageFramesLeft() {
  if (FConnected && !FClient.PeerOpen())
    ReadFramesLeft();
  return std::exchange(FMessageFramesLeft, {});
}

bool TZQCommAdapterBaseIndy::KeepsHeartbeats() const {
  return FConnected && !FClient.PeerClosed() && (FOutgoingHeartbeat > 0 || FIncomingHeartbeat > 0);
}

namespace {

// Milliseconds from now until Until, rounded up (a wait must not end before Until), at most INT_MAX.
int32_t MsUntil(TClock::time_point Until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(Until - TClock::now()).count();
  return static_cast<int32_t>(std::clamp<int64_t>(left, 0, INT32_MAX));
}

}  // namespace

bool TZQCommAdapterBaseIndy::AwaitInput(int32_t Timeout) {
  const bool unlimited = Timeout >= UnlimitedWait;
  if (!KeepsHeartbeats()) {
    if (!unlimited)
      return FClient.WaitForData(Timeout);
    while (FClient.InputBufferIsEmpty())
      FClient.WaitForData(-1);
    return true;
  }
  using std::chrono::milliseconds;
  const auto deadline = unlimited ? TClock::time_point::max() : TClock::now() + milliseconds(Timeout);
  const milliseconds outgoing(FOutgoingHeartbeat);
  // The grace of CheckHeartbeat: twice the broker's interval.
  const milliseconds grace(int64_t{2} * FIncomingHeartbeat);
  for (;;) {
    if (FOutgoingHeartbeat > 0 && TClock::now() - FClient.LastSent() >= outgoing)
      SendHeartbeat();
    // Wake up for whatever falls due first: the caller's time, the next heart-beat, the broker's grace.
    TClock::time_point until = deadline;
    if (FOutgoingHeartbeat > 0)
      until = std::min(until, FClient.LastSent() + outgoing);
    if (FIncomingHeartbeat > 0)
      until = std::min(until, FClient.LastReceived() + grace + milliseconds(1));
    // A wait of 0 still takes what has arrived: octets that came while nobody read count.
    if (FClient.WaitForData(MsUntil(until)))
      return true;
    if (FIncomingHeartbeat > 0 && TClock::now() - FClient.LastReceived() > grace) {
      CloseConnection();
      throw EZQStompServerHeartbeatMissing("Heartbeat too late");
    }
    if (TClock::now() >= deadline)
      return false;
  }
}

std::string TZQCommAdapterBaseIndy::ReadLine(int32_t Timeout) {
  FLineWaitTimedOut = false;
  if (Timeout < UnlimitedWait) {
    if (!KeepsHeartbeats() || !FClient.InputBufferIsEmpty())
      return FClient.ReadLn(Timeout);
    // The wait for the line's first octet keeps the heart-beats; the line then has the time left.
    const auto deadline = TClock::now() + std::chrono::milliseconds(Timeout);
    if (!AwaitInput(Timeout)) {
      FLineWaitTimedOut = true;
      return std::string();
    }
    return FClient.ReadLn(MsUntil(deadline));
  }
  // Without limit for the line's first octet; a line that has begun must end within BodyReadTimeout,
  // else the stream stalled in the middle of a frame.
  AwaitInput(UnlimitedWait);
  std::string line = FClient.ReadLn(BodyReadTimeout);
  if (line.empty() && FClient.ReadLnTimedOut())
    throw EReadTimeout();
  return line;
}

bool TZQCommAdapterBaseIndy::ReadLineTimedOut() const {
  return FLineWaitTimedOut || FClient.ReadLnTimedOut();
}

void TZQCommAdapterBaseIndy::ReadUntilEndSep(std::string& Body, TWaitDeadline& Deadline) {
  for (;;) {
    const std::string_view input = FClient.Buffered();
    const size_t end = input.find(END_SEP);
    const size_t take = end == std::string_view::npos ? input.size() : end;
    if (Body.size() + take > MaxBodyLength)
      RaiseBodyTooLong();
    Deadline.Extend(BodyReadAllowance(static_cast<int32_t>(Body.size() + take)) -
                    BodyReadAllowance(static_cast<int32_t>(Body.size())));
    // The body grows by doubling, but never beyond the limit.
    if (Body.size() + take > Body.capacity())
      Body.reserve(std::min(MaxBodyLength, std::max(2 * Body.capacity(), Body.size() + take)));
    Body.append(input.substr(0, take));
    FClient.Skip(take);
    if (end != std::string_view::npos)
      return;
    if (!FClient.ReceiveMore(Deadline.RemainingMs()))
      throw EReadTimeout();
  }
}

std::string TZQCommAdapterBaseIndy::ReadBytes(int32_t Count, TWaitDeadline& Deadline) {
  std::string data;
  if (Count > 0)
    FClient.ReadBytesInto(data, static_cast<size_t>(Count), Deadline);
  return data;
}

void TZQCommAdapterBaseIndy::CheckEndSep(TWaitDeadline& Deadline) {
  CheckEndSepByte(FClient.ReadByte(Deadline));
}

void TZQCommAdapterBaseIndy::CheckLineSep(TWaitDeadline& Deadline) {
  CheckLineSepByte(FClient.ReadByte(Deadline));
}

void TZQCommAdapterBaseIndy::ReadHeartbeatLine(int32_t Timeout) {
  // The line is only looked at, so that a frame arriving during the wait stays for the next receive.
  std::string line;
  bool complete;
  try {
    complete = FClient.PeekLn(Timeout, line);
  } catch (...) {
    CloseConnection();
    throw;
  }
  if (!complete)
    return;
  if (!line.empty())
    throw EZQStompError(Format("Unexpected line received: %s", {line}));
  FClient.ReadLn(0);
  MarkHeartbeat();
}

}  // namespace velmor
