#include "FakeStompPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace velmor::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(const char* Call) {
  return std::string(Call) + ": " + std::strerror(errno);
}

void SetNonBlocking(int Fd) {
  const int flags = fcntl(Fd, F_GETFL, 0);
  if (flags < 0 || fcntl(Fd, F_SETFL, flags | O_NONBLOCK) < 0)
    throw std::runtime_error(ErrnoText("fcntl"));
}

// Milliseconds left until Deadline for poll(), never negative.
int MillisLeft(Clock::time_point Deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
  if (left <= 0)
    return 0;
  return left > 60 * 60 * 1000 ? 60 * 60 * 1000 : static_cast<int>(left);
}

// Waits for Events on Fd or a wake-up; 1 = ready, 0 = deadline passed, -1 = woken (peer stopping).
int WaitFor(int Fd, short Events, int Wake, Clock::time_point Deadline) {
  for (;;) {
    pollfd fds[2] = {{Fd, Events, 0}, {Wake, POLLIN, 0}};
    const int rc = poll(fds, 2, MillisLeft(Deadline));
    if (rc < 0) {
      if (errno == EINTR)
        continue;
      return 0;
    }
    if (fds[1].revents != 0)
      return -1;
    if (rc > 0 && fds[0].revents != 0)
      return 1;
    if (Clock::now() >= Deadline)
      return 0;
  }
}

bool IsEol(const std::string& Text, std::size_t Pos, std::size_t& Length) {
  if (Pos < Text.size() && Text[Pos] == '\n') {
    Length = 1;
    return true;
  }
  if (Pos + 1 < Text.size() && Text[Pos] == '\r' && Text[Pos + 1] == '\n') {
    Length = 2;
    return true;
  }
  return false;
}

std::string Frame(const std::string& Command, const PeerHeaders& Headers, const std::string& Body) {
  std::string out = Command + "\n";
  for (const auto& [name, value] : Headers)
    out += name + ":" + value + "\n";
  out += "\n";
  out += Body;
  out.push_back('\0');
  out.push_back('\n');
  return out;
}

}  // namespace

