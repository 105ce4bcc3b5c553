#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace velmor::testing {

// Extra header lines of the frame builders below, written in the given order as "name:value" without
// any escaping (a test may want raw or hostile values).
using PeerHeaders = std::vector<std::pair<std::string, std::string>>;

// Octets made readable for failure texts: LF as \n, CR as \r, TAB as \t, NUL as \0, backslash as \\,
// other octets below 0x20 or from 0x7F as \xNN; everything else as is.
std::string Printable(std::string_view Octets);

// Where two octet strings first differ, for failure texts: offset, both sides made Printable, and the
// surrounding octets.
std::string DescribeDifference(std::string_view Expected, std::string_view Actual);

// The value of the first header Name in a frame's header block (raw, no unescaping), or "" when absent.
std::string FrameHeader(std::string_view Frame, std::string_view Name);

// Broker frames as RabbitMQ sends them: command, headers, empty line, body, NUL and a trailing LF.
// "CONNECTED" with "version" first, then Extra (e.g. heart-beat, session, server).
std::string ConnectedFrame(const std::string& Version = "1.2", const PeerHeaders& Extra = {});
// "RECEIPT" with "receipt-id".
std::string ReceiptFrame(const std::string& ReceiptId);
// "MESSAGE" with "subscription", "destination", "message-id", then Extra, then "content-length".
std::string MessageFrame(const std::string& Destination, const std::string& MessageId,
                         const std::string& Subscription, const std::string& Body,
                         const PeerHeaders& Extra = {});
// "ERROR" with "message", "content-type:text/plain", Extra, then "content-length" of Body.
std::string ErrorFrame(const std::string& Message, const std::string& Body = "",
                       const PeerHeaders& Extra = {});

// Settings of a FakeStompPeer, fixed at construction.
struct FakeStompPeerOptions {
  // Listen on ::1 instead of 127.0.0.1.
  bool IPv6 = false;
  // Deadline of every waiting step (accept, expect, read, drain, release) unless the step names its own.
  std::chrono::milliseconds StepTimeout{5000};
  // SO_RCVBUF of the accepted connections (set on the listener, so the advertised window stays small);
  // small so that a client writing to a peer that never reads fills the socket buffers with a few MB.
  // 0 keeps the system default.
  int ReceiveBufferSize = 16 * 1024;
  // Largest frame a frame-reading step accepts before it records a failure.
  std::size_t MaxFrameSize = 64 * 1024 * 1024;
};

// A scripted STOMP broker on loopback for tests of the client.
//
// The constructor listens on an ephemeral port. The test builds a script with the fluent step
// functions, then calls Start(): a background thread accepts the first connection and runs the steps
// in order. The client may connect before or after Start() (the listener's backlog holds the
// connection), but a client call that waits for the broker's answer must come after Start().
//
// Rule of use: the script is built completely before Start(); the step functions, SetTimeout and
// Start itself must not be called after Start() (they throw std::logic_error). Everything else
// (Written, Frames, Failures, WaitDone, Done, Release, ...) may be called from any thread at any time.
//
// Every wait in the peer has a deadline; a time-out or a mismatch is recorded as a failure and ends
// the script. When the script ends, the connections stay open (nothing more is read or written) until
// the peer is destroyed. The destructor stops the thread promptly and closes all sockets.
class FakeStompPeer final {
 public:
  explicit FakeStompPeer(bool IPv6 = false);
  explicit FakeStompPeer(const FakeStompPeerOptions& Options);
  ~FakeStompPeer();

  FakeStompPeer(const FakeStompPeer&) = delete;
  FakeStompPeer& operator=(const FakeStompPeer&) = delete;

  // Whether this machine can listen and connect on ::1 (IPv6 tests skip when it cannot).
  static bool IPv6LoopbackAvailable();

  // The listening address: "127.0.0.1" or "::1", and the port.
  std::string Host() const;
  int Port() const;
  // "stomp://127.0.0.1:<port>" or "stomp://[::1]:<port>", followed by "?" and Query when not empty.
  std::string Url(const std::string& Query = "") const;

  // --- Script steps (call before Start) ---

  // Read exactly Octets.size() octets and compare them byte for byte.
  FakeStompPeer& Expect(std::string Octets);
  // Read one frame (see ReadFrame) and compare it, NUL included, with Frame.
  FakeStompPeer& ExpectFrame(std::string Frame);
  // Read one frame and check that it starts with Prefix (e.g. "SUBSCRIBE\nid:1\n").
  FakeStompPeer& ExpectFrameStartingWith(std::string Prefix);
  // Read one frame and check it with Matcher; Description names the expectation in the failure text.
  FakeStompPeer& ExpectFrameMatching(std::string Description,
                                     std::function<bool(const std::string&)> Matcher);
  // Read one frame and record it without comparing. A frame is: leading heart-beat EOLs (LF or CR LF,
  // skipped but kept in Written), the header block up to the empty line, then the body by
  // "content-length" when the frame has that header, else up to the NUL; the frame ends with its NUL.
  // Octets after the NUL (e.g. an LF) are left for the next step.
  FakeStompPeer& ReadFrame();
  // Read one heart-beat: an LF or CR LF.
  FakeStompPeer& ExpectHeartbeat();
  // Read until the client closes its side; anything but heart-beat EOLs before the close is a failure.
  FakeStompPeer& ExpectClosed();
  // Read and discard (still recorded in Written) everything until the client closes its side.
  FakeStompPeer& Drain();

