#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ZQAbstractCommAdapter.h"
#include "ZQCommInterfaces.h"
#include "ZQStompConnection.h"
#include "ZQStompEncoder.h"
#include "ZQStompFrame.h"
#include "ZQStompTypes.h"
#include "ZQThreadSafe.h"
#include "ZQURI.h"

namespace velmor {

// The broker URL's options in URL order, each item as written: name, "=", value (read them with
// OptionName and OptionValue).
class TZQConnectionParams final {
 public:
  // Replaces the list by the options of the URL's query (QueryOptionList).
  void Load(const IURIPtr& URI);
  const std::vector<std::string>& GetOptionList() const { return FOptionList; }

 private:
  std::vector<std::string> FOptionList;
};

// Which commands wait for a RECEIPT, by the URL options "subscribe.receipt", "unsubscribe.receipt",
// "send.receipt" and "disconnect.receipt" set exactly to "true".
class TZQReceiptConfiguration final {
 public:
  void Load(const std::vector<std::string>& OptionList);
  bool IsRequired(const std::string& Command) const;

 private:
  // Marks Command when the item is named OptionName and its value is exactly "true".
  void MapOption(std::string_view Name, std::string_view Value, std::string_view Option,
                 const std::string& Command);

  // One "COMMAND=true" item for each command that must wait for a RECEIPT.
  std::vector<std::string> FRequired;
};

// The broker URL options the client knows.
class TZQParamNameValidator final {
 public:
  static constexpr std::array<std::string_view, 10> ValidParamNames = {"subscribe.receipt",
                                                                       "subscribe.receipt.timeout",
                                                                       "unsubscribe.receipt",
                                                                       "unsubscribe.receipt.timeout",
                                                                       "send.receipt",
                                                                       "send.receipt.timeout",
                                                                       "disconnect.receipt",
                                                                       "disconnect.receipt.timeout",
                                                                       "subscribe.transformation",
                                                                       "message.subscription_check"};

  // True for a name beginning with "connect." and for exactly one of ValidParamNames (case-sensitive).
  static bool IsValid(std::string_view Name);
  // Checks the items in list order; the first whose name is not valid raises EMQException "Connection
  // URL contains unknown option: %s" with the whole item as written, or with its number in the list
  // instead when it may hold part of URI's user information.
  static void Validate(const std::vector<std::string>& OptionList, const IURIPtr& URI);
};

// Turns the options of a destination text ("name?a=1&b=2") into SUBSCRIBE headers.
class TSubscribeOptionsBuilder final {
 public:
  // The headers SUBSCRIBE writes itself; no destination option may take one of these names.
  static constexpr std::array<std::string_view, 7> OwnHeaderNames = {
      "destination", "ack", "id", "selector", "no-local", "transformation", "receipt"};

  // The text before the first "?"; the whole text when there is none.
  static std::string ExtractDestination(const std::string& Text);
  // The text after the first "?"; empty when there is none.
  static std::string ExtractOptions(const std::string& Text);
  // EIllegalArgumentException for the first item named by one of Names.
  static void RefuseOptionNames(const std::vector<std::string>& Items,
                                std::span<const std::string_view> Names);
  // One header per option item, in written order; a repeated name gets the value of its first item.
  // An item named by OwnHeaderNames raises EIllegalArgumentException before any header is added.
  static void AddOptionHeaders(const std::string& Options, IStompFrame& Frame);
  // A "transformation" header for each URL option that begins with "subscribe.transformation".
  static void AddTransformation(IStompFrame& Frame, const std::vector<std::string>& OptionList);
};

// The reconnect loop behind "failover:(" URLs: it calls the client's SetURI and PlainConnect for each
// broker entry until one connects. The client owns it.
class IZQFailoverSupport {
 public:
  virtual ~IZQFailoverSupport() = default;
  virtual void ConnectWithFailover(const IURIPtr& URI) = 0;
};

// Acknowledge modes of SUBSCRIBE.
inline constexpr uint8_t AckModeAuto = 0;
inline constexpr uint8_t AckModeClient = 1;
inline constexpr uint8_t AckModeClientIndividual = 2;

// The STOMP client of one broker connection: CONNECT and the handling of every received frame, receipts,
// and one operation per client command. The broker transport derives from it and fills in the MESSAGE
// handler and the durable unsubscribe.
//
// Not thread-safe: calls on one client must not overlap (receipt ids alone are unique across threads).
// Neither copyable nor movable; held by std::shared_ptr (weak_from_this serves the messages it hands
// out).
class TZQStompClient : public TZQStompConnection, public std::enable_shared_from_this<TZQStompClient> {
 public:
  ~TZQStompClient() override;

