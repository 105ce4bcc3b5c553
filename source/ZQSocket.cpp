#include "ZQSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "ZQText.h"

namespace velmor {

namespace {

// Octets asked of the system per receive; the input buffer grows by at most this much beyond need.
constexpr size_t ReceiveChunk = 64 * 1024;

// Most octets a receive straight into a body asks for: the room is zeroed before the receive fills it,
// and that stays in the cache at this size.
constexpr size_t DirectReceiveWindow = 1024 * 1024;

// strerror_r comes in two forms: the XSI one returns an error number and fills the buffer, the GNU one
// returns the text, which may be a static one instead of the buffer. Overloads pick the form at hand.
[[maybe_unused]] std::string StrErrorResult(int Result, const char* Buffer) {
  return Result == 0 ? std::string(Buffer) : std::string("Unknown error");
}

[[maybe_unused]] std::string StrErrorResult(const char* Result, const char* /*Buffer*/) {
  return Result != nullptr ? std::string(Result) : std::string("Unknown error");
}

std::string SystemText(int Code) {
  char text[256] = {};
  return StrErrorResult(strerror_r(Code, text, sizeof text), text);
}

}  // namespace

// Milliseconds left until Deadline, 0 when it has passed, capped to what poll() takes.
int RemainingMs(TClock::time_point Deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
  if (left <= 0)
    return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

namespace {

// Waits for Events on Handle; false when Timeout ms (negative: no limit) ran out. EINTR is retried with
// the time that is left.
bool PollFor(int Handle, short Events, int Timeout) {
  TWaitDeadline deadline(Timeout);
  pollfd entry{};
  entry.fd = Handle;
  entry.events = Events;
  for (;;) {
    const int ready = poll(&entry, 1, Timeout < 0 ? -1 : deadline.RemainingMs());
    if (ready > 0)
      return true;
    if (ready == 0)
      return false;
    if (errno != EINTR)
      throw ESocketError(errno);
  }
}

void SetBlocking(int Handle, bool Blocking) {
  const int flags = fcntl(Handle, F_GETFL, 0);
  if (flags < 0)
    throw ESocketError(errno);
  const int wanted = Blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (wanted != flags && fcntl(Handle, F_SETFL, wanted) < 0)
    throw ESocketError(errno);
}

// Sets the time-out socket option Option (SO_RCVTIMEO, SO_SNDTIMEO) to Ms; 0 or less means no limit.
void SetTimeoutOption(int Handle, int Option, int32_t Ms) {
  timeval value{};
  if (Ms > 0) {
    value.tv_sec = Ms / 1000;
    value.tv_usec = static_cast<suseconds_t>(Ms % 1000) * 1000;
  }
  if (::setsockopt(Handle, SOL_SOCKET, Option, &value, sizeof value) != 0)
    throw ESocketError(errno);
}

void CloseHandle(int Handle) {
  // close() is not retried on EINTR: the descriptor is released either way on Linux.
  ::close(Handle);
}

// Connects one address; returns the open handle, or -1 with Error set. Raises EConnectTimeout when the
// deadline passes.
int ConnectOne(const addrinfo& Address, bool Limited, TClock::time_point Deadline, int& Error) {
  const int handle = ::socket(Address.ai_family, Address.ai_socktype | SOCK_CLOEXEC, Address.ai_protocol);
  if (handle < 0) {
    Error = errno;
    return -1;
  }
  try {
    SetBlocking(handle, false);
    if (::connect(handle, Address.ai_addr, Address.ai_addrlen) != 0) {
      if (errno != EINPROGRESS && errno != EINTR) {
        Error = errno;
        CloseHandle(handle);
        return -1;
      }
      if (!PollFor(handle, POLLOUT, Limited ? RemainingMs(Deadline) : -1)) {
        CloseHandle(handle);
        throw EConnectTimeout();
      }
      int status = 0;
      socklen_t length = sizeof status;
      if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &status, &length) != 0)
        status = errno;
      if (status != 0) {
        Error = status;
        CloseHandle(handle);
        return -1;
      }
    }
    SetBlocking(handle, true);
  } catch (const EConnectTimeout&) {
    throw;
  } catch (...) {
    CloseHandle(handle);
    throw;
  }
  // Frames are small and answered one by one (receipts, CONNECTED): send them at once.
  const int on = 1;
  ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return handle;
}

}  // namespace

