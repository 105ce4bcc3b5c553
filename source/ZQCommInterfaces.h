#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ZQStompFrame.h"
#include "ZQStompTypes.h"
#include "ZQURI.h"

namespace velmor {

class IStompCommAdapter;

// Called by Connect once the TCP connection is open, with the adapter itself; the STOMP client writes
// CONNECT here.
using TStompConnectedEvent = std::function<void(IStompCommAdapter& Adapter)>;

// Called with each frame read (by ReadOneMessage, Receive, Poll and Connect).
using TStompFrameEvent = std::function<void(const IStompFramePtr& Frame)>;

// A third handler that the adapter only stores and hands back; nothing calls it.
using TStompSpareEvent = std::function<void()>;

// The STOMP client's transport: one connection to the broker, read one frame at a time, encoded frames
// written in one call, heart-beat intervals, the negotiated protocol version and the broker URL's query
// options.
//
// Every time-out is a whole number of milliseconds in a signed 32-bit integer: a send time-out of -1
// leaves the socket unchanged, a connect time-out of 0 means no limit, a read time-out below 1 counts
// as 1 ms.
//
// Not thread-safe: one adapter serves one caller at a time, and every operation blocks the calling
// thread. The handlers must be installed before Connect and before any read.
class IStompCommAdapter {
 public:
  virtual ~IStompCommAdapter() = default;

  virtual void SetOnConnected(TStompConnectedEvent Handler) = 0;
  virtual TStompConnectedEvent GetOnConnected() const = 0;
  virtual void SetSpareHandler(TStompSpareEvent Handler) = 0;
  virtual TStompSpareEvent GetSpareHandler() const = 0;
  // The handler gets every frame read. To use the frame after the call, keep the shared pointer: a
  // frame nobody holds any more may be refilled by the next read.
  virtual void SetOnFrame(TStompFrameEvent Handler) = 0;
  virtual TStompFrameEvent GetOnFrame() const = 0;

  // Time-out of the TCP connect and of the wait for the broker's first frame; used only while
  // GetUseConnectTimeout is true.
  virtual void SetConnectTimeout(int32_t Ms) = 0;
  virtual int32_t GetConnectTimeout() const = 0;

  // Heart-beat intervals in ms; 0 or less means off.
  virtual void SetOutgoingHeartbeat(int32_t Ms) = 0;
  virtual int32_t GetOutgoingHeartbeat() const = 0;
  virtual void SetIncomingHeartbeat(int32_t Ms) = 0;
  virtual int32_t GetIncomingHeartbeat() const = 0;

  // Negotiated protocol version: 1 = STOMP 1.0, 2 = 1.1, 3 = 1.2. Starts at 1.
  virtual TStompVersion GetVersion() const = 0;
  virtual void SetVersion(TStompVersion Version) = 0;
  // STOMP 1.0 frames of this connection carry headers with 1.1's escaping, both ways, and received 1.0
  // and 1.1 headers may carry a CR escaped as "\r" (a broker that treats headers so). Starts off.
  virtual bool GetEscapeV10Headers() const = 0;
  virtual void SetEscapeV10Headers(bool Value) = 0;

  // Takes the broker address and its query options; refused while connected.
  virtual void Init(const IURIPtr& URI) = 0;
  // The URI last given to Init (the same object).
  virtual IURIPtr GetURI() const = 0;

  virtual bool GetUseConnectTimeout() const = 0;
  virtual void SetUseConnectTimeout(bool Value) = 0;

  // Opens the TCP connection, calls the connected handler, reads the broker's first frame and hands it
  // to the frame handler; only then does the adapter count as connected.
  virtual void Connect() = 0;
  // Whether a broker URL scheme can be served: exactly "stomp" or "failover:(stomp".
  virtual bool Supports(const std::string& Scheme) const = 0;
  virtual void Disconnect() = 0;
  virtual bool IsConnected() const = 0;

  // Value of the URL option Name (letter case ignored, first match); empty when absent.
  virtual std::string GetParam(const std::string& Name) const = 0;

  // Waits without limit for data, then reads one frame (to the frame handler). Raises when the peer
  // has closed the connection.
  virtual void Receive() = 0;
  // Reads at most one frame within Timeout ms and hands it to the frame handler. With RaiseOnNoData, no
  // frame is an error.
  virtual void ReadOneMessage(int32_t Timeout, bool RaiseOnNoData) = 0;
  // ReadOneMessage(1, false).
  virtual void Poll() = 0;
  // Writes all octets of Data; SendTimeout -1 leaves the socket's send time-out unchanged.
  virtual void Write(const std::string& Data, int32_t SendTimeout) = 0;
  // The same for the octets of Head, Body and Tail in this order, written from where they lie (a frame
  // with a large body needs no copy of it behind its header block).
  virtual void WriteParts(std::string_view Head, std::string_view Body, std::string_view Tail,
                          int32_t SendTimeout) = 0;

  // The MESSAGE frames that a connection the broker closed still held and nobody read: those read while
  // looking for the broker's ERROR after a failed write, then those still buffered, read without
  // waiting. Taken once; raises nothing.
  virtual std::vector<IStompFramePtr> TakeMessageFramesLeft() = 0;

  // The adapter class name, for example "TZQCommAdapterIndy".
  virtual std::string GetClassName() const = 0;

  // Writes one heart-beat (a single LF).
  virtual void SendHeartbeat() = 0;
  // Raises EZQStompServerHeartbeatMissing when the broker was last heard from more than twice the
  // incoming interval ago.
  virtual void CheckHeartbeat() = 0;
  virtual bool OutgoingHeartbeatEnabled() const = 0;
  virtual bool IncomingHeartbeatEnabled() const = 0;
  // Records that the broker was heard from now.
  virtual void MarkHeartbeat() = 0;
  // Waits up to Timeout ms for one heart-beat line; true when one arrived.
  virtual bool WaitHeartbeat(int32_t Timeout) = 0;
  virtual bool SupportsVersion(TStompVersion Version) const = 0;
  // Raises EZQStompError when the negotiated version is below Version (2 or 3).
  virtual void RequireVersion(TStompVersion Version) const = 0;
};

using IStompCommAdapterPtr = std::shared_ptr<IStompCommAdapter>;

}  // namespace velmor