  // The URL for the adapter and the credentials (base), then the option list.
  void SetURI(const IURIPtr& URI) override;
  // Connects: a URL whose scheme begins with "failover:(stomp" goes to the failover loop, any other
  // one to PlainConnect. A client that the loop connected holds the URL of the broker it reached, yet
  // connecting again runs the loop over the whole failover URL once more.
  void Connect() override;
  // Sends DISCONNECT when connected and the TCP connection is still open, then always closes the TCP
  // connection and clears the connected state and the session; a failure on the way is reported after
  // that.
  void Disconnect() override;

  // One connect to the broker of the current URL: version, heart-beats and connected state are reset,
  // the handlers installed, the TCP connection opened, CONNECT written and the answer handled. A failed
  // connect leaves no TCP connection open. The failover loop calls it for each entry.
  void PlainConnect();

  // Called for every MESSAGE frame that is handed out (filled by the broker transport).
  virtual void OnMessageFrame(const IStompFramePtr& Frame) = 0;
  // UNSUBSCRIBE of a durable subscription (filled by the broker transport).
  virtual void UnsubscribeDurable(const std::string& DestinationName,
                                  const std::string& SubscriptionName) = 0;
  // UNSUBSCRIBE with "id" = SubscriptionID (also when empty).
  virtual void Unsubscribe(const std::string& SubscriptionID);

  // The adapter's connected handler: builds and writes CONNECT.
  void StompConnect(IStompCommAdapter& CommAdapter);
  // The adapter's frame handler: handles one frame by its command.
  void DispatchFrame(const IStompFramePtr& Frame);

  // Encodes and writes one frame; SendTimeout -1 leaves the socket's send time-out unchanged. Every
  // command but CONNECT needs the connected state.
  void SendFrame(const IStompFramePtr& Frame, int32_t SendTimeout);
  // Writes a frame, with a "receipt" header and a wait for the RECEIPT when the URL asks for one for
  // its command or ForceReceipt is set (the wait is the command's receipt time-out either way).
  void SendWithReceipt(const IStompFramePtr& Frame, bool ForceReceipt = false);
  // "id.", the next receipt number, ".", the millisecond tick count.
  std::string NewReceiptID();
  // The receipt id for a command that needs one ("subscribe.receipt.id.0.123"), else empty.
  std::string ReceiptIDFor(const std::string& Command);
  // Reads frames until the RECEIPT with ExpectedID arrives, within the time-out that the URL option
  // TimeoutOption gives (default 5000 ms). MESSAGE frames read meanwhile are held, in order, for the
  // next receive calls (see DispatchPendingMessageFrame), up to the held-frame limits; reaching them
  // ends the wait with EZQStompError, saying that the outcome of the call is unknown, and the
  // connection open. When no frame at all comes in time the adapter closes the connection
  // ("ReadOneMessage: received no data."); when frames came, but not the RECEIPT, the error is "No
  // RECEIPT received..." or, when only other receipts came, "Wrong RECEIPT received...", and the
  // connection stays open.
  void WaitForReceipt(const std::string& ExpectedID, const std::string& TimeoutOption);
  // The same for every id of ExpectedIDs, in whatever order their RECEIPTs come; the time-out counts
  // from the start and again from each awaited RECEIPT. The errors name the first id still awaited.
  void WaitForReceipts(std::vector<std::string> ExpectedIDs, const std::string& TimeoutOption);
  // --- Commands ---