int TWaitDeadline::RemainingMs() {
  if (!FStarted) {
    FStarted = true;
    FDeadline = TClock::now() + std::chrono::milliseconds(FMs);
    return FMs > INT_MAX ? INT_MAX : static_cast<int>(FMs);
  }
  return velmor::RemainingMs(FDeadline);
}

void TWaitDeadline::Extend(int64_t Ms) {
  if (Ms <= 0)
    return;
  if (FStarted) {
    FDeadline += std::chrono::milliseconds(Ms);
  } else {
    FMs += Ms;
  }
}

EReadTimeout::EReadTimeout() : ESocketLayerError("Read timed out.") {}
EConnClosedGracefully::EConnClosedGracefully() : ESocketLayerError("Connection Closed Gracefully.") {}
ENotConnected::ENotConnected() : ESocketLayerError("Not Connected") {}
ESocketError::ESocketError(int ErrorCode)
    : ESocketLayerError(Format("Socket Error # %d\r\n%s", {int64_t{ErrorCode}, SystemText(ErrorCode)})),
      FErrorCode(ErrorCode) {}
EConnectTimeout::EConnectTimeout() : ESocketLayerError("Connect timed out.") {}
EHostRequired::EHostRequired() : ESocketLayerError("A Host is required") {}
EPortRequired::EPortRequired() : ESocketLayerError("A Port is required") {}
EMaxLineLengthExceeded::EMaxLineLengthExceeded() : ESocketLayerError("Max line length exceeded.") {}

TTCPClient::~TTCPClient() {
  Disconnect();
}

void TTCPClient::SetPort(int32_t Port) {
  if (Port < 0 || Port > 65535)
    throw ERangeError("Range check error");
  FPort = Port;
}

void TTCPClient::Connect() {
  Disconnect();
  if (FHost.empty())
    throw EHostRequired();
  if (FPort == 0)
    throw EPortRequired();

  const bool limited = FConnectTimeout > 0;
  const auto deadline = TClock::now() + std::chrono::milliseconds(limited ? FConnectTimeout : 0);

  addrinfo hints{};
  hints.ai_family = FIPv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(FPort);
  int status;
  do {
    status = ::getaddrinfo(FHost.c_str(), service.c_str(), &hints, &found);
  } while (status == EAI_SYSTEM && errno == EINTR);
  if (status != 0) {
    const std::string reason = status == EAI_SYSTEM ? SystemText(errno) : std::string(gai_strerror(status));
    if (!FHostInErrors)
      throw EResolveError(Format("Could not resolve the host of the broker URL: %s", {reason}));
    throw EResolveError(Format("Could not resolve host %s: %s", {FHost, reason}));
  }

  int error = ECONNREFUSED;
  int handle = -1;
  try {
    for (const addrinfo* entry = found; entry != nullptr && handle < 0; entry = entry->ai_next) {
      handle = ConnectOne(*entry, limited, deadline, error);
    }
  } catch (...) {
    ::freeaddrinfo(found);
    throw;
  }
  ::freeaddrinfo(found);
  if (handle < 0)
    throw ESocketError(error);

  FHandle = handle;
  FReadTimeout = 0;
  FLastReceived = FLastSent = TClock::now();
}

void TTCPClient::Adopt(int Handle) {
  Disconnect();
  if (Handle < 0)
    throw ENotConnected();
  SetBlocking(Handle, true);
  FHandle = Handle;
  FReadTimeout = 0;
  FLastReceived = FLastSent = TClock::now();
}

void TTCPClient::Disconnect() {
  if (FHandle >= 0) {
    CloseHandle(FHandle);
    FHandle = -1;
  }
  FPeerClosed = false;
  FBuffer.clear();
  FBuffer.shrink_to_fit();
  FStart = 0;
  FEnd = 0;
  FScanned = 0;
  FMoreWaiting = false;
  FReceiveTimeout = UnknownReceiveTimeout;
  FLastWait = 0;
}

