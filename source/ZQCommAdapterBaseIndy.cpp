#include "ZQCommAdapterBaseIndy.h"

#include <cstdint>

#include "ZQExceptions.h"
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
  IStompFramePtr frame;
  try {
    frame = ReceiveFrame(Timeout >= 1 ? Timeout : 1);
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
}

void TZQCommAdapterBaseIndy::Poll() {
  ReadOneMessage(1, false);
}

void TZQCommAdapterBaseIndy::Write(const std::string& Data, int32_t SendTimeout) {
  try {
    if (SendTimeout != -1)
      FClient.SetSendTimeout(SendTimeout);
    FClient.Write(Data);
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
