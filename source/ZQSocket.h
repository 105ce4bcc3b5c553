#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ZQExceptions.h"

namespace velmor {

// Errors of the socket layer. They stand beside the messaging errors, directly under EVelmorError, so
// that the adapter can tell them apart from protocol errors; ESocketLayerError catches them all.
class ESocketLayerError : public EVelmorError {
 public:
  using EVelmorError::EVelmorError;
};

// A read did not complete within its time-out: "Read timed out."
class EReadTimeout final : public ESocketLayerError {
 public:
  EReadTimeout();
};

// The peer closed the connection and no more buffered octets can satisfy the read:
// "Connection Closed Gracefully."
class EConnClosedGracefully final : public ESocketLayerError {
 public:
  EConnClosedGracefully();
};

// Reading from or writing to a client that has no open connection: "Not Connected"
class ENotConnected final : public ESocketLayerError {
 public:
  ENotConnected();
};

// A system call failed: "Socket Error # <code>" CR LF "<system text>".
class ESocketError final : public ESocketLayerError {
 public:
  explicit ESocketError(int ErrorCode);
  int GetErrorCode() const { return FErrorCode; }

 private:
  int FErrorCode;
};

// The connect did not complete within the connect time-out: "Connect timed out."
class EConnectTimeout final : public ESocketLayerError {
 public:
  EConnectTimeout();
};

// Connect without a host: "A Host is required"
class EHostRequired final : public ESocketLayerError {
 public:
  EHostRequired();
};

// Connect with port 0: "A Port is required"
class EPortRequired final : public ESocketLayerError {
 public:
  EPortRequired();
};

// The host name could not be resolved for the chosen IP version: "Could not resolve host <host>: <reason>"
class EResolveError final : public ESocketLayerError {
 public:
  using ESocketLayerError::ESocketLayerError;
};

// A line's terminator lies more than the maximum line length into the input: "Max line length exceeded."
class EMaxLineLengthExceeded final : public ESocketLayerError {
 public:
  EMaxLineLengthExceeded();
};

using TClock = std::chrono::steady_clock;

// Milliseconds left until Deadline, 0 when it has passed, capped to what poll() takes.
int RemainingMs(TClock::time_point Deadline);

// A time limit of Ms milliseconds (negative counts as 0) that starts when it is first asked for the
// time left: reads that find their octets already buffered never read the clock.
class TWaitDeadline final {
 public:
  explicit TWaitDeadline(int32_t Ms) : FMs(Ms < 0 ? 0 : Ms) {}
  int RemainingMs();
  // Moves the limit Ms (0 or more) milliseconds later.
  void Extend(int64_t Ms);

 private:
  int64_t FMs;
  bool FStarted = false;
  TClock::time_point FDeadline;
};

// A TCP client connection with its own input buffer. Octets already received are delivered before a
// close by the peer is reported. Every wait uses poll() with a deadline; EINTR is retried; writes never
// raise SIGPIPE.
//
// Time-outs are milliseconds. The read time-out (0 or less: none, the value after each connect) limits
// each wait of ReadBytes, ReadByte and of ReadLn with Timeout -1.
//
// Not thread-safe: one thread at a time. Not copyable; closes its socket when destroyed.
class TTCPClient final {
 public:
  static constexpr size_t DefaultMaxLineLength = 16384;
  // The room ReadBytesInto makes before any octet of a read arrived (or the count, when smaller).
  static constexpr size_t InitialReadReserve = 256 * 1024;

  TTCPClient() = default;
  ~TTCPClient();
  TTCPClient(const TTCPClient&) = delete;
  TTCPClient& operator=(const TTCPClient&) = delete;