  // Write Octets in one go.
  FakeStompPeer& Send(std::string Octets);
  // Write the octets Make returns when the step runs (e.g. built from Frames() read so far).
  FakeStompPeer& SendWith(std::function<std::string()> Make);
  // Send ReceiptFrame for the "receipt" header of the last frame read; a failure when it has none.
  FakeStompPeer& SendReceiptForLastFrame();
  // Write Octets one at a time, each in its own send call with TCP_NODELAY, waiting Gap between them.
  FakeStompPeer& Dribble(std::string Octets, std::chrono::milliseconds Gap = std::chrono::milliseconds{0});
  // Sleep (cut short only by the peer's destruction).
  FakeStompPeer& Stall(std::chrono::milliseconds Duration);
  // Close the current connection (after a partial Send this closes mid-frame).
  FakeStompPeer& CloseConnection();
  // Stop reading for good but keep the connection open, so the client's writes fill the socket buffers.
  // The steps after it must not read from this connection.
  FakeStompPeer& NeverRead();
  // Accept the next connection (e.g. the client's reconnect) within the step time-out; the steps after it
  // work on that connection. The previous connection stays open unless the script closed it.
  FakeStompPeer& AcceptNext();
  // Wait until the test calls Release() (each Release lets one such step pass), within the step time-out.
  FakeStompPeer& WaitUntilReleased();
  // Run Step on the peer thread; an exception it throws is recorded as a failure.
  FakeStompPeer& Call(std::function<void()> Custom);

  // Change the step time-out of the steps added after this call.
  FakeStompPeer& SetTimeout(std::chrono::milliseconds Timeout);

  // Start the peer thread: accept the first connection within the step time-out and run the script.
  void Start();

  // --- Observation (any thread, any time) ---

  // Lets one WaitUntilReleased step pass (now or when it is reached).
  void Release();
  // Waits until the script has stopped; true when it ran to its end without failure.
  bool WaitDone(std::chrono::milliseconds Timeout = std::chrono::milliseconds{5000});
  // True once the script has stopped (ended or failed), without waiting.
  bool Finished() const;
  // For gtest: EXPECT_TRUE(Peer.Done()) waits like WaitDone and lists the failures when there are any.
  ::testing::AssertionResult Done(std::chrono::milliseconds Timeout = std::chrono::milliseconds{5000});
  // The failure texts recorded so far; empty when all went well.
  std::vector<std::string> Failures() const;
  // All octets the peer read from the client so far, in order, over all connections.
  std::string Written() const;
  // The frames read so far by the frame-reading steps, each ending with its NUL.
  std::vector<std::string> Frames() const;
  // The last frame read, or "" when none.
  std::string LastFrame() const;
  // Connections accepted so far.
  int Connections() const;
  // Script steps completed so far.
  std::size_t StepsDone() const;

 private:
  struct Step;
  enum class ReadResult { Data, Closed, Failed };

  void Run();
  void RunStep(const Step& Current);
  void Fail(const std::string& Text);
  void CheckNotStarted(const char* What) const;
  FakeStompPeer& Add(Step&& NewStep);

  // Wire helpers run on the peer thread; each returns false after recording a failure.
  bool AcceptConnection(std::chrono::milliseconds Timeout);
  ReadResult ReadSome(std::chrono::steady_clock::time_point Deadline, const char* What);
  bool ReadExactly(std::size_t Count, std::chrono::steady_clock::time_point Deadline, const char* What,
                   std::string& Out);
  bool ReadOneFrame(std::chrono::steady_clock::time_point Deadline, std::string& Frame);
  bool ReadUntilClosed(std::chrono::steady_clock::time_point Deadline, bool OnlyHeartbeats);
  bool WriteAll(std::string_view Octets, std::chrono::milliseconds Timeout);
  bool SleepFor(std::chrono::milliseconds Duration);
  bool NeedConnection(const char* What);
  void CloseCurrent();

  FakeStompPeerOptions FOptions;
  std::chrono::milliseconds FNextTimeout;
  int FListener = -1;
  int FWakeRead = -1;
  int FWakeWrite = -1;
  int FPort = 0;
  std::vector<Step> FScript;
  bool FStarted = false;
  std::thread FThread;

  // Peer-thread state: the current connection, its unconsumed input and the retired sockets.
  int FConnection = -1;
  bool FReading = true;
  std::string FPending;
  std::vector<int> FRetired;

  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  bool FStopping = false;
  bool FFinished = false;
  bool FSucceeded = false;
  int FReleases = 0;
  int FConnections = 0;
  std::size_t FStepsDone = 0;
  std::vector<std::string> FFailures;
  std::string FWritten;
  std::vector<std::string> FFrames;
};

}  // namespace velmor::testing
