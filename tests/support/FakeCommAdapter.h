#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ZQCommInterfaces.h"
#include "ZQStompFrame.h"
#include "ZQStompTypes.h"
#include "ZQURI.h"

namespace velmor::testing {

// A communication adapter without a socket, for unit tests of the STOMP client. Frames queued in
// Incoming are handed to the frame handler one per read; the encoded frames the client writes are kept
// in Written, and per connect in Attempts. A connect opens the fake connection, calls the connected
// handler (the client writes CONNECT) and reads the broker's first frame from Incoming; OnConnect may
// refuse the connection or queue that first frame. Not thread-safe.
class TFakeCommAdapter final : public IStompCommAdapter {
 public:
  // One connect: the broker's "host:port" and what the client wrote on that connection (its CONNECT
  // frame first; empty when the connection was refused before CONNECT).
  struct Attempt {
    std::string Broker;
    std::string ConnectFrame;
  };

  // Frames the fake broker sends, oldest first.
  std::deque<IStompFramePtr> Incoming;
  // Every write, in order, with its send time-out.
  std::vector<std::string> Written;
  std::vector<int32_t> SendTimeouts;
  // Called after each write with the octets written (to script answers).
  std::function<void(const std::string&)> OnWrite;
  // Called at each connect with the broker's "host:port" before the connection opens: it may throw to
  // refuse the connection, or queue the broker's first frame in Incoming.
  std::function<void(const std::string& Broker)> OnConnect;
  std::vector<Attempt> Attempts;
  int Connects = 0;
  int Disconnects = 0;
  // Heart-beats marked by the client.
  int Marks = 0;
  // Whether the fake connection is open (from the start of a connect to the next disconnect).
  bool Open = false;

  void SetOnConnected(TStompConnectedEvent Handler) override { FOnConnected = std::move(Handler); }
  TStompConnectedEvent GetOnConnected() const override { return FOnConnected; }
  void SetSpareHandler(TStompSpareEvent Handler) override { FSpare = std::move(Handler); }
  TStompSpareEvent GetSpareHandler() const override { return FSpare; }
  void SetOnFrame(TStompFrameEvent Handler) override { FOnFrame = std::move(Handler); }
  TStompFrameEvent GetOnFrame() const override { return FOnFrame; }
  void SetConnectTimeout(int32_t Ms) override { FConnectTimeout = Ms; }
  int32_t GetConnectTimeout() const override { return FConnectTimeout; }
  void SetOutgoingHeartbeat(int32_t Ms) override { FOutgoing = Ms; }
  int32_t GetOutgoingHeartbeat() const override { return FOutgoing; }
  void SetIncomingHeartbeat(int32_t Ms) override { FIncoming = Ms; }
  int32_t GetIncomingHeartbeat() const override { return FIncoming; }
  TStompVersion GetVersion() const override { return FVersion; }
  void SetVersion(TStompVersion Version) override { FVersion = Version; }
  bool GetEscapeV10Headers() const override { return FEscapeV10Headers; }
  void SetEscapeV10Headers(bool Value) override { FEscapeV10Headers = Value; }
  void Init(const IURIPtr& URI) override;
  IURIPtr GetURI() const override { return FURI; }
  bool GetUseConnectTimeout() const override { return false; }
  void SetUseConnectTimeout(bool /*Value*/) override {}
  void Connect() override;
  bool Supports(const std::string& Scheme) const override;
  void Disconnect() override;
  bool IsConnected() const override { return FConnected; }
  std::string GetParam(const std::string& Name) const override;
  void Receive() override { ReadOneMessage(1, false); }
  // Hands the oldest Incoming frame to the frame handler; with none, raises when RaiseOnNoData (and
  // the connection counts as lost) or else waits a millisecond.
  void ReadOneMessage(int32_t Timeout, bool RaiseOnNoData) override;
  void Poll() override { ReadOneMessage(1, false); }
  // Refused while the fake connection is not open.
  void Write(const std::string& Data, int32_t SendTimeout) override;
  // Kept as one write of the joined parts.
  void WriteParts(std::string_view Head, std::string_view Body, std::string_view Tail,
                  int32_t SendTimeout) override;
  std::vector<IStompFramePtr> TakeMessageFramesLeft() override { return {}; }
  std::string GetClassName() const override { return "TFakeCommAdapter"; }
  void SendHeartbeat() override;
  void CheckHeartbeat() override;
  bool OutgoingHeartbeatEnabled() const override { return FOutgoing > 0; }
  bool IncomingHeartbeatEnabled() const override { return FIncoming > 0; }
  void MarkHeartbeat() override { ++Marks; }
  bool WaitHeartbeat(int32_t /*Timeout*/) override { return false; }
  bool SupportsVersion(TStompVersion Version) const override { return FVersion >= Version; }
  void RequireVersion(TStompVersion Version) const override;

  // Puts the adapter in the connected state without any connect.
  void ForceConnected() { FConnected = true; }

 private:
  TStompConnectedEvent FOnConnected;
  TStompSpareEvent FSpare;
  TStompFrameEvent FOnFrame;
  int32_t FConnectTimeout = 0;
  int32_t FOutgoing = 0;
  int32_t FIncoming = 0;
  TStompVersion FVersion = 1;
  bool FEscapeV10Headers = false;
  IURIPtr FURI;
  std::vector<std::string> FParams;
  bool FConnected = false;
};

}  // namespace velmor::testing
