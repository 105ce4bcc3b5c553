#include "FakeCommAdapter.h"

#include <chrono>
#include <thread>

#include "ZQAbstractCommAdapter.h"
#include "ZQExceptions.h"

namespace velmor::testing {

void TFakeCommAdapter::Init(const IURIPtr& URI) {
  if (FConnected)
    throw EMQException("Transport layer is already connected.");
  FURI = URI;
  FParams = URI ? QueryOptionList(URI->GetParams()) : std::vector<std::string>();
}

void TFakeCommAdapter::Connect() {
  if (FConnected)
    throw EMQException("Transport layer is already connected.");
  ++Connects;
  const std::string broker = FURI ? FURI->GetHost() + ":" + FURI->GetPort() : std::string();
  Attempts.push_back({broker, ""});
  if (OnConnect)
    OnConnect(broker);
  Open = true;
  FOnConnected(*this);
  const bool error = !Incoming.empty() && Incoming.front()->GetCommand() == "ERROR";
  ReadOneMessage(5000, true);
  // The client must have raised on the broker's ERROR.
  if (error)
    throw EMQException("an ERROR frame must raise");
  FConnected = true;
}

bool TFakeCommAdapter::Supports(const std::string& Scheme) const {
  return Scheme == "stomp" || Scheme == "failover:(stomp";
}

void TFakeCommAdapter::Disconnect() {
  ++Disconnects;
  Open = false;
  FConnected = false;
}

std::string TFakeCommAdapter::GetParam(const std::string& Name) const {
  return OptionValue(FParams, Name);
}

void TFakeCommAdapter::ReadOneMessage(int32_t /*Timeout*/, bool RaiseOnNoData) {
  if (Incoming.empty()) {
    if (RaiseOnNoData) {
      Open = false;
      FConnected = false;
      throw EMQException("ReadOneMessage: received no data.");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return;
  }
  const IStompFramePtr frame = Incoming.front();
  Incoming.pop_front();
  FOnFrame(frame);
}

void TFakeCommAdapter::Write(const std::string& Data, int32_t SendTimeout) {
  if (!Open)
    throw EMQException("Not Connected");
  Written.push_back(Data);
  SendTimeouts.push_back(SendTimeout);
  if (!Attempts.empty())
    Attempts.back().ConnectFrame += Data;
  if (OnWrite)
    OnWrite(Data);
}

void TFakeCommAdapter::WriteParts(std::string_view Head, std::string_view Body, std::string_view Tail,
                                  int32_t SendTimeout) {
  std::string data(Head);
  data.append(Body).append(Tail);
  Write(data, SendTimeout);
}

void TFakeCommAdapter::SendHeartbeat() {
  if (FOutgoing <= 0)
    throw EZQStompError("Server does not expect heartbeats.");
  Write("\n", -1);
}

void TFakeCommAdapter::CheckHeartbeat() {
  if (FIncoming <= 0)
    throw EZQStompError("Server does not send heartbeats.");
}

void TFakeCommAdapter::RequireVersion(TStompVersion Version) const {
  if (FVersion < Version && Version == 2)
    throw EZQStompError("STOMP 1.1 support is required for this operation.");
}

}  // namespace velmor::testing
