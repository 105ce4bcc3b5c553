#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ZQCommInterfaces.h"
#include "ZQSocket.h"
#include "ZQStompFrame.h"
#include "ZQStompInterfaces.h"
#include "ZQStompTypes.h"
#include "ZQURI.h"

namespace velmor {

// The system's millisecond tick counter: 32 bits, wrapping at 2^32.
uint32_t CurrentTicks();

// Milliseconds from Old to New, modulo 2^32 (a New below Old means the counter wrapped once).
inline uint32_t ElapsedTicks(uint32_t Old, uint32_t New) {
  return New - Old;
}

// Where CurrentTicks reads the counter. nullptr restores the system counter; tests install a function
// of their own. Safe to change from any thread.
using TTickSource = uint32_t (*)();
void SetTickSource(TTickSource Source);

// Splits an option list at Delimiter by the library's one rule: outside double quotes, blanks and
// control characters also end an item and are skipped between items; an item that begins with a double
// quote runs to the matching quote (a doubled quote stands for one) and loses the quotes; a delimiter
// at the very end adds an empty item.
std::vector<std::string> SplitOptionList(std::string_view Text, char Delimiter = '&');

// The options of a broker URL's query text (what follows the URL's first "?"), split at "&" by
// SplitOptionList: a later "?" belongs to an option's value. The STOMP client and the adapter both read
// a URL's options so.
std::vector<std::string> QueryOptionList(std::string_view Query);

// The option's name: the text before its first "=", empty when it has none.
std::string OptionName(std::string_view Item);

// The option's value: the text after its first "=", empty when it has none.
std::string OptionItemValue(std::string_view Item);

// The value of the first item whose name equals Name without regard to ASCII letter case: the text after
// its first "="; empty when there is none.
std::string OptionValue(const std::vector<std::string>& Items, std::string_view Name);

// The port of a broker URL from its text: the integer under the library's rule (0 when the text is not
// one), which must lie in 0..65535, else ERangeError "Range check error".
int32_t CheckedPort(std::string_view PortText);

// State, handlers, heart-beat and version logic, URL options and the first-line and header-block reading
// shared by every adapter; the transport operations are left to subclasses. Not thread-safe.
class TZQAbstractCommAdapter : public IStompCommAdapter {
 public:
  // Time the rest of a frame may take after its first line, at the least.
  static constexpr int32_t BodyReadTimeout = 5000;
  // Further time the rest of a frame may take for each MiB of its announced body.
  static constexpr int32_t BodyReadTimePerMiB = 5000;
  // The time-out of a wait without limit (Receive).
  static constexpr int32_t UnlimitedWait = INT32_MAX;

  ~TZQAbstractCommAdapter() override = default;
  TZQAbstractCommAdapter(const TZQAbstractCommAdapter&) = delete;
  TZQAbstractCommAdapter& operator=(const TZQAbstractCommAdapter&) = delete;

  void SetOnConnected(TStompConnectedEvent Handler) override { FOnConnected = std::move(Handler); }
  TStompConnectedEvent GetOnConnected() const override { return FOnConnected; }
  void SetSpareHandler(TStompSpareEvent Handler) override { FSpareHandler = std::move(Handler); }
  TStompSpareEvent GetSpareHandler() const override { return FSpareHandler; }
  void SetOnFrame(TStompFrameEvent Handler) override { FOnFrame = std::move(Handler); }
  TStompFrameEvent GetOnFrame() const override { return FOnFrame; }
  void SetConnectTimeout(int32_t Ms) override { FConnectTimeout = Ms; }
  int32_t GetConnectTimeout() const override { return FConnectTimeout; }
  void SetOutgoingHeartbeat(int32_t Ms) override { FOutgoingHeartbeat = Ms; }
  int32_t GetOutgoingHeartbeat() const override { return FOutgoingHeartbeat; }
  void SetIncomingHeartbeat(int32_t Ms) override { FIncomingHeartbeat = Ms; }
  int32_t GetIncomingHeartbeat() const override { return FIncomingHeartbeat; }
  TStompVersion GetVersion() const override;
  void SetVersion(TStompVersion Version) override { FVersion = Version; }
  bool GetEscapeV10Headers() const override { return FEscapeV10Headers; }
  void SetEscapeV10Headers(bool Value) override { FEscapeV10Headers = Value; }
  void Init(const IURIPtr& URI) override;
  IURIPtr GetURI() const override { return FBrokerURI; }
  bool GetUseConnectTimeout() const override { return FUseConnectTimeout; }
  void SetUseConnectTimeout(bool Value) override { FUseConnectTimeout = Value; }
  bool Supports(const std::string& Scheme) const override;
  bool IsConnected() const override { return FConnected; }
  // None: only a socket adapter holds frames of its own.
  std::vector<IStompFramePtr> TakeMessageFramesLeft() override { return {}; }
  std::string GetParam(const std::string& Name) const override;
  void SendHeartbeat() override;
  void CheckHeartbeat() override;
  bool OutgoingHeartbeatEnabled() const override { return FOutgoingHeartbeat > 0; }
  bool IncomingHeartbeatEnabled() const override { return FIncomingHeartbeat > 0; }
  void MarkHeartbeat() override;
  bool WaitHeartbeat(int32_t Timeout) override;
  bool SupportsVersion(TStompVersion Version) const override { return FVersion >= Version; }
  void RequireVersion(TStompVersion Version) const override;

