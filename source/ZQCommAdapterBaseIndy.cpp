#include "ZQCommAdapterBaseIndy.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "ZQExceptions.h"
#include "ZQStompDecoder.h"
#include "ZQText.h"

namespace velmor {

TZQCommAdapterBaseIndy::TZQCommAdapterBaseIndy() {
  FConnectTimeout = FClient.GetConnectTimeout();
}

void TZQCommAdapterBaseIndy::Init(const IURIPtr& URI) {
  CheckNotConnected();
  Check(URI != nullptr, "ZQCommAdapterBaseIndy", __LINE__, "Init needs a URI");
  const int32_t port = CheckedPort(URI->GetPort());
  TZQAbstractCommAdapterMQ::Init(URI);
  FClient.SetHost(URI->GetHost());
  FClient.SetPort(port);
  FClient.SetIPv6(URI->GetIsIPv6());
}

void TZQCommAdapterBaseIndy::Connect() {
  CheckNotConnected();
  CheckHandlers(true);
  FClient.Disconnect();
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
    while (FClient.InputBufferIsEmpty())
      FClient.WaitForData(INT32_MAX);
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
  const int32_t rest = FrameRestTimeout(Timeout);

  // The header block is decoded where it lies in the input buffer, once its blank line is in.
  const auto [linesEnd, blockEnd] = FindHeaderBlockEnd(firstLine.size(), rest);
  std::shared_ptr<TZQStompFrame> frame = std::move(FSpareFrame);
  if (!frame)
    frame = std::make_shared<TZQStompFrame>();
  const size_t lengthIndex =
      TZQStompDecoder::DecodeHeaderBlock(firstLine, FClient.Buffered().substr(0, linesEnd), true,
                                         HeaderEscapingVersion(GetVersion(), FEscapeV10Headers), *frame);
  FClient.Skip(blockEnd);

  const int32_t length =
      lengthIndex == std::string::npos ? 0 : StrToIntDef(frame->GetHeaders()[lengthIndex].Value, 0);
  if (length < 0)
    throw EZQStompError(Format("Invalid content-length %d.", {int64_t{length}}));
  if (length > 0)
    FClient.ReadBytesInto(frame->Body(), static_cast<size_t>(length), rest);
  const std::string_view end = FClient.Buffered();
  if (end.size() >= 2) {
    CheckEndSepByte(static_cast<uint8_t>(end[0]));
    CheckLineSepByte(static_cast<uint8_t>(end[1]));
    FClient.Skip(2);
  } else {
    CheckEndSep(rest);
    CheckLineSep(rest);
  }
  return frame;
}

std::pair<size_t, size_t> TZQCommAdapterBaseIndy::FindHeaderBlockEnd(size_t FirstLineLength,
                                                                     int32_t WaitLimit) {
  // The same limits as reading line by line: each line at most the socket layer's line length and
  // within WaitLimit from its start, the joined block (lines without CR, each with its LF) at most
  // MaxHeaderBlockLength.
  size_t lineStart = 0;
  size_t scanned = 0;
  size_t textSize = FirstLineLength + 1;
  TWaitDeadline deadline(WaitLimit);
  for (;;) {
    const std::string_view input = FClient.Buffered();
    const void* found = std::memchr(input.data() + scanned, LINE_SEP, input.size() - scanned);
    if (found != nullptr) {
      const size_t lineEnd = static_cast<size_t>(static_cast<const char*>(found) - input.data());
      if (lineEnd - lineStart > TTCPClient::DefaultMaxLineLength)
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
      deadline = TWaitDeadline(WaitLimit);
      continue;
    }
    scanned = input.size();
    if (input.size() - lineStart > TTCPClient::DefaultMaxLineLength)
      throw EMaxLineLengthExceeded();
    // The frame has begun: a header line that does not come in time is an error.
    if (!FClient.ReceiveMore(deadline.RemainingMs()))
      throw EReadTimeout();
  }
}

void TZQCommAdapterBaseIndy::Poll() {
  ReadOneMessage(1, false);
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
  } catch (...) {
    // A torn frame must not stay on the wire for the next one to follow.
    CloseConnection();
    throw;
  }
}

std::string TZQCommAdapterBaseIndy::ReadLine(int32_t Timeout) {
  if (Timeout < UnlimitedWait)
    return FClient.ReadLn(Timeout);
  // Without limit for the line's first octet; a line that has begun must end within BodyReadTimeout,
  // else the stream stalled in the middle of a frame.
  FClient.WaitForData(-1);
  std::string line = FClient.ReadLn(BodyReadTimeout);
  if (line.empty() && FClient.ReadLnTimedOut())
    throw EReadTimeout();
  return line;
}

bool TZQCommAdapterBaseIndy::ReadLineTimedOut() const {
  return FClient.ReadLnTimedOut();
}

std::string TZQCommAdapterBaseIndy::ReadUntilEndSep() {
  return FClient.ReadLn(BodyReadTimeout, MaxHeaderBlockLength, END_SEP);
}

std::string TZQCommAdapterBaseIndy::ReadBytes(int32_t Count, int32_t WaitLimit) {
  if (Count <= 0)
    return std::string();
  return FClient.ReadBytes(static_cast<size_t>(Count), WaitLimit);
}

void TZQCommAdapterBaseIndy::CheckEndSep(int32_t WaitLimit) {
  CheckEndSepByte(FClient.ReadByte(WaitLimit));
}

void TZQCommAdapterBaseIndy::CheckLineSep(int32_t WaitLimit) {
  CheckLineSepByte(FClient.ReadByte(WaitLimit));
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