std::string Printable(std::string_view Octets) {
  std::string out;
  out.reserve(Octets.size());
  for (const char c : Octets) {
    const auto octet = static_cast<unsigned char>(c);
    switch (octet) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (octet < 0x20 || octet >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", octet);
          out += hex;
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

std::string DescribeDifference(std::string_view Expected, std::string_view Actual) {
  std::size_t at = 0;
  while (at < Expected.size() && at < Actual.size() && Expected[at] == Actual[at])
    ++at;
  if (at == Expected.size() && at == Actual.size())
    return "no difference";
  const std::size_t from = at > 16 ? at - 16 : 0;
  std::string out = "first difference at offset " + std::to_string(at) + " (expected " +
                    std::to_string(Expected.size()) + " octets, got " + std::to_string(Actual.size()) + ")";
  out += "\n  expected: \"" + Printable(Expected) + "\"";
  out += "\n  actual:   \"" + Printable(Actual) + "\"";
  out += "\n  near:     expected ..." + Printable(Expected.substr(from, at - from + 16)) + "...";
  out += "\n            actual   ..." + Printable(Actual.substr(from, at - from + 16)) + "...";
  return out;
}

std::string FrameHeader(std::string_view Frame, std::string_view Name) {
  std::size_t pos = Frame.find('\n');
  while (pos != std::string_view::npos) {
    const std::size_t start = pos + 1;
    std::size_t end = Frame.find('\n', start);
    if (end == std::string_view::npos)
      end = Frame.size();
    std::string_view line = Frame.substr(start, end - start);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.empty())
      break;
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && line.substr(0, colon) == Name)
      return std::string(line.substr(colon + 1));
    pos = end < Frame.size() ? end : std::string_view::npos;
  }
  return "";
}

std::string ConnectedFrame(const std::string& Version, const PeerHeaders& Extra) {
  PeerHeaders headers{{"version", Version}};
  headers.insert(headers.end(), Extra.begin(), Extra.end());
  return Frame("CONNECTED", headers, "");
}

std::string ReceiptFrame(const std::string& ReceiptId) {
  return Frame("RECEIPT", {{"receipt-id", ReceiptId}}, "");
}

std::string MessageFrame(const std::string& Destination, const std::string& MessageId,
                         const std::string& Subscription, const std::string& Body, const PeerHeaders& Extra) {
  PeerHeaders headers{
      {"subscription", Subscription}, {"destination", Destination}, {"message-id", MessageId}};
  headers.insert(headers.end(), Extra.begin(), Extra.end());
  headers.emplace_back("content-length", std::to_string(Body.size()));
  return Frame("MESSAGE", headers, Body);
}

std::string ErrorFrame(const std::string& Message, const std::string& Body, const PeerHeaders& Extra) {
  PeerHeaders headers{{"message", Message}, {"content-type", "text/plain"}};
  headers.insert(headers.end(), Extra.begin(), Extra.end());
  headers.emplace_back("content-length", std::to_string(Body.size()));
  return Frame("ERROR", headers, Body);
}

// One step of the script; which fields matter depends on Kind.
struct FakeStompPeer::Step {
  enum class Kind {
    Expect,
    ExpectFrame,
    ExpectFrameStartingWith,
    ExpectFrameMatching,
    ReadFrame,
    ExpectHeartbeat,
    ExpectClosed,
    Drain,
    Send,
    SendWith,
    SendReceiptForLastFrame,
    Dribble,
    Stall,
    CloseConnection,
    NeverRead,
    AcceptNext,
    WaitUntilReleased,
    Call,
  };
  Kind What;
  const char* Name;
  std::string Octets;
  std::function<bool(const std::string&)> Matcher;
  std::function<std::string()> Make;
  std::function<void()> Run;
  std::chrono::milliseconds Duration{0};
  std::chrono::milliseconds Timeout{0};
};

FakeStompPeer::FakeStompPeer(bool IPv6) : FakeStompPeer(FakeStompPeerOptions{IPv6}) {}

FakeStompPeer::FakeStompPeer(const FakeStompPeerOptions& Options)
    : FOptions(Options), FNextTimeout(Options.StepTimeout) {
  int wake[2];
  if (pipe(wake) != 0)
    throw std::runtime_error(ErrnoText("pipe"));
  FWakeRead = wake[0];
  FWakeWrite = wake[1];
  fcntl(FWakeRead, F_SETFD, FD_CLOEXEC);
  fcntl(FWakeWrite, F_SETFD, FD_CLOEXEC);
  SetNonBlocking(FWakeRead);
  SetNonBlocking(FWakeWrite);

  const int family = Options.IPv6 ? AF_INET6 : AF_INET;
  FListener = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListener < 0)
    throw std::runtime_error(ErrnoText("socket"));
  const int one = 1;
  setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (Options.ReceiveBufferSize > 0) {
    // Set on the listener so that accepted connections start with the small window.
    setsockopt(FListener, SOL_SOCKET, SO_RCVBUF, &Options.ReceiveBufferSize,
               sizeof Options.ReceiveBufferSize);
  }
  int rc;
  if (Options.IPv6) {
    setsockopt(FListener, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    rc = bind(FListener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    rc = bind(FListener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (rc != 0 || listen(FListener, 16) != 0) {
    const std::string text = ErrnoText(rc != 0 ? "bind" : "listen");
    close(FListener);
    close(FWakeRead);
    close(FWakeWrite);
    throw std::runtime_error(text);
  }
  SetNonBlocking(FListener);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(FListener, reinterpret_cast<sockaddr*>(&bound), &length);
  FPort = Options.IPv6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
                       : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

FakeStompPeer::~FakeStompPeer() {
  {
    std::lock_guard lock(FMutex);
    FStopping = true;
  }
  FChanged.notify_all();
  const char wake = 'x';
  [[maybe_unused]] const auto written = write(FWakeWrite, &wake, 1);
  if (FThread.joinable())
    FThread.join();
  if (FConnection >= 0)
    close(FConnection);
  for (const int fd : FRetired)
    close(fd);
  close(FListener);
  close(FWakeRead);
  close(FWakeWrite);
}

bool FakeStompPeer::IPv6LoopbackAvailable() {
  const int listener = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0)
    return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  bool ok = bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (ok) {
    const int client = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ok = client >= 0 && connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (client >= 0)
      close(client);
  }
  close(listener);
  return ok;
}

std::string FakeStompPeer::Host() const {
  return FOptions.IPv6 ? "::1" : "127.0.0.1";
}

int FakeStompPeer::Port() const {
  return FPort;
}

std::string FakeStompPeer::Url(const std::string& Query) const {
  std::string url = FOptions.IPv6 ? "stomp://[::1]:" : "stomp://127.0.0.1:";
  url += std::to_string(FPort);
  if (!Query.empty())
    url += "?" + Query;
  return url;
}

// --- Script building ---

void FakeStompPeer::CheckNotStarted(const char* What) const {
  if (FStarted)
    throw std::logic_error(std::string("FakeStompPeer::") + What + " called after Start()");
}

FakeStompPeer& FakeStompPeer::Add(Step&& NewStep) {
  CheckNotStarted(NewStep.Name);
  NewStep.Timeout = FNextTimeout;
  FScript.push_back(std::move(NewStep));
  return *this;
}

FakeStompPeer& FakeStompPeer::Expect(std::string Octets) {
  return Add({Step::Kind::Expect, "Expect", std::move(Octets), {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::ExpectFrame(std::string Frame) {
  return Add({Step::Kind::ExpectFrame, "ExpectFrame", std::move(Frame), {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::ExpectFrameStartingWith(std::string Prefix) {
  return Add({Step::Kind::ExpectFrameStartingWith,
              "ExpectFrameStartingWith",
              std::move(Prefix),
              {},
              {},
              {},
              {},
              {}});
}

FakeStompPeer& FakeStompPeer::ExpectFrameMatching(std::string Description,
                                                  std::function<bool(const std::string&)> Matcher) {
  return Add({Step::Kind::ExpectFrameMatching,
              "ExpectFrameMatching",
              std::move(Description),
              std::move(Matcher),
              {},
              {},
              {},
              {}});
}

FakeStompPeer& FakeStompPeer::ReadFrame() {
  return Add({Step::Kind::ReadFrame, "ReadFrame", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::ExpectHeartbeat() {
  return Add({Step::Kind::ExpectHeartbeat, "ExpectHeartbeat", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::ExpectClosed() {
  return Add({Step::Kind::ExpectClosed, "ExpectClosed", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::Drain() {
  return Add({Step::Kind::Drain, "Drain", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::Send(std::string Octets) {
  return Add({Step::Kind::Send, "Send", std::move(Octets), {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::SendWith(std::function<std::string()> Make) {
  return Add({Step::Kind::SendWith, "SendWith", {}, {}, std::move(Make), {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::SendReceiptForLastFrame() {
  return Add({Step::Kind::SendReceiptForLastFrame, "SendReceiptForLastFrame", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::Dribble(std::string Octets, std::chrono::milliseconds Gap) {
  return Add({Step::Kind::Dribble, "Dribble", std::move(Octets), {}, {}, {}, Gap, {}});
}

FakeStompPeer& FakeStompPeer::Stall(std::chrono::milliseconds Duration) {
  return Add({Step::Kind::Stall, "Stall", {}, {}, {}, {}, Duration, {}});
}

FakeStompPeer& FakeStompPeer::CloseConnection() {
  return Add({Step::Kind::CloseConnection, "CloseConnection", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::NeverRead() {
  return Add({Step::Kind::NeverRead, "NeverRead", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::AcceptNext() {
  return Add({Step::Kind::AcceptNext, "AcceptNext", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::WaitUntilReleased() {
  return Add({Step::Kind::WaitUntilReleased, "WaitUntilReleased", {}, {}, {}, {}, {}, {}});
}

FakeStompPeer& FakeStompPeer::Call(std::function<void()> Custom) {
  return Add({Step::Kind::Call, "Call", {}, {}, {}, std::move(Custom), {}, {}});
}

FakeStompPeer& FakeStompPeer::SetTimeout(std::chrono::milliseconds Timeout) {
  CheckNotStarted("SetTimeout");
  FNextTimeout = Timeout;
  return *this;
}

void FakeStompPeer::Start() {
  CheckNotStarted("Start");
  FStarted = true;
  FThread = std::thread([this] { Run(); });
}

// --- Observation ---

void FakeStompPeer::Release() {
  {
    std::lock_guard lock(FMutex);
    ++FReleases;
  }
  FChanged.notify_all();
}

bool FakeStompPeer::WaitDone(std::chrono::milliseconds Timeout) {
  std::unique_lock lock(FMutex);
  if (!FStarted)
    return false;
  FChanged.wait_for(lock, Timeout, [this] { return FFinished; });
  return FFinished && FSucceeded;
}

bool FakeStompPeer::Finished() const {
  std::lock_guard lock(FMutex);
  return FFinished;
}

::testing::AssertionResult FakeStompPeer::Done(std::chrono::milliseconds Timeout) {
  if (!FStarted)
    return ::testing::AssertionFailure() << "the fake peer was never started";
  if (WaitDone(Timeout))
    return ::testing::AssertionSuccess();
  std::lock_guard lock(FMutex);
  auto result = ::testing::AssertionFailure();
  if (!FFinished) {
    result << "the fake peer's script did not finish within " << Timeout.count() << " ms (" << FStepsDone
           << " of " << FScript.size() << " steps done)";
  } else {
    result << "the fake peer's script failed after " << FStepsDone << " of " << FScript.size() << " steps";
  }
  for (const std::string& failure : FFailures)
    result << "\n" << failure;
  return result;
}

std::vector<std::string> FakeStompPeer::Failures() const {
  std::lock_guard lock(FMutex);
  return FFailures;
}

std::string FakeStompPeer::Written() const {
  std::lock_guard lock(FMutex);
  return FWritten;
}

std::vector<std::string> FakeStompPeer::Frames() const {
  std::lock_guard lock(FMutex);
  return FFrames;
}

std::string FakeStompPeer::LastFrame() const {
  std::lock_guard lock(FMutex);
  return FFrames.empty() ? std::string() : FFrames.back();
}

int FakeStompPeer::Connections() const {
  std::lock_guard lock(FMutex);
  return FConnections;
}

std::size_t FakeStompPeer::StepsDone() const {
  std::lock_guard lock(FMutex);
  return FStepsDone;
}

// --- Peer thread ---

void FakeStompPeer::Fail(const std::string& Text) {
  std::lock_guard lock(FMutex);
  FFailures.push_back(Text);
}

void FakeStompPeer::Run() {
  bool ok = AcceptConnection(FOptions.StepTimeout);
  for (std::size_t index = 0; ok && index < FScript.size(); ++index) {
    const Step& current = FScript[index];
    {
      std::lock_guard lock(FMutex);
      if (FStopping) {
        FFailures.push_back("the peer was stopped before its script ended");
        ok = false;
        break;
      }
    }
    std::size_t failuresBefore;
    {
      std::lock_guard lock(FMutex);
      failuresBefore = FFailures.size();
    }
    RunStep(current);
    std::lock_guard lock(FMutex);
    if (FFailures.size() != failuresBefore) {
      // Name the step in the failure it just recorded.
      FFailures.back() = "step " + std::to_string(index + 1) + " (" + current.Name + "): " + FFailures.back();
      ok = false;
    } else {
      ++FStepsDone;
    }
  }
  {
    std::lock_guard lock(FMutex);
    FFinished = true;
    FSucceeded = ok && FFailures.empty();
  }
  FChanged.notify_all();
}

void FakeStompPeer::RunStep(const Step& Current) {
  const Clock::time_point deadline = Clock::now() + Current.Timeout;
  std::string octets;
  switch (Current.What) {
    case Step::Kind::Expect:
      if (!NeedConnection("read") || !ReadExactly(Current.Octets.size(), deadline, "expected octets", octets))
        return;
      if (octets != Current.Octets)
        Fail("the client wrote other octets: " + DescribeDifference(Current.Octets, octets));
      return;
    case Step::Kind::ExpectFrame:
      if (!NeedConnection("read") || !ReadOneFrame(deadline, octets))
        return;
      if (octets != Current.Octets)
        Fail("the client wrote another frame: " + DescribeDifference(Current.Octets, octets));
      return;
    case Step::Kind::ExpectFrameStartingWith:
      if (!NeedConnection("read") || !ReadOneFrame(deadline, octets))
        return;
      if (octets.compare(0, Current.Octets.size(), Current.Octets) != 0) {
        Fail("the client's frame does not start as expected: " +
             DescribeDifference(Current.Octets, std::string_view(octets).substr(0, Current.Octets.size())) +
             "\n  whole frame: \"" + Printable(octets) + "\"");
      }
      return;
    case Step::Kind::ExpectFrameMatching:
      if (!NeedConnection("read") || !ReadOneFrame(deadline, octets))
        return;
      try {
        if (!Current.Matcher(octets)) {
          Fail("the client's frame is not " + Current.Octets + ": \"" + Printable(octets) + "\"");
        }
      } catch (const std::exception& error) {
        Fail(std::string("the frame matcher raised: ") + error.what());
      }
      return;
    case Step::Kind::ReadFrame:
      if (NeedConnection("read"))
        ReadOneFrame(deadline, octets);
      return;
    case Step::Kind::ExpectHeartbeat: {
      if (!NeedConnection("read") || !ReadExactly(1, deadline, "a heart-beat", octets))
        return;
      if (octets == "\r") {
        std::string rest;
        if (!ReadExactly(1, deadline, "a heart-beat", rest))
          return;
        octets += rest;
      }
      if (octets != "\n" && octets != "\r\n")
        Fail("expected a heart-beat EOL, got \"" + Printable(octets) + "\"");
      return;
    }
    case Step::Kind::ExpectClosed:
      if (NeedConnection("read"))
        ReadUntilClosed(deadline, true);
      return;
    case Step::Kind::Drain:
      if (NeedConnection("read"))
        ReadUntilClosed(deadline, false);
      return;
    case Step::Kind::Send:
      if (NeedConnection("write"))
        WriteAll(Current.Octets, Current.Timeout);
      return;
    case Step::Kind::SendWith:
      if (!NeedConnection("write"))
        return;
      try {
        octets = Current.Make();
      } catch (const std::exception& error) {
        Fail(std::string("the octet maker raised: ") + error.what());
        return;
      }
      WriteAll(octets, Current.Timeout);
      return;
    case Step::Kind::SendReceiptForLastFrame: {
      const std::string last = LastFrame();
      const std::string id = FrameHeader(last, "receipt");
      if (id.empty()) {
        Fail("the last frame read has no receipt header: \"" + Printable(last) + "\"");
        return;
      }
      if (NeedConnection("write"))
        WriteAll(ReceiptFrame(id), Current.Timeout);
      return;
    }
    case Step::Kind::Dribble:
      if (!NeedConnection("write"))
        return;
      for (std::size_t i = 0; i < Current.Octets.size(); ++i) {
        if (!WriteAll(std::string_view(Current.Octets).substr(i, 1), Current.Timeout))
          return;
        if (Current.Duration.count() > 0 && i + 1 < Current.Octets.size() && !SleepFor(Current.Duration))
          return;
      }
      return;
    case Step::Kind::Stall:
      SleepFor(Current.Duration);
      return;
    case Step::Kind::CloseConnection:
      if (NeedConnection("close"))
        CloseCurrent();
      return;
    case Step::Kind::NeverRead:
      if (NeedConnection("stop reading"))
        FReading = false;
      return;
    case Step::Kind::AcceptNext:
      if (FConnection >= 0) {
        FRetired.push_back(FConnection);
        FConnection = -1;
      }
      AcceptConnection(Current.Timeout);
      return;
    case Step::Kind::WaitUntilReleased: {
      std::unique_lock lock(FMutex);
      if (!FChanged.wait_until(lock, deadline, [this] { return FReleases > 0 || FStopping; })) {
        lock.unlock();
        Fail("Release() was not called within " + std::to_string(Current.Timeout.count()) + " ms");
      } else if (FReleases > 0) {
        --FReleases;
      } else {
        lock.unlock();
        Fail("the peer was stopped while waiting for Release()");
      }
      return;
    }
    case Step::Kind::Call:
      try {
        Current.Run();
      } catch (const std::exception& error) {
        Fail(std::string("the custom step raised: ") + error.what());
      } catch (...) {
        Fail("the custom step raised a non-standard exception");
      }
      return;
  }
}

bool FakeStompPeer::NeedConnection(const char* What) {
  if (FConnection < 0) {
    Fail(std::string("no open connection to ") + What + " (closed by the script)");
    return false;
  }
  if (!FReading && std::strcmp(What, "read") == 0) {
    Fail("the script reads after NeverRead()");
    return false;
  }
  return true;
}

bool FakeStompPeer::AcceptConnection(std::chrono::milliseconds Timeout) {
  const int ready = WaitFor(FListener, POLLIN, FWakeRead, Clock::now() + Timeout);
  if (ready <= 0) {
    Fail(ready == 0 ? "no client connected within " + std::to_string(Timeout.count()) + " ms"
                    : std::string("the peer was stopped while waiting for a client"));
    return false;
  }
  const int fd = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    Fail(ErrnoText("accept"));
    return false;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  FConnection = fd;
  FReading = true;
  FPending.clear();
  std::lock_guard lock(FMutex);
  ++FConnections;
  return true;
}

FakeStompPeer::ReadResult FakeStompPeer::ReadSome(Clock::time_point Deadline, const char* What) {
  const int ready = WaitFor(FConnection, POLLIN, FWakeRead, Deadline);
  if (ready == 0) {
    Fail(std::string("timed out waiting for ") + What + "; unconsumed octets: \"" + Printable(FPending) +
         "\"");
    return ReadResult::Failed;
  }
  if (ready < 0) {
    Fail(std::string("the peer was stopped while waiting for ") + What);
    return ReadResult::Failed;
  }
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = recv(FConnection, buffer, sizeof buffer, 0);
    if (got > 0) {
      FPending.append(buffer, static_cast<std::size_t>(got));
      std::lock_guard lock(FMutex);
      FWritten.append(buffer, static_cast<std::size_t>(got));
      return ReadResult::Data;
    }
    if (got == 0)
      return ReadResult::Closed;
    if (errno == EINTR)
      continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      return ReadResult::Data;
    if (errno == ECONNRESET)
      return ReadResult::Closed;
    Fail(ErrnoText("recv"));
    return ReadResult::Failed;
  }
}

bool FakeStompPeer::ReadExactly(std::size_t Count, Clock::time_point Deadline, const char* What,
                                std::string& Out) {
  while (FPending.size() < Count) {
    const ReadResult result = ReadSome(Deadline, What);
    if (result == ReadResult::Failed)
      return false;
    if (result == ReadResult::Closed) {
      Fail(std::string("the client closed the connection while the peer waited for ") + What + "; got \"" +
           Printable(FPending) + "\" of " + std::to_string(Count) + " octets");
      return false;
    }
  }
  Out = FPending.substr(0, Count);
  FPending.erase(0, Count);
  return true;
}

bool FakeStompPeer::ReadOneFrame(Clock::time_point Deadline, std::string& Frame) {
  for (;;) {
    // Heart-beat EOLs before a frame are not part of it.
    std::size_t eol = 0;
    std::size_t skip = 0;
    while (IsEol(FPending, skip, eol))
      skip += eol;
    FPending.erase(0, skip);

    // Find the empty line that ends the header block.
    std::size_t bodyStart = std::string::npos;
    std::size_t lineStart = 0;
    for (;;) {
      const std::size_t lf = FPending.find('\n', lineStart);
      if (lf == std::string::npos)
        break;
      const std::size_t lineEnd = lf > lineStart && FPending[lf - 1] == '\r' ? lf - 1 : lf;
      if (lineEnd == lineStart && lineStart > 0) {
        bodyStart = lf + 1;
        break;
      }
      lineStart = lf + 1;
    }

    std::size_t frameEnd = std::string::npos;
    if (bodyStart != std::string::npos) {
      const std::string lengthText =
          FrameHeader(std::string_view(FPending).substr(0, bodyStart), "content-length");
      if (!lengthText.empty()) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long length = std::strtoull(lengthText.c_str(), &end, 10);
        if (*end != '\0' || errno != 0 || lengthText[0] == '-' || length > FOptions.MaxFrameSize) {
          Fail("the client sent a bad content-length \"" + Printable(lengthText) + "\"");
          return false;
        }
        if (FPending.size() > bodyStart + length) {
          if (FPending[bodyStart + length] != '\0') {
            Fail("the client's frame body is not followed by NUL: \"" +
                 Printable(FPending.substr(0, bodyStart + length + 1)) + "\"");
            return false;
          }
          frameEnd = bodyStart + length;
        }
      } else {
        frameEnd = FPending.find('\0', bodyStart);
      }
    }
    if (frameEnd != std::string::npos) {
      Frame = FPending.substr(0, frameEnd + 1);
      FPending.erase(0, frameEnd + 1);
      std::lock_guard lock(FMutex);
      FFrames.push_back(Frame);
      return true;
    }
    if (FPending.size() > FOptions.MaxFrameSize) {
      Fail("the client's frame exceeds " + std::to_string(FOptions.MaxFrameSize) + " octets");
      return false;
    }
    const ReadResult result = ReadSome(Deadline, "a frame");
    if (result == ReadResult::Failed)
      return false;
    if (result == ReadResult::Closed) {
      Fail("the client closed the connection while the peer waited for a frame; got \"" +
           Printable(FPending) + "\"");
      return false;
    }
  }
}

bool FakeStompPeer::ReadUntilClosed(Clock::time_point Deadline, bool OnlyHeartbeats) {
  for (;;) {
    if (OnlyHeartbeats) {
      std::size_t eol = 0;
      std::size_t skip = 0;
      while (IsEol(FPending, skip, eol))
        skip += eol;
      FPending.erase(0, skip);
      if (!FPending.empty() && FPending != "\r") {
        Fail("the client wrote \"" + Printable(FPending) +
             "\" where the peer expected the connection to close");
        return false;
      }
    } else {
      FPending.clear();
    }
    const ReadResult result = ReadSome(Deadline, "the client to close the connection");
    if (result == ReadResult::Failed)
      return false;
    if (result == ReadResult::Closed) {
      if (OnlyHeartbeats && !FPending.empty()) {
        Fail("the client wrote \"" + Printable(FPending) + "\" before it closed the connection");
        return false;
      }
      FPending.clear();
      return true;
    }
  }
}

bool FakeStompPeer::WriteAll(std::string_view Octets, std::chrono::milliseconds Timeout) {
  const Clock::time_point deadline = Clock::now() + Timeout;
  while (!Octets.empty()) {
    const ssize_t sent = send(FConnection, Octets.data(), Octets.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      Octets.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR)
      continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int ready = WaitFor(FConnection, POLLOUT, FWakeRead, deadline);
      if (ready == 0) {
        Fail("the client did not read what the peer sent within " + std::to_string(Timeout.count()) +
             " ms (" + std::to_string(Octets.size()) + " octets left)");
        return false;
      }
      if (ready < 0) {
        Fail("the peer was stopped while sending");
        return false;
      }
      continue;
    }
    Fail(ErrnoText("send") + " (" + std::to_string(Octets.size()) + " octets left)");
    return false;
  }
  return true;
}

bool FakeStompPeer::SleepFor(std::chrono::milliseconds Duration) {
  const Clock::time_point deadline = Clock::now() + Duration;
  pollfd wake{FWakeRead, POLLIN, 0};
  while (Clock::now() < deadline) {
    const int rc = poll(&wake, 1, MillisLeft(deadline));
    if (rc > 0) {
      Fail("the peer was stopped while it slept");
      return false;
    }
  }
  return true;
}

void FakeStompPeer::CloseCurrent() {
  // Send FIN behind the octets already sent, then take in what the client wrote meanwhile: a close with
  // unread octets would be a reset, which may cost the client the octets still on their way to it.
  shutdown(FConnection, SHUT_WR);
  char buffer[64 * 1024];
  std::size_t taken = 0;
  while (taken < 16 * 1024 * 1024) {
    const ssize_t got = recv(FConnection, buffer, sizeof buffer, 0);
    if (got > 0) {
      taken += static_cast<std::size_t>(got);
      std::lock_guard lock(FMutex);
      FWritten.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR)
      continue;
    break;
  }
  close(FConnection);
  FConnection = -1;
  FPending.clear();
}

}  // namespace velmor::testing