  void SetHost(const std::string& Host) { FHost = Host; }
  const std::string& GetHost() const { return FHost; }
  // Whether error texts may name the host; not when it may hold part of a broker URL's user
  // information (the resolve error then speaks of the broker URL's host). Names it by default.
  void SetHostInErrors(bool Value) { FHostInErrors = Value; }
  // 0 to 65535; anything else raises ERangeError.
  void SetPort(int32_t Port);
  int32_t GetPort() const { return FPort; }
  // Connect over IPv6 instead of IPv4.
  void SetIPv6(bool Value) { FIPv6 = Value; }
  bool GetIPv6() const { return FIPv6; }
  // 0 or less: the connect waits as long as the system lets it.
  void SetConnectTimeout(int32_t Ms) { FConnectTimeout = Ms; }
  int32_t GetConnectTimeout() const { return FConnectTimeout; }
  void SetReadTimeout(int32_t Ms) { FReadTimeout = Ms; }
  int32_t GetReadTimeout() const { return FReadTimeout; }

  // Closes any open connection, resolves the host for the chosen IP version (a literal address is used
  // as it is) and connects, trying each address in turn within one connect deadline. Resets the read
  // time-out to none and empties the input buffer.
  void Connect();
  // Takes an already connected stream socket as this client's connection (it closes it later); for
  // in-process peers.
  void Adopt(int Handle);
  // Closes the connection and drops buffered input; nothing happens when none is open.
  void Disconnect();
  // A socket is open (the peer may have closed its side; see PeerClosed).
  bool Connected() const { return FHandle >= 0; }
  // The peer has closed its side (or StopReceiving was called); buffered octets may still be read.
  bool PeerClosed() const { return FPeerClosed; }
  // Takes no more input: reads are served from the octets buffered so far, and one that needs more
  // raises EConnClosedGracefully at once, as after the peer's close.
  void StopReceiving() { FPeerClosed = true; }
  // A socket is open and the peer has neither closed nor reset it, by a check that does not wait (also
  // when unread octets come before the peer's close).
  bool PeerOpen() const;

  // Reads one line up to Terminator and returns the octets before it; for LF one CR just before it is
  // dropped. Timeout 0 or more limits the whole line from the start of the call; -1 limits each wait by
  // the read time-out. When the line does not complete in time the result is empty, ReadLnTimedOut is
  // true, and the octets received stay buffered. A terminator more than MaxLength octets into the input
  // raises EMaxLineLengthExceeded as soon as that many octets are buffered.
  std::string ReadLn(int32_t Timeout = -1, size_t MaxLength = DefaultMaxLineLength, char Terminator = '\n');
  bool ReadLnTimedOut() const { return FReadLnTimedOut; }
  // Waits up to Timeout ms (0 or more) for a complete line and returns true with it in Line, without
  // taking it from the input; false when none completed in time. Raises as ReadLn does.
  bool PeekLn(int32_t Timeout, std::string& Line, size_t MaxLength = DefaultMaxLineLength);

  // Reads exactly Count octets. Each wait is limited by WaitLimit ms, or by the read time-out when
  // WaitLimit is -1; a wait that runs out raises EReadTimeout. Memory grows with the octets that arrive.
  std::string ReadBytes(size_t Count, int32_t WaitLimit = -1);
  // Appends exactly Count octets to Out under the same rule. Out's room grows with the octets that
  // arrive (to at most the whole count), so that an announced size alone takes little memory.
  void ReadBytesInto(std::string& Out, size_t Count, int32_t WaitLimit = -1);
  // The same, with every wait ending at Deadline: all Count octets must be in by then.
  void ReadBytesInto(std::string& Out, size_t Count, TWaitDeadline& Deadline);
  // Reads one octet under the same rules.
  uint8_t ReadByte(int32_t WaitLimit = -1);
  uint8_t ReadByte(TWaitDeadline& Deadline);

  // The received octets not yet read; valid until the next read, receive or Skip.
  std::string_view Buffered() const { return std::string_view(FBuffer.data() + FStart, FEnd - FStart); }
  // Takes Count octets (at most InputBufferSize) from the input.
  void Skip(size_t Count) {
    FStart += Count;
    FScanned = 0;
  }
  // Adds to the input what arrives within Timeout ms (negative: without limit); false when nothing came
  // in time. Raises ENotConnected without a connection and EConnClosedGracefully when the peer has
  // closed (the buffered octets stay readable).
  bool ReceiveMore(int32_t Timeout);