bool TTCPClient::PeerOpen() const {
  if (FHandle < 0 || FPeerClosed)
    return false;
  pollfd entry{};
  entry.fd = FHandle;
#ifdef POLLRDHUP
  entry.events = POLLIN | POLLRDHUP;
#else
  entry.events = POLLIN;
#endif
  int ready;
  do {
    ready = poll(&entry, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0)
    return ready == 0;
  if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
    return false;
#ifdef POLLRDHUP
  return (entry.revents & POLLRDHUP) == 0;
#else
  // Without POLLRDHUP only an empty stream shows the close.
  char octet;
  return ::recv(FHandle, &octet, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
#endif
}

void TTCPClient::CheckOpen() const {
  if (FHandle < 0)
    throw ENotConnected();
}

int TTCPClient::WaitLimitOf(int32_t WaitLimit) const {
  const int32_t limit = WaitLimit == -1 ? FReadTimeout : WaitLimit;
  return limit <= 0 ? -1 : limit;
}

void TTCPClient::Compact() {
  if (FStart == 0)
    return;
  if (FStart < FEnd)
    std::memmove(FBuffer.data(), FBuffer.data() + FStart, FEnd - FStart);
  FEnd -= FStart;
  FStart = 0;
}

bool TTCPClient::Fill(int PollTimeout) {
  CheckOpen();
  if (FPeerClosed)
    return true;
  // The buffer keeps its size; only the room for one receive is made when it lacks, first by moving the
  // unread octets to the front, so its size stays within the unread octets plus one chunk.
  if (FBuffer.size() - FEnd < ReceiveChunk) {
    Compact();
    if (FBuffer.size() - FEnd < ReceiveChunk)
      FBuffer.resize(FEnd + ReceiveChunk);
  }
  size_t got = 0;
  const bool received = FillTo(FBuffer.data() + FEnd, ReceiveChunk, PollTimeout, got);
  FEnd += got;
  return received;
}

bool TTCPClient::FillInto(std::string& Out, size_t Target, int PollTimeout) {
  CheckOpen();
  if (FPeerClosed)
    return true;
  const size_t size = Out.size();
  // Out grows (by ReserveFor's rule) only when less than a chunk of room is left; the receive then
  // takes the room there is.
  ReserveFor(Out, size + std::min(Target - size, ReceiveChunk), Target);
  const size_t window = std::min({Target - size, Out.capacity() - size, DirectReceiveWindow});
  // The room is made part of Out for the receive and cut back to what arrived, also when it fails.
  struct TCutBack {
    std::string& Out;
    size_t Size;
    ~TCutBack() { Out.resize(Size); }
  } cutBack{Out, size};
  Out.resize(size + window);
  size_t got = 0;
  const bool received = FillTo(Out.data() + size, window, PollTimeout, got);
  cutBack.Size = size + got;
  return received;
}

bool TTCPClient::FillTo(char* Into, size_t Room, int PollTimeout, size_t& Got) {
  // After a receive that filled its whole room more input is most likely waiting: take it at once.
  if (FMoreWaiting && Receive(Into, Room, 0, Got) == TReceived::Octets)
    return true;
  TWaitDeadline deadline(PollTimeout);
  for (;;) {
    const int wait = PollTimeout < 0 ? -1 : deadline.RemainingMs();
    const TReceived result = Receive(Into, Room, wait, Got);
    // A signal that ends the wait early leaves the time that is left to wait again.
    if (result != TReceived::Interrupted)
      return result == TReceived::Octets;
  }
}

void TTCPClient::SetReceiveTimeout(int Ms) {
  if (Ms == FReceiveTimeout)
    return;
  SetTimeoutOption(FHandle, SO_RCVTIMEO, Ms);
  FReceiveTimeout = Ms;
}

TTCPClient::TReceived TTCPClient::Receive(char* Into, size_t Room, int Wait, size_t& Got) {
  int flags = MSG_DONTWAIT;
  if (Wait != 0) {
    // A wait as long as the socket's receive time-out, or as the wait before it, blocks in the receive
    // itself: one system call. A wait of a new length polls first, so waits whose length changes from
    // call to call cost no setsockopt.
    const bool repeated = Wait == FReceiveTimeout || Wait == FLastWait;
    FLastWait = Wait;
    if (repeated) {
      SetReceiveTimeout(Wait);
      flags = 0;
    } else if (!PollFor(FHandle, POLLIN, Wait)) {
      return TReceived::Nothing;
    }
  }
  ssize_t received;
  do {
    received = ::recv(FHandle, Into, Room, flags);
  } while (received < 0 && errno == EINTR && flags == MSG_DONTWAIT);
  FMoreWaiting = received == static_cast<ssize_t>(Room);
  if (received > 0) {
    Got = static_cast<size_t>(received);
    FLastReceived = TClock::now();
    return TReceived::Octets;
  }
  if (received == 0) {
    FPeerClosed = true;
    return TReceived::Octets;
  }
  const int error = errno;
  if (error == EINTR)
    return TReceived::Interrupted;
  if (error != EAGAIN && error != EWOULDBLOCK)
    throw ESocketError(error);
  // Ready by poll() but taken by nobody knows what: wait again for the time that is left.
  return Wait != 0 && flags == MSG_DONTWAIT ? TReceived::Interrupted : TReceived::Nothing;
}

bool TTCPClient::ReceiveMore(int32_t Timeout) {
  CheckOpen();
  if (FPeerClosed)
    throw EConnClosedGracefully();
  return Fill(Timeout < 0 ? -1 : Timeout);
}

size_t TTCPClient::FindTerminator(char Terminator, size_t MaxLength) {
  if (Terminator != FScanTerminator) {
    FScanTerminator = Terminator;
    FScanned = 0;
  }
  const size_t available = FEnd - FStart;
  if (FScanned < available) {
    const char* begin = FBuffer.data() + FStart;
    const void* found = std::memchr(begin + FScanned, Terminator, available - FScanned);
    if (found != nullptr) {
      const size_t index = static_cast<size_t>(static_cast<const char*>(found) - begin);
      if (index > MaxLength)
        throw EMaxLineLengthExceeded();
      return index;
    }
    FScanned = available;
  }
  if (available > MaxLength)
    throw EMaxLineLengthExceeded();
  return std::string::npos;
}

std::string TTCPClient::ReadLn(int32_t Timeout, size_t MaxLength, char Terminator) {
  FReadLnTimedOut = false;
  TWaitDeadline deadline(Timeout);
  for (;;) {
    const size_t index = FindTerminator(Terminator, MaxLength);
    if (index != std::string::npos) {
      size_t length = index;
      if (Terminator == '\n' && length > 0 && FBuffer[FStart + length - 1] == '\r')
        --length;
      std::string line(FBuffer, FStart, length);
      FStart += index + 1;
      FScanned = 0;
      return line;
    }
    CheckOpen();
    if (FPeerClosed)
      throw EConnClosedGracefully();
    const int wait = Timeout < 0 ? WaitLimitOf(-1) : deadline.RemainingMs();
    if (!Fill(wait)) {
      FReadLnTimedOut = true;
      return std::string();
    }
  }
}

bool TTCPClient::PeekLn(int32_t Timeout, std::string& Line, size_t MaxLength) {
  TWaitDeadline deadline(Timeout);
  for (;;) {
    const size_t index = FindTerminator('\n', MaxLength);
    if (index != std::string::npos) {
      size_t length = index;
      if (length > 0 && FBuffer[FStart + length - 1] == '\r')
        --length;
      Line.assign(FBuffer, FStart, length);
      return true;
    }
    CheckOpen();
    if (FPeerClosed)
      throw EConnClosedGracefully();
    if (!Fill(deadline.RemainingMs()))
      return false;
  }
}

std::string TTCPClient::ReadBytes(size_t Count, int32_t WaitLimit) {
  std::string result;
  ReadBytesInto(result, Count, WaitLimit);
  return result;
}

template <class TWait>
void TTCPClient::ReadBytesIntoWith(std::string& Out, size_t Count, TWait Wait) {
  const size_t target = Out.size() + Count;
  while (Out.size() < target) {
    if (InputBufferIsEmpty()) {
      CheckOpen();
      if (FPeerClosed)
        throw EConnClosedGracefully();
      // With much left, the octets go straight into Out instead of through the input buffer; a receive
      // never asks for more than is left, so what follows the body stays for the buffer.
      const int wait = Wait();
      const bool received = target - Out.size() >= ReceiveChunk ? FillInto(Out, target, wait) : Fill(wait);
      if (!received)
        throw EReadTimeout();
      continue;
    }
    const size_t take = std::min(target - Out.size(), InputBufferSize());
    ReserveFor(Out, Out.size() + take, target);
    Out.append(FBuffer, FStart, take);
    FStart += take;
    FScanned = 0;
  }
}

void TTCPClient::ReadBytesInto(std::string& Out, size_t Count, int32_t WaitLimit) {
  const int wait = WaitLimitOf(WaitLimit);
  ReadBytesIntoWith(Out, Count, [wait] { return wait; });
}

void TTCPClient::ReadBytesInto(std::string& Out, size_t Count, TWaitDeadline& Deadline) {
  ReadBytesIntoWith(Out, Count, [&Deadline] { return Deadline.RemainingMs(); });
}

void TTCPClient::ReserveFor(std::string& Out, size_t Needed, size_t Target) {
  if (Needed <= Out.capacity())
    return;
  // What a peer merely announces is trusted only up to InitialReadReserve; beyond that the room at
  // most doubles with the octets that arrived. Once it would reach half the target it takes the whole
  // target at once: so each move copies less than half the target, and memory never holds much more
  // than the target.
  size_t room = std::max({Needed, 2 * Out.capacity(), std::min(Target, InitialReadReserve)});
  if (room >= Target / 2)
    room = Target;
  Out.reserve(room);
}

template <class TWait>
uint8_t TTCPClient::ReadByteWith(TWait Wait) {
  while (InputBufferIsEmpty()) {
    CheckOpen();
    if (FPeerClosed)
      throw EConnClosedGracefully();
    if (!Fill(Wait()))
      throw EReadTimeout();
  }
  const auto octet = static_cast<uint8_t>(FBuffer[FStart]);
  ++FStart;
  FScanned = 0;
  return octet;
}

uint8_t TTCPClient::ReadByte(int32_t WaitLimit) {
  const int wait = WaitLimitOf(WaitLimit);
  return ReadByteWith([wait] { return wait; });
}

uint8_t TTCPClient::ReadByte(TWaitDeadline& Deadline) {
  return ReadByteWith([&Deadline] { return Deadline.RemainingMs(); });
}

bool TTCPClient::WaitForData(int32_t Timeout) {
  TWaitDeadline deadline(Timeout);
  while (InputBufferIsEmpty()) {
    CheckOpen();
    if (FPeerClosed)
      throw EConnClosedGracefully();
    if (!Fill(Timeout < 0 ? -1 : deadline.RemainingMs()))
      return false;
  }
  return true;
}

void TTCPClient::Write(std::string_view Data) {
  CheckOpen();
  size_t sent = 0;
  while (sent < Data.size()) {
    const ssize_t written = ::send(FHandle, Data.data() + sent, Data.size() - sent, MSG_NOSIGNAL);
    if (written > 0) {
      sent += static_cast<size_t>(written);
    } else {
      ResumeAfterFailedWrite(written);
    }
  }
  FLastSent = TClock::now();
}

void TTCPClient::Write(std::string_view Head, std::string_view Body, std::string_view Tail) {
  if (Body.empty() && Tail.empty()) {
    Write(Head);
    return;
  }
  CheckOpen();
  iovec parts[3] = {{const_cast<char*>(Head.data()), Head.size()},
                    {const_cast<char*>(Body.data()), Body.size()},
                    {const_cast<char*>(Tail.data()), Tail.size()}};
  iovec* next = parts;
  size_t left = 3;
  for (;;) {
    while (left > 0 && next->iov_len == 0) {
      ++next;
      --left;
    }
    if (left == 0) {
      FLastSent = TClock::now();
      return;
    }
    msghdr message{};
    message.msg_iov = next;
    message.msg_iovlen = left;
    const ssize_t written = ::sendmsg(FHandle, &message, MSG_NOSIGNAL);
    if (written <= 0) {
      ResumeAfterFailedWrite(written);
      continue;
    }
    // Step over what went out; a part written in part goes on from where it stopped.
    for (size_t taken = static_cast<size_t>(written); taken > 0;) {
      const size_t step = std::min(taken, next->iov_len);
      next->iov_base = static_cast<char*>(next->iov_base) + step;
      next->iov_len -= step;
      taken -= step;
      if (next->iov_len == 0 && taken > 0) {
        ++next;
        --left;
      }
    }
  }
}

void TTCPClient::ResumeAfterFailedWrite(ssize_t Written) {
  if (Written < 0 && errno == EINTR)
    return;
  if (Written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    // The socket blocks, so this is the send time-out (SO_SNDTIMEO) running out.
    throw ESocketError(ETIMEDOUT);
  }
  throw ESocketError(Written < 0 ? errno : EIO);
}

void TTCPClient::SetSendTimeout(int32_t Ms) {
  CheckOpen();
  SetTimeoutOption(FHandle, SO_SNDTIMEO, Ms);
}

}  // namespace velmor