  // SUBSCRIBE; Destination may carry options after "?", which become headers. AckMode: AckModeAuto,
  // AckModeClient, AckModeClientIndividual (any other value means "client"). Waits for a receipt when
  // the URL asks for one or ForceReceipt is set.
  void Subscribe(const std::string& Destination, uint8_t AckMode, const std::string& SubscriptionID,
                 const std::string& Selector, bool NoLocal, bool ForceReceipt = false);
  // SEND of Body to Destination with the extra Headers; "content-length" unless OmitContentLength; a
  // receipt when ForceReceipt or the URL option "send.receipt" asks for one, awaited here except inside
  // a transaction (a "transaction" header in Headers): the broker answers those only at COMMIT. The
  // body is encoded straight from where the caller holds it.
  void Send(const std::string& Destination, std::string_view Body, const TStompHeaders& Headers,
            bool OmitContentLength, bool ForceReceipt, int32_t SendTimeout);
  // Send without the wait: returns the receipt id that the caller must wait for, empty when no receipt
  // was asked for. A SEND of a transaction asks for its receipt all the same, but the broker answers it
  // only when COMMIT applies the SEND (for a persistent message, once it has stored the message): its
  // id is kept for the COMMIT of that transaction, and the result is empty.
  std::string WriteSend(const std::string& Destination, std::string_view Body, const TStompHeaders& Headers,
                        bool OmitContentLength, bool ForceReceipt, int32_t SendTimeout);
  // ACK in the form of the negotiated version ("id" on 1.2, "message-id" before, "subscription" on 1.1).
  void Ack(const std::string& MessageID, const std::string& Subscription, const std::string& Transaction);
  // NACK (needs STOMP 1.1); Headers are extra "name=value" items.
  void Nack(const std::string& MessageID, const std::string& Subscription, const std::string& Transaction,
            const std::vector<std::string>& Headers = {});
  void BeginTransaction(const std::string& TransactionID);
  // COMMIT; returns the receipt ids that the transaction's SENDs asked for (see WriteSend), which the
  // broker answers while it applies the transaction.
  std::vector<std::string> CommitTransaction(const std::string& TransactionID);
  // ABORT; the receipts the transaction's SENDs asked for will not come.
  void AbortTransaction(const std::string& TransactionID);
  // DISCONNECT (with a receipt when the URL asks); the connected state ends when it went through.
  void SendDisconnectFrame();

  // Heart-beats on the caller's request (the adapter keeps them itself while a read waits).
  void SendHeartbeat();
  void CheckHeartbeat();
  bool WaitHeartbeat(int32_t Timeout);

  // --- MESSAGE frames held by a receipt wait ---

  bool HasPendingMessageFrames() const { return !FPendingMessages.empty(); }
  // The MESSAGE frames of a connection the broker closed that nobody has read: those a receipt wait
  // held, then those the adapter still has. Taken once.
  std::vector<IStompFramePtr> TakeUnreadMessageFrames();
  std::size_t PendingMessageFrameCount() const { return FPendingMessages.size(); }
  // Hands the oldest held MESSAGE frame to OnMessageFrame; false when none is held. Receive calls do
  // this before they read from the socket.
  bool DispatchPendingMessageFrame();
  // Drops the held MESSAGE frames of the subscription Subscription.
  void DropPendingMessageFrames(const std::string& Subscription);

  // --- State ---

  // True from the handled CONNECTED frame until DISCONNECT went out or the client disconnected.
  bool GetConnected() const { return FConnected; }
  const std::string& GetSessionID() const { return FSessionID; }
  const std::string& GetServer() const { return FServer; }
  // Counts the CONNECTED frames handled: tells the connections of one client apart (0 before the first).
  uint64_t GetConnectionNumber() const { return FConnectionNumber; }
  bool GetSendReceipt() const { return FSendReceipt; }
  bool GetReceiptReceived() const { return FReceiptReceived; }
  const std::string& GetReceivedReceiptID() const { return FReceivedReceiptID; }
  const TZQConnectionParams& GetConnectionParams() const { return FConnectionParams; }
  const TZQReceiptConfiguration& GetReceiptConfiguration() const { return FReceiptConfiguration; }
  // The negotiated protocol version of the adapter: 1 = STOMP 1.0, 2 = 1.1, 3 = 1.2.
  TStompVersion GetVersion() const;

  void SetFailoverSupport(std::unique_ptr<IZQFailoverSupport> Support);

  // 0 gives "auto", 2 "client-individual", any other value "client".
  static std::string AckModeName(uint8_t AckMode);

 protected:
  TZQStompClient();

  // Runs the failover loop for URI.
  virtual void ConnectWithFailover(const IURIPtr& URI);