  bool InputBufferIsEmpty() const { return FStart == FEnd; }
  size_t InputBufferSize() const { return FEnd - FStart; }
  // Waits up to Timeout ms (negative: without limit) until some input is buffered: true when there is,
  // false on time-out. Raises ENotConnected without a connection and EConnClosedGracefully when the
  // peer has closed and nothing is buffered.
  bool WaitForData(int32_t Timeout);

  // Writes all of Data before returning. A failed or partial write raises ESocketError; the caller
  // must then drop the connection.
  void Write(std::string_view Data);
  // The same for Head, Body and Tail in this order, gathered from where they lie (one system call as
  // far as the socket takes them).
  void Write(std::string_view Head, std::string_view Body, std::string_view Tail);
  // Sets SO_SNDTIMEO; 0 or less means no limit.
  void SetSendTimeout(int32_t Ms);

  // When octets last arrived from the peer, and when a write last completed; both start when the
  // connection is made (or adopted).
  TClock::time_point LastReceived() const { return FLastReceived; }
  TClock::time_point LastSent() const { return FLastSent; }

 private:
  // Receives what is available after waiting at most PollTimeout ms (negative: without limit); false
  // when the wait ran out. Sets FPeerClosed at the end of the stream.
  bool Fill(int PollTimeout);
  // The same, straight into Out, beyond its end and at most up to Target octets in all: for large
  // bodies, whose octets need not pass the input buffer then. Out's room grows as ReserveFor lets it.
  bool FillInto(std::string& Out, size_t Target, int PollTimeout);
  // What one receive got: octets or the end of the stream, nothing in time, or a wait cut short (by a
  // signal, or input that another reader took) that should go on for the time left.
  enum class TReceived { Octets, Nothing, Interrupted };
  // Receives at most Room octets into Into, waiting as Fill does; Got counts them.
  bool FillTo(char* Into, size_t Room, int PollTimeout, size_t& Got);
  // One receive of at most Room octets into Into that waits up to Wait ms (0: not at all, negative:
  // without limit); Got counts the octets.
  TReceived Receive(char* Into, size_t Room, int Wait, size_t& Got);
  // Sets SO_RCVTIMEO to Ms (negative: no limit) unless it has that value already.
  void SetReceiveTimeout(int Ms);
  // Makes room in Out for Needed octets on the way to Target.
  static void ReserveFor(std::string& Out, size_t Needed, size_t Target);
  // Index of the terminator in the buffer, or npos; raises when the line is too long.
  size_t FindTerminator(char Terminator, size_t MaxLength);
  // Moves the unread octets to the front of the buffer.
  void Compact();
  // After a write that took no octets: returns to try again when a signal cut it short, else raises.
  static void ResumeAfterFailedWrite(ssize_t Written);
  void CheckOpen() const;
  int WaitLimitOf(int32_t WaitLimit) const;
  // ReadBytesInto and ReadByte; Wait() gives the time limit of each wait in ms (negative: none).
  template <class TWait>
  void ReadBytesIntoWith(std::string& Out, size_t Count, TWait Wait);
  template <class TWait>
  uint8_t ReadByteWith(TWait Wait);

  std::string FHost;
  bool FHostInErrors = true;
  int32_t FPort = 0;
  bool FIPv6 = false;
  int32_t FConnectTimeout = 0;
  int32_t FReadTimeout = 0;
  int FHandle = -1;
  bool FPeerClosed = false;
  bool FReadLnTimedOut = false;
  // Received octets not yet read lie in FBuffer[FStart, FEnd); the rest of FBuffer is room for receives.
  std::string FBuffer;
  size_t FStart = 0;
  size_t FEnd = 0;
  // Octets after FStart already searched for FScanTerminator without finding it.
  size_t FScanned = 0;
  char FScanTerminator = '\n';
  // The last receive filled its whole chunk.
  bool FMoreWaiting = false;
  // The SO_RCVTIMEO of the socket in ms (-1: no limit), UnknownReceiveTimeout before it was set.
  static constexpr int UnknownReceiveTimeout = -2;
  int FReceiveTimeout = UnknownReceiveTimeout;
  // The length of the last wait asked of Receive (0: none yet).
  int FLastWait = 0;
  TClock::time_point FLastReceived;
  TClock::time_point FLastSent;
};

}  // namespace velmor