  // When the broker was last heard from (tick count).
  uint32_t GetLastHeartbeat() const { return FLastHeartbeat; }

 protected:
  TZQAbstractCommAdapter();

  // Reads one line up to LF (one CR before it dropped) within Timeout ms for the whole line. An empty
  // result is an empty line or a time-out; ReadLineTimedOut tells which.
  virtual std::string ReadLine(int32_t Timeout) = 0;
  virtual bool ReadLineTimedOut() const = 0;
  // Appends to Body the octets up to the next NUL, which stays unread, by Deadline: the body of a frame
  // without "content-length". Deadline moves later by the BodyReadAllowance of the octets as they come;
  // more than MaxBodyLength of them raise the body-limit error (EZQStompError).
  virtual void ReadUntilEndSep(std::string& Body, TWaitDeadline& Deadline) = 0;
  // Reads exactly Count octets by Deadline.
  virtual std::string ReadBytes(int32_t Count, TWaitDeadline& Deadline) = 0;
  // Read one octet by Deadline and check that it is NUL, resp. LF.
  virtual void CheckEndSep(TWaitDeadline& Deadline) = 0;
  virtual void CheckLineSep(TWaitDeadline& Deadline) = 0;
  // Chooses the text encoding of line reads once the connection is open; lines are UTF-8 octets here.
  virtual void ConfigureEncoding() {}
  // The line read of WaitHeartbeat: an empty line within Timeout is marked as a heart-beat.
  virtual void ReadHeartbeatLine(int32_t Timeout) = 0;
  // Reads one whole frame within Timeout (at least 1), or returns none when no frame came.
  virtual IStompFramePtr ReceiveFrame(int32_t Timeout) = 0;
  // Progress texts; nothing is logged.
  virtual void Trace(const std::string& Text) const { static_cast<void>(Text); }

  void CheckNotConnected() const;
  void CheckConnected() const;
  static void CheckTimeout(int32_t Timeout);
  void CheckIncomingHeartbeat() const;
  // Refuses to read or connect before the handlers are installed.
  void CheckHandlers(bool NeedConnected) const;

  // The first line of a frame; empty lines are heart-beats while incoming heart-beats are on. Empty when
  // no frame began within Timeout.
  std::string ReadFirstLine(int32_t Timeout);
  // Reads the header lines after FirstLine by Deadline (a time-out raises EReadTimeout) and decodes the
  // block.
  IStompFramePtr ReceiveHeader(const std::string& FirstLine, TWaitDeadline& Deadline);
  void DoFrame(const IStompFramePtr& Frame);
  int32_t ConnectWaitTimeout() const;
  // The time the rest of a frame may take once its first line is in, before its body is known: the
  // caller's time-out, and never less than BodyReadTimeout; BodyReadTimeout when the caller waits
  // without limit, so that a frame that stops or drips half-way never holds the caller for longer.
  static int32_t FrameRestTimeout(int32_t Timeout);
  // The further time a body of Length octets may take: BodyReadTimePerMiB for each MiB, rounded up
  // to the millisecond.
  static int64_t BodyReadAllowance(int32_t Length);
  // The body length that a "content-length" header (nullptr: none) announces: none without the header,
  // 0 for a value that is not an integer, and an integer beyond the 64-bit range as the nearer end of it.
  static std::optional<int64_t> AnnouncedLength(const std::string* Header);
  // Refuses an announced body length the reader does not read: a negative one and one over
  // MaxBodyLength (EZQStompError), before any of the body is read.
  static void CheckContentLength(int64_t Length);
  // The body-limit error.
  [[noreturn]] static void RaiseBodyTooLong();
  static void CheckLineSepByte(uint8_t Octet);
  static void CheckEndSepByte(uint8_t Octet);

  int32_t FConnectTimeout = 0;
  bool FUseConnectTimeout = false;
  TStompVersion FVersion = 1;
  bool FEscapeV10Headers = false;
  IStompDecoderPtr FDecoder;
  IURIPtr FBrokerURI;
  int32_t FOutgoingHeartbeat = 0;
  int32_t FIncomingHeartbeat = 0;
  uint32_t FLastHeartbeat = 0;
  bool FHeartbeatReceived = false;
  std::vector<std::string> FParamList;
  TStompSpareEvent FSpareHandler;
  TStompConnectedEvent FOnConnected;
  TStompFrameEvent FOnFrame;
  bool FConnected = false;
};

}  // namespace velmor
