#include "ZQStompClient.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <iterator>
#include <utility>

#include "ZQAbstractCommAdapter.h"
#include "ZQConnectWithFailoverSupport.h"
#include "ZQExceptions.h"
#include "ZQStompEncoder.h"
#include "ZQText.h"

namespace velmor {

namespace {

constexpr const char* UnitName = "ZQStompClient";
constexpr int32_t DefaultReceiptTimeout = 5000;

// A heart-beat header or request, "cx,cy": the integer before the first "," and the one after it; without
// a comma the first is 0 and the second is read from the whole text. A part that is not an integer, or a
// negative one, counts as 0 (off).
std::pair<int32_t, int32_t> ReadHeartbeatPair(const std::string& Text) {
  const auto comma = Text.find(',');
  int32_t first = 0;
  int32_t second = 0;
  if (comma == std::string::npos) {
    second = StrToIntDef(Text, 0);
  } else {
    first = StrToIntDef(std::string_view(Text).substr(0, comma), 0);
    second = StrToIntDef(std::string_view(Text).substr(comma + 1), 0);
  }
  return {std::max(first, 0), std::max(second, 0)};
}

// Clears a flag when the scope ends, also by an exception.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& Flag) : FFlag(Flag) { FFlag = true; }
  ~TFlagGuard() { FFlag = false; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& FFlag;
};

}  // namespace

// --- Option lists ---

void TZQConnectionParams::Load(const IURIPtr& URI) {
  FOptionList.clear();
  if (!URI)
    return;
  FOptionList = QueryOptionList(URI->GetParams());
}

void TZQReceiptConfiguration::Load(const std::vector<std::string>& OptionList) {
  FRequired.clear();
  for (const auto& item : OptionList) {
    const std::string name = OptionName(item);
    const std::string value = OptionItemValue(item);
    MapOption(name, value, "subscribe.receipt", "SUBSCRIBE");
    MapOption(name, value, "unsubscribe.receipt", "UNSUBSCRIBE");
    MapOption(name, value, "send.receipt", "SEND");
    MapOption(name, value, "disconnect.receipt", "DISCONNECT");
  }
}

void TZQReceiptConfiguration::MapOption(std::string_view Name, std::string_view Value,
                                        std::string_view Option, const std::string& Command) {
  if (Value != "true" || Name != Option)
    return;
  const std::string entry = Command + "=true";
  if (std::find(FRequired.begin(), FRequired.end(), entry) == FRequired.end()) {
    FRequired.push_back(entry);
  }
}

bool TZQReceiptConfiguration::IsRequired(const std::string& Command) const {
  return std::find(FRequired.begin(), FRequired.end(), Command + "=true") != FRequired.end();
}

void TZQParamNameValidator::Validate(const std::vector<std::string>& OptionList, const IURIPtr& URI) {
  for (size_t i = 0; i < OptionList.size(); ++i) {
    const std::string& item = OptionList[i];
    if (IsValid(OptionName(item)))
      continue;
    if (URI && MayHoldUserInformation(*URI, item)) {
      throw EMQException(
          Format("Connection URL contains unknown option number %d (not shown: it may hold "
                 "part of the URL's user information)",
                 {static_cast<int64_t>(i + 1)}));
    }
    throw EMQException(Format("Connection URL contains unknown option: %s", {item}));
  }
}

bool TZQParamNameValidator::IsValid(std::string_view Name) {
  if (HasPrefix(Name, "connect."))
    return true;
  return std::find(ValidParamNames.begin(), ValidParamNames.end(), Name) != ValidParamNames.end();
}

std::string TSubscribeOptionsBuilder::ExtractDestination(const std::string& Text) {
  return Text.substr(0, Text.find('?'));
}

std::string TSubscribeOptionsBuilder::ExtractOptions(const std::string& Text) {
  const auto question = Text.find('?');
  return question == std::string::npos ? std::string() : Text.substr(question + 1);
}

void TSubscribeOptionsBuilder::RefuseOptionNames(const std::vector<std::string>& Items,
                                                 std::span<const std::string_view> Names) {
  for (const auto& item : Items) {
    const std::string name = OptionName(item);
    if (std::find(Names.begin(), Names.end(), name) != Names.end()) {
      throw EIllegalArgumentException(
          Format("Destination option \"%s\" is not allowed: SUBSCRIBE sets that header itself", {name}));
    }
  }
}

void TSubscribeOptionsBuilder::AddOptionHeaders(const std::string& Options, IStompFrame& Frame) {
  if (Options.empty())
    return;
  const std::vector<std::string> items = SplitOptionList(Options);
  // The broker reads the first header of a name, and a repeated name goes first: an option named like
  // a header of the SUBSCRIBE itself would replace that header.
  RefuseOptionNames(items, OwnHeaderNames);
  for (const auto& item : items) {
    const std::string name = OptionName(item);
    Frame.AddHeader(name, OptionValue(items, name));
  }
}

void TSubscribeOptionsBuilder::AddTransformation(IStompFrame& Frame,
                                                 const std::vector<std::string>& OptionList) {
  for (const auto& item : OptionList) {
    if (HasPrefix(item, "subscribe.transformation")) {
      Frame.AddHeader("transformation", OptionValue(OptionList, OptionName(item)));
    }
  }
}

// --- Client core ---

TZQStompClient::TZQStompClient() : FFailoverSupport(std::make_unique<TZQConnectWithFailoverSupport>(*this)) {}

TZQStompClient::~TZQStompClient() = default;

void TZQStompClient::SetURI(const IURIPtr& URI) {
  TZQStompConnection::SetURI(URI);
  FConnectionParams.Load(URI);
  FFailoverURI.reset();
}

void TZQStompClient::SetFailoverSupport(std::unique_ptr<IZQFailoverSupport> Support) {
  FFailoverSupport = std::move(Support);
}

TStompVersion TZQStompClient::GetVersion() const {
  return Adapter().GetVersion();
}

void TZQStompClient::Connect() {
  const IURIPtr uri = FFailoverURI ? FFailoverURI : GetURI();
  if (uri && HasPrefix(uri->GetProtocol(), "failover:(stomp")) {
    ConnectWithFailover(uri);
    FFailoverURI = uri;
    return;
  }
  PlainConnect();
}

void TZQStompClient::ConnectWithFailover(const IURIPtr& URI) {
  if (!FFailoverSupport) {
    throw EUnsupportedOperationException("Failover URLs are not supported by this client");
  }
  FFailoverSupport->ConnectWithFailover(URI);
}

void TZQStompClient::PlainConnect() {
  IStompCommAdapter& adapter = Adapter();
  // A new connection starts from nothing: what an earlier (possibly failed) connect negotiated must
  // not leak into this one. A live connection is left alone; the adapter refuses to connect again.
  if (!adapter.IsConnected()) {
    adapter.SetVersion(1);
    adapter.SetEscapeV10Headers(false);
    adapter.SetOutgoingHeartbeat(0);
    adapter.SetIncomingHeartbeat(0);
    FConnected = false;
    FSessionID.clear();
    FServer.clear();
    FReceiptReceived = false;
    FReceivedReceiptID.clear();
    FPendingMessages.clear();
    FPendingOctets = 0;
    FTransactionReceipts.clear();
  }
  adapter.SetOnConnected([this](IStompCommAdapter& CommAdapter) { StompConnect(CommAdapter); });
  adapter.SetOnFrame([this](const IStompFramePtr& Frame) { DispatchFrame(Frame); });
  try {
    adapter.Connect();
  } catch (...) {
    FAwaitingConnected = false;
    // Leave no half-open TCP connection behind (an invalid option, a first frame that was not
    // CONNECTED); a connection that the adapter still counts as up was not opened by this call.
    if (!adapter.IsConnected()) {
      FConnected = false;
      try {
        adapter.Disconnect();
      } catch (...) {
      }
    }
    throw;
  }
  FAwaitingConnected = false;
}

void TZQStompClient::Disconnect() {
  if (!FConnected)
    return;
  std::exception_ptr failure;
  // After an ERROR frame or a failed read the adapter has already closed the TCP connection: there is
  // no one to say DISCONNECT to, and raising here would hide the error that closed it.
  if (Adapter().IsConnected()) {
    try {
      SendDisconnectFrame();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  // The broker must stop delivering to this client whatever became of DISCONNECT.
  FConnected = false;
  FSessionID.clear();
  try {
    Adapter().Disconnect();
  } catch (...) {
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void TZQStompClient::StompConnect(IStompCommAdapter& CommAdapter) {
  static_cast<void>(CommAdapter);
  Trace("StompConnect");
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("CONNECT");
  if (!FLogin.empty()) {
    frame->AddHeader("login", FLogin);
    frame->AddHeader("passcode", FPasscode);
  }
  const std::vector<std::string>& options = FConnectionParams.GetOptionList();
  TZQParamNameValidator::Validate(options, GetURI());
  FReceiptConfiguration.Load(options);
  FSendReceipt = FReceiptConfiguration.IsRequired("SEND");
  AddConnectOptions(*frame);
  ApplyHeartbeatRequest(frame->GetHeader("heart-beat"));
  if (!IsBlankText(FClientID)) {
    frame->AddHeader("client-id", FClientID);
  }
  FAwaitingConnected = true;
  SendFrame(frame, -1);
}

void TZQStompClient::AddConnectOptions(IStompFrame& Frame) const {
  constexpr std::string_view prefix = "connect.";
  const std::vector<std::string>& options = FConnectionParams.GetOptionList();
  for (const auto& item : options) {
    if (HasPrefix(item, prefix)) {
      const std::string name = OptionName(item);
      Frame.AddHeader(name.substr(prefix.size()), OptionValue(options, name));
    }
  }
  if (Frame.GetHeader("accept-version").empty()) {
    Frame.AddHeader("accept-version", "1.2");
  }
}

void TZQStompClient::ApplyHeartbeatRequest(const std::string& Text) {
  IStompCommAdapter& adapter = Adapter();
  Check(adapter.GetOutgoingHeartbeat() == 0, UnitName, __LINE__);
  Check(adapter.GetIncomingHeartbeat() == 0, UnitName, __LINE__);
  if (Text.empty())
    return;
  const auto [cx, cy] = ReadHeartbeatPair(Text);
  adapter.SetOutgoingHeartbeat(cx);
  adapter.SetIncomingHeartbeat(cy);
}

void TZQStompClient::NegotiateHeartbeat(const std::string& Text) {
  IStompCommAdapter& adapter = Adapter();
  if (Text.empty()) {
    adapter.SetOutgoingHeartbeat(0);
    adapter.SetIncomingHeartbeat(0);
    return;
  }
  const int32_t cx = std::max(adapter.GetOutgoingHeartbeat(), 0);
  const int32_t cy = std::max(adapter.GetIncomingHeartbeat(), 0);
  const auto [sx, sy] = ReadHeartbeatPair(Text);
  adapter.SetOutgoingHeartbeat(cx == 0 || sy == 0 ? 0 : std::max(cx, sy));
  adapter.SetIncomingHeartbeat(cy == 0 || sx == 0 ? 0 : std::max(cy, sx));
}

void TZQStompClient::SetPendingMessageLimits(std::size_t MaxFrames, std::size_t MaxOctets) {
  FMaxPendingMessages = MaxFrames;
  FMaxPendingOctets = MaxOctets;
}

void TZQStompClient::DispatchFrame(const IStompFramePtr& Frame) {
  Check(Frame != nullptr, UnitName, __LINE__);
  FReceiptReceived = false;
  FReceivedReceiptID.clear();
  ++FFramesDispatched;
  const std::string& command = Frame->GetCommand();
  if (FAwaitingConnected) {
    FAwaitingConnected = false;
    if (command != "CONNECTED" && command != "ERROR") {
      Adapter().Disconnect();
      throw EZQStompError(Format("Expected a CONNECTED frame, received %s", {command}));
    }
  }
  if (command == "MESSAGE") {
    if (FWaitingForReceipt) {
      FPendingOctets += ReceivedOctets(*Frame);
      FPendingMessages.push_back(Frame);
    } else {
      OnMessageFrame(Frame);
    }
  } else if (command == "RECEIPT") {
    FReceiptReceived = true;
    FReceivedReceiptID = Frame->GetHeader("receipt-id");
  } else if (command == "CONNECTED") {
    FConnected = true;
    ++FConnectionNumber;
    FSessionID = Frame->GetHeader("session");
    FServer = Frame->GetHeader("server");
    const std::string version = Frame->GetHeader("version");
    if (version == "1.2") {
      Adapter().SetVersion(3);
    } else if (version == "1.1") {
      Adapter().SetVersion(2);
    }
    // RabbitMQ reads and writes 1.0 headers with 1.1's escaping, and writes a CR as "\r" to every
    // version; without this values would be altered or unreadable.
    Adapter().SetEscapeV10Headers(HasPrefix(FServer, "RabbitMQ/"));
    NegotiateHeartbeat(Frame->GetHeader("heart-beat"));
  } else if (command == "ERROR") {
    Adapter().Disconnect();
    RaiseServerError(*Frame);
  }
  if (FCommAdapter && FCommAdapter->IncomingHeartbeatEnabled()) {
    FCommAdapter->MarkHeartbeat();
  }
}

void TZQStompClient::RaiseServerError(const IStompFrame& Frame) const {
  std::string text = Frame.GetHeader("message");
  if (const std::string body = Frame.GetBodyText(); !body.empty()) {
    text += " " + body;
  }
  if (const std::string receipt = Frame.GetHeader("receipt"); !receipt.empty()) {
    text += " receipt:" + receipt;
  }
  throw EZQStompServerErrorMessage(text);
}

bool TZQStompClient::DispatchPendingMessageFrame() {
  if (FPendingMessages.empty())
    return false;
  const IStompFramePtr frame = std::move(FPendingMessages.front());
  FPendingMessages.pop_front();
  FPendingOctets -= std::min(FPendingOctets, ReceivedOctets(*frame));
  OnMessageFrame(frame);
  return true;
}

std::vector<IStompFramePtr> TZQStompClient::TakeUnreadMessageFrames() {
  std::vector<IStompFramePtr> frames(std::make_move_iterator(FPendingMessages.begin()),
                                     std::make_move_iterator(FPendingMessages.end()));
  FPendingMessages.clear();
  FPendingOctets = 0;
  for (IStompFramePtr& frame : Adapter().TakeMessageFramesLeft())
    frames.push_back(std::move(frame));
  return frames;
}

void TZQStompClient::DropPendingMessageFrames(const std::string& Subscription) {
  std::erase_if(FPendingMessages, [this, &Subscription](const IStompFramePtr& Frame) {
    if (Frame->HeaderOrEmpty("subscription") != Subscription)
      return false;
    FPendingOctets -= std::min(FPendingOctets, ReceivedOctets(*Frame));
    return true;
  });
}

// --- Sending and receipts ---

TStompVersion TZQStompClient::ConnectEncodingVersion(const IStompFrame& Frame) {
  // CONNECT is written before any version is negotiated. When it offers 1.1 or 1.2, the broker reads it
  // with that version's CONNECT escaping, so a backslash in a credential must go out escaped.
  TStompVersion version = 1;
  const std::string offered = Frame.GetHeader("accept-version");
  std::string_view rest = offered;
  while (!rest.empty()) {
    const auto comma = rest.find(',');
    const std::string_view item = TrimBlanks(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (item == "1.2") {
      version = std::max<TStompVersion>(version, 3);
    } else if (item == "1.1") {
      version = std::max<TStompVersion>(version, 2);
    }
  }
  return version;
}

void TZQStompClient::SendFrame(const IStompFramePtr& Frame, int32_t SendTimeout) {
  Check(Frame != nullptr, UnitName, __LINE__);
  const std::string& command = Frame->GetCommand();
  const bool isConnect = command == "CONNECT";
  if (!isConnect)
    CheckConnectedFor(command);
  IStompCommAdapter& adapter = Adapter();
  const TStompVersion version = isConnect ? ConnectEncodingVersion(*Frame) : adapter.GetVersion();
  EncodeInto(FOutput, *Frame, version, !isConnect && adapter.GetEscapeV10Headers());
  WriteOutput(SendTimeout);
}

void TZQStompClient::CheckConnectedFor(std::string_view Command) const {
  if (!FConnected) {
    throw EZQStompClientNotConnectedError("Not connected! Command: " + std::string(Command));
  }
}

TStompFrameWriter TZQStompClient::BeginFrame(std::string_view Command) {
  CheckConnectedFor(Command);
  const IStompCommAdapter& adapter = Adapter();
  return TStompFrameWriter(FOutput, Command, adapter.GetVersion(), adapter.GetEscapeV10Headers());
}

void TZQStompClient::WriteOutput(int32_t SendTimeout) {
  // The buffer is kept for the next frame, unless a large body made it large.
  struct TReleaseLarge {
    std::string& Output;
    ~TReleaseLarge() {
      if (Output.capacity() > MaxKeptOutput)
        std::string().swap(Output);
    }
  } release{FOutput};
  Adapter().Write(FOutput, SendTimeout);
}

void TZQStompClient::WriteWithBody(TStompFrameWriter& Frame, std::string_view Body, int32_t SendTimeout) {
  if (Body.size() < MinSeparateBody) {
    Frame.Body(Body);
    WriteOutput(SendTimeout);
    return;
  }
  Frame.EndHeaders(Body);
  Adapter().WriteParts(FOutput, Body, std::string_view(&END_SEP, 1), SendTimeout);
}

void TZQStompClient::SendWithReceipt(const IStompFramePtr& Frame, bool ForceReceipt) {
  Check(Frame != nullptr, UnitName, __LINE__);
  const std::string command = Frame->GetCommand();
  const std::string id =
      ForceReceipt ? LowerCaseAscii(command) + ".receipt." + NewReceiptID() : ReceiptIDFor(command);
  if (!IsBlankText(id)) {
    Frame->AddHeader("receipt", id);
  }
  SendFrame(Frame, -1);
  if (!id.empty()) {
    WaitForReceipt(id, LowerCaseAscii(command) + ".receipt.timeout");
  }
}

std::string TZQStompClient::NewReceiptID() {
  return "id." + std::to_string(FReceiptSequence.Next()) + "." + std::to_string(CurrentTicks());
}

std::string TZQStompClient::ReceiptIDFor(const std::string& Command) {
  if (!FReceiptConfiguration.IsRequired(Command))
    return {};
  return LowerCaseAscii(Command) + ".receipt." + NewReceiptID();
}

void TZQStompClient::WaitForReceipt(const std::string& ExpectedID, const std::string& TimeoutOption) {
  WaitForReceipts({ExpectedID}, TimeoutOption);
}

void TZQStompClient::WaitForReceipts(std::vector<std::string> ExpectedIDs, const std::string& TimeoutOption) {
  Trace("Waiting for RECEIPT");
  Check(!ExpectedIDs.empty(), UnitName, __LINE__);
  const int32_t timeout = StrToIntDef(GetParam(TimeoutOption), DefaultReceiptTimeout);
  IStompCommAdapter& adapter = Adapter();
  const auto wait = std::chrono::milliseconds(std::max(timeout, 0));
  auto deadline = std::chrono::steady_clock::now() + wait;
  TFlagGuard waiting(FWaitingForReceipt);
  // The broker may answer with other frames first (a MESSAGE routed to this very connection before
  // the RECEIPT of the SEND that produced it, a late RECEIPT of an earlier wait): read on until the
  // expected RECEIPTs or the time-out. Until some frame has come, the read raises when none comes in
  // time: the adapter then closes the connection and reports that no data came.
  const uint64_t framesBefore = FFramesDispatched;
  bool otherReceipt = false;
  std::string lastOtherID;
  for (;;) {
    // Held MESSAGE frames are bounded: past the limit the wait stops reading, keeps what it holds for
    // the next receives and leaves the connection open (the RECEIPT, when it comes, is a stray then).
    // Whether the broker did what the call asked is not known then.
    if (FPendingMessages.size() >= FMaxPendingMessages || FPendingOctets >= FMaxPendingOctets) {
      throw EZQStompError(Format(
          "Too many MESSAGE frames arrived while waiting for RECEIPT %s; the outcome of the call is unknown",
          {ExpectedIDs.front()}));
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    adapter.ReadOneMessage(static_cast<int32_t>(std::max<int64_t>(left.count(), 1)),
                           FFramesDispatched == framesBefore);
    if (FReceiptReceived) {
      // An empty expected id takes any RECEIPT.
      auto awaited = std::find(ExpectedIDs.begin(), ExpectedIDs.end(), FReceivedReceiptID);
      if (awaited == ExpectedIDs.end())
        awaited = std::find(ExpectedIDs.begin(), ExpectedIDs.end(), std::string());
      if (awaited != ExpectedIDs.end()) {
        ExpectedIDs.erase(awaited);
        if (ExpectedIDs.empty())
          return;
        FReceiptReceived = false;
        deadline = std::chrono::steady_clock::now() + wait;
        continue;
      }
      otherReceipt = true;
      lastOtherID = FReceivedReceiptID;
      FReceiptReceived = false;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      break;
  }
  if (otherReceipt) {
    throw EZQStompError(
        Format("Wrong RECEIPT received - expected %s, received %s", {ExpectedIDs.front(), lastOtherID}));
  }
  throw EZQStompError(Format("No RECEIPT received. Timeout: %d msec Expected: %s",
                             {static_cast<int64_t>(timeout), ExpectedIDs.front()}));
}

// --- Commands ---

std::string TZQStompClient::AckModeName(uint8_t AckMode) {
  switch (AckMode) {
    case AckModeAuto:
      return "auto";
    case AckModeClientIndividual:
      return "client-individual";
    default:
      return "client";
  }
}

void TZQStompClient::AddHeaderIfNotBlank(IStompFrame& Frame, const std::string& Name,
                                         const std::string& Value) {
  if (!IsBlankText(Value)) {
    Frame.AddHeader(Name, Value);
  }
}

void TZQStompClient::AddHeaders(IStompFrame& Frame, const std::vector<std::string>& Items) {
  for (const auto& item : Items) {
    Frame.AddHeader(OptionName(item), OptionItemValue(item));
  }
}

void TZQStompClient::CheckHeaderNotSet(const IStompFrame& Frame, const std::string& Name,
                                       const std::string& Value) {
  if (const std::string current = Frame.GetHeader(Name); !current.empty()) {
    throw EZQStompError(Format("Changing STOMP header \"%s\" from \"%s\" to \"%s\" is not supported",
                               {Name, current, Value}));
  }
}

void TZQStompClient::CheckTransactionID(const std::string& TransactionID, const std::string& Command) {
  if (IsBlankText(TransactionID)) {
    throw EZQStompInvalidTransactionIdError(
        Format("Empty \"%s\" header in %s frame", {"transaction", Command}));
  }
}

void TZQStompClient::Subscribe(const std::string& Destination, uint8_t AckMode,
                               const std::string& SubscriptionID, const std::string& Selector, bool NoLocal,
                               bool ForceReceipt) {
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("SUBSCRIBE");
  frame->AddHeader("destination", TSubscribeOptionsBuilder::ExtractDestination(Destination));
  frame->AddHeader("ack", AckModeName(AckMode));
  AddHeaderIfNotBlank(*frame, "id", SubscriptionID);
  AddHeaderIfNotBlank(*frame, "selector", Selector);
  if (NoLocal) {
    frame->AddHeader("no-local", "true");
  }
  TSubscribeOptionsBuilder::AddOptionHeaders(TSubscribeOptionsBuilder::ExtractOptions(Destination), *frame);
  TSubscribeOptionsBuilder::AddTransformation(*frame, FConnectionParams.GetOptionList());
  SendWithReceipt(frame, ForceReceipt);
}

bool TZQStompClient::SendHeadersKeepOrder(const TStompHeaders& Headers, bool WithContentLength,
                                          bool WithReceipt) {
  // Beyond this many headers the pairwise check costs more than the frame path.
  constexpr std::size_t maxChecked = 32;
  if (Headers.size() > maxChecked)
    return false;
  for (std::size_t i = 0; i < Headers.size(); ++i) {
    const std::string& name = Headers[i].Name;
    if (name.empty() || name == "destination" || (WithContentLength && name == "content-length") ||
        (WithReceipt && name == "receipt")) {
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (Headers[j].Name == name)
        return false;
    }
  }
  return true;
}

void TZQStompClient::Send(const std::string& Destination, std::string_view Body, const TStompHeaders& Headers,
                          bool OmitContentLength, bool ForceReceipt, int32_t SendTimeout) {
  const std::string id = WriteSend(Destination, Body, Headers, OmitContentLength, ForceReceipt, SendTimeout);
  if (!id.empty())
    WaitForReceipt(id, "send.receipt.timeout");
}

std::string TZQStompClient::WriteSend(const std::string& Destination, std::string_view Body,
                                      const TStompHeaders& Headers, bool OmitContentLength, bool ForceReceipt,
                                      int32_t SendTimeout) {
  const bool withReceipt = ForceReceipt || FSendReceipt;
  // The headers are looked through for a transaction only when a receipt is asked for.
  const auto transaction =
      withReceipt ? std::find_if(Headers.begin(), Headers.end(),
                                 [](const TStompHeaderItem& Item) {
                                   return Item.Name == "transaction" && !IsBlankText(Item.Value);
                                 })
                  : Headers.end();
  const std::string id = withReceipt ? "send.receipt." + NewReceiptID() : std::string();
  if (!SendHeadersKeepOrder(Headers, !OmitContentLength, withReceipt)) {
    // A repeated header name: the frame puts the newest value first, as a built frame always has.
    SendWithFrame(Destination, Body, Headers, OmitContentLength, id, SendTimeout);
  } else {
    // Every header name is distinct, so the headers go out in the order they are given, straight into
    // the output buffer.
    TStompFrameWriter frame = BeginFrame("SEND");
    frame.Header("destination", Destination);
    if (!OmitContentLength) {
      char digits[24];
      const auto end = std::to_chars(std::begin(digits), std::end(digits), Body.size()).ptr;
      frame.Header("content-length", std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
    for (const auto& item : Headers)
      frame.Header(item.Name, item.Value);
    if (withReceipt)
      frame.Header("receipt", id);
    WriteWithBody(frame, Body, SendTimeout);
  }
  if (transaction == Headers.end())
    return id;
  FTransactionReceipts[transaction->Value].push_back(id);
  return std::string();
}

void TZQStompClient::SendWithFrame(const std::string& Destination, std::string_view Body,
                                   const TStompHeaders& Headers, bool OmitContentLength,
                                   const std::string& ReceiptID, int32_t SendTimeout) {
  // The frame orders the headers; the body goes from the caller's octets into the output buffer.
  TZQStompFrame frame("SEND");
  frame.AddHeader("destination", Destination);
  if (!OmitContentLength) {
    frame.AddHeader("content-length", std::to_string(Body.size()));
  }
  for (const auto& item : Headers) {
    frame.AddHeader(item.Name, item.Value);
  }
  if (!ReceiptID.empty()) {
    CheckHeaderNotSet(frame, "receipt", ReceiptID);
    frame.AddHeader("receipt", ReceiptID);
  }
  TStompFrameWriter writer = BeginFrame("SEND");
  for (const auto& item : frame.GetHeaders())
    writer.Header(item.Name, item.Value);
  WriteWithBody(writer, Body, SendTimeout);
}

void TZQStompClient::Ack(const std::string& MessageID, const std::string& Subscription,
                         const std::string& Transaction) {
  Check(!MessageID.empty(), UnitName, __LINE__, "MessageID header must not be empty");
  const TStompVersion version = GetVersion();
  Check(version != 2 || !Subscription.empty(), UnitName, __LINE__);
  // The header names are all different, so no frame object is needed to order them.
  const std::string id = ReceiptIDFor("ACK");
  TStompFrameWriter frame = BeginFrame("ACK");
  if (version == 3) {
    frame.Header("id", MessageID);
  } else {
    frame.Header("message-id", MessageID);
    if (version == 2)
      frame.Header("subscription", Subscription);
  }
  if (!IsBlankText(Transaction))
    frame.Header("transaction", Transaction);
  if (!id.empty())
    frame.Header("receipt", id);
  frame.Body({});
  WriteOutput(-1);
  if (!id.empty())
    WaitForReceipt(id, "ack.receipt.timeout");
}

void TZQStompClient::Nack(const std::string& MessageID, const std::string& Subscription,
                          const std::string& Transaction, const std::vector<std::string>& Headers) {
  Adapter().RequireVersion(2);
  const TStompVersion version = GetVersion();
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("NACK");
  Check(!MessageID.empty(), UnitName, __LINE__, "NACK header must not be empty");
  frame->AddHeader(version == 3 ? "id" : "message-id", MessageID);
  if (version == 2) {
    frame->AddHeader("subscription", Subscription);
  }
  AddHeaders(*frame, Headers);
  AddHeaderIfNotBlank(*frame, "transaction", Transaction);
  SendWithReceipt(frame);
}

void TZQStompClient::SendTransactionFrame(const std::string& Command, const std::string& TransactionID) {
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand(Command);
  CheckTransactionID(TransactionID, Command);
  frame->AddHeader("transaction", TransactionID);
  SendWithReceipt(frame);
}

void TZQStompClient::BeginTransaction(const std::string& TransactionID) {
  SendTransactionFrame("BEGIN", TransactionID);
}

std::vector<std::string> TZQStompClient::CommitTransaction(const std::string& TransactionID) {
  std::vector<std::string> receipts;
  if (const auto found = FTransactionReceipts.find(TransactionID); found != FTransactionReceipts.end()) {
    receipts = std::move(found->second);
    FTransactionReceipts.erase(found);
  }
  SendTransactionFrame("COMMIT", TransactionID);
  return receipts;
}

void TZQStompClient::AbortTransaction(const std::string& TransactionID) {
  FTransactionReceipts.erase(TransactionID);
  SendTransactionFrame("ABORT", TransactionID);
}

void TZQStompClient::Unsubscribe(const std::string& SubscriptionID) {
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("UNSUBSCRIBE");
  frame->AddHeader("id", SubscriptionID);
  SendWithReceipt(frame);
}

void TZQStompClient::SendDisconnectFrame() {
  Trace("SendDisconnectFrame");
  const IStompFramePtr frame = TZQStompFrame::CreateForCommand("DISCONNECT");
  AddHeaderIfNotBlank(*frame, "client-id", FClientID);
  SendWithReceipt(frame);
  FConnected = false;
}

void TZQStompClient::SendHeartbeat() {
  Adapter().SendHeartbeat();
}

void TZQStompClient::CheckHeartbeat() {
  IStompCommAdapter& adapter = Adapter();
  adapter.RequireVersion(2);
  adapter.CheckHeartbeat();
}

bool TZQStompClient::WaitHeartbeat(int32_t Timeout) {
  return Adapter().WaitHeartbeat(Timeout);
}

}  // namespace velmor