  // Bounds on the MESSAGE frames a receipt wait holds: frame count and total octets as received. A wait
  // reads on while it holds less than both; the octet bound is 64 MiB besides the largest frame the
  // client reads, so that one message up to the body limit never ends a wait.
  static constexpr std::size_t DefaultMaxPendingMessages = 10000;
  static constexpr std::size_t DefaultMaxPendingOctets =
      64 * 1024 * 1024 + MaxHeaderBlockLength + MaxBodyLength;
  void SetPendingMessageLimits(std::size_t MaxFrames, std::size_t MaxOctets);

  // Steps of CONNECT and CONNECTED.
  void AddConnectOptions(IStompFrame& Frame) const;
  void ApplyHeartbeatRequest(const std::string& Text);
  void NegotiateHeartbeat(const std::string& Text);
  [[noreturn]] void RaiseServerError(const IStompFrame& Frame) const;

  // Shared steps of the frame builders.
  static void AddHeaderIfNotBlank(IStompFrame& Frame, const std::string& Name, const std::string& Value);
  static void AddHeaders(IStompFrame& Frame, const std::vector<std::string>& Items);
  static void CheckHeaderNotSet(const IStompFrame& Frame, const std::string& Name, const std::string& Value);
  static void CheckTransactionID(const std::string& TransactionID, const std::string& Command);

  bool FConnected = false;
  std::string FSessionID;
  std::string FServer;
  std::unique_ptr<IZQFailoverSupport> FFailoverSupport;
  bool FSendReceipt = false;
  TZQThreadSafeIntegerSequence FReceiptSequence;
  bool FReceiptReceived = false;
  std::string FReceivedReceiptID;
  TZQReceiptConfiguration FReceiptConfiguration;
  TZQConnectionParams FConnectionParams;
  // The failover URL the loop last connected through; cleared by SetURI.
  IURIPtr FFailoverURI;

 private:
  void SendTransactionFrame(const std::string& Command, const std::string& TransactionID);
  // True when the SEND headers can be written in the given order: no name is empty or repeated, and
  // none is one the SEND sets itself.
  static bool SendHeadersKeepOrder(const TStompHeaders& Headers, bool WithContentLength, bool WithReceipt);
  // SEND through a frame object, for headers that the frame must order.
  void SendWithFrame(const std::string& Destination, std::string_view Body, const TStompHeaders& Headers,
                     bool OmitContentLength, const std::string& ReceiptID, int32_t SendTimeout);
  // EZQStompClientNotConnectedError "Not connected! Command: " + Command unless connected.
  void CheckConnectedFor(std::string_view Command) const;
  // Starts a frame in the output buffer; EZQStompClientNotConnectedError when not connected.
  TStompFrameWriter BeginFrame(std::string_view Command);
  // Writes the output buffer to the adapter.
  void WriteOutput(int32_t SendTimeout);
  // Ends Frame with Body and writes it: a large body is written from where it lies, beside the header
  // block, instead of being copied into the output buffer.
  void WriteWithBody(TStompFrameWriter& Frame, std::string_view Body, int32_t SendTimeout);
  // The protocol version whose CONNECT escaping fits the versions that CONNECT offers.
  static TStompVersion ConnectEncodingVersion(const IStompFrame& Frame);

  // The encoded frame being written; kept from frame to frame up to MaxKeptOutput octets of capacity.
  static constexpr std::size_t MaxKeptOutput = 1024 * 1024;
  // Bodies from this size on are written beside the header block.
  static constexpr std::size_t MinSeparateBody = 16 * 1024;
  std::string FOutput;
  // MESSAGE frames read by a receipt wait, oldest first, and their octets as received.
  std::deque<IStompFramePtr> FPendingMessages;
  std::size_t FPendingOctets = 0;
  std::size_t FMaxPendingMessages = DefaultMaxPendingMessages;
  std::size_t FMaxPendingOctets = DefaultMaxPendingOctets;
  // Frames handed to DispatchFrame so far; tells a receipt wait whether any frame came.
  uint64_t FFramesDispatched = 0;
  uint64_t FConnectionNumber = 0;
  // The receipt ids that the SENDs of each open transaction asked for, by transaction id.
  std::unordered_map<std::string, std::vector<std::string>> FTransactionReceipts;
  bool FWaitingForReceipt = false;
  // True from CONNECT until the broker's first frame was handled.
  bool FAwaitingConnected = false;
};

}  // namespace velmor
