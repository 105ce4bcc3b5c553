#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ZQConsumerID.h"
#include "ZQMQInterfaces.h"
#include "ZQMessage.h"

namespace velmor {

class TZQSession;
class TZQAbstractTransport;
class TZQMessageStore;

// Hands out the subscription id of a consumer.
class IConsumerIDProvider {
 public:
  virtual ~IConsumerIDProvider() = default;
  virtual const TZQConsumerID& GetConsumerID() const = 0;
};

// The receiving end of one subscription of a session. Receiving is polling on the caller's thread: a
// receive first takes a message that another consumer of the connection read for this one, then reads
// from the connection's socket until a message for this subscription comes or its time is up, keeping
// the messages of the connection's other consumers for them. The session owns the consumer; the
// consumer refers to its session weakly. Used by one thread at a time.
//
// The messages it hands out are settled through it. What a transacted session's consumer hands out
// belongs to the session's open transaction: Commit acknowledges it (or rejects it, when Nack was
// called) in the transaction, Rollback rejects it after the ABORT so that the broker hands it out again.
// Under client-individual acknowledgement each message is acknowledged or rejected once; under client
// acknowledgement a message is acknowledged together with every earlier one the consumer handed out
// and not yet settled, one ACK each. Under automatic acknowledgement, and for the messages of a
// temporary queue, the broker counted the message as consumed when it delivered it.
class TZQMessageConsumer : public virtual IMessageConsumer,
                           public IZQAcknowledger,
                           public IConsumerIDProvider,
                           public ICloseable,
                           public IStartable,
                           public IStoppable,
                           public std::enable_shared_from_this<TZQMessageConsumer> {
 protected:
  struct TCreateKey {
    explicit TCreateKey() = default;
  };

 public:
  // A new consumer registered with Session (EDuplicateConsumerIDException when its id is open on the
  // connection). The session sends the SUBSCRIBE afterwards.
  static std::shared_ptr<TZQMessageConsumer> Create(const std::shared_ptr<TZQSession>& Session,
                                                    const std::string& ConsumerID,
                                                    const IDestinationPtr& Destination,
                                                    const std::string& SubscriptionName,
                                                    const std::string& MessageSelector, bool NoLocal);
  TZQMessageConsumer(TCreateKey /*Key*/, const std::shared_ptr<TZQSession>& Session,
                     const std::string& ConsumerID, const IDestinationPtr& Destination,
                     const std::string& SubscriptionName, const std::string& MessageSelector, bool NoLocal);

  // IMessageConsumer
  std::string GetMessageSelector() const override { return FMessageSelector; }
  IMessagePtr Receive() override;
  IMessagePtr Receive(int32_t Timeout) override;
  IMessagePtr ReceiveNoWait() override;
  // Leaves the session and unsubscribes; a second Close does nothing. A subscription ends with the
  // connection it was made on, so once that is lost nothing is sent and nothing raised.
  void Close() override;

  // IStartable, IStoppable: only the flag; receiving does not depend on it.
  void Start() override { FStarted = true; }
  void Stop() override { FStarted = false; }

  // IConsumerIDProvider
  const TZQConsumerID& GetConsumerID() const override { return FConsumerID; }

  const std::string& GetID() const { return FConsumerID.GetID(); }
  const std::string& GetSubscriptionName() const { return FSubscriptionName; }
  const IDestinationPtr& GetDestination() const { return FDestination; }
  bool GetClosed() const { return FClosed; }
  bool GetStarted() const { return FStarted; }
  // Closed without a frame: the broker ended the subscription already.
  void MarkUnsubscribed();
  // Closed without a frame because the broker refused the subscription with Text: the receives hand out
  // what the connection kept for it (delivered under automatic acknowledgement, so the broker counts it
  // as consumed), then raise EZQStompServerErrorMessage with that text.
  void Refuse(const std::string& Text);

  // The destination name the consumer subscribed with; empty while it has no subscription of its own
  // (a consumer of a temporary queue). Connection: the client's connection number it subscribed on.
  const std::string& GetSubscribedAs() const { return FSubscribedAs; }
  uint64_t GetSubscribedOn() const { return FSubscribedOn; }
  void SetSubscribedAs(const std::string& DestinationName, uint64_t Connection) {
    FSubscribedAs = DestinationName;
    FSubscribedOn = Connection;
  }
  // The connection was made again: the deliveries of the lost one are no longer the broker's.
  void ForgetDeliveries();
  // For the session that commits its transaction TransactionID: ACK, or NACK for a rejected message, of
  // each message handed out in it, in the transaction. The messages stay recorded until
  // TransactionEnded.
  void SettleInTransaction(TZQAbstractTransport& Transport, const std::string& TransactionID) const;
  // For the session that rolled its transaction back: NACK of each message handed out in it, so that
  // the broker hands it out again at once (STOMP 1.0 has no NACK: then only once the connection ends).
  void ReturnTransaction(TZQAbstractTransport& Transport) const;
  // The session's transaction is over: what was handed out in it belongs to none any more.
  void TransactionEnded() { FInTransaction.clear(); }

  // IZQAcknowledger
  void Acknowledge(const TZQMessage& Message) override;
  void Nack(const TZQMessage& Message) override;

 protected:
  // Registers a new consumer with its session.
  template <class TConsumer>
  static std::shared_ptr<TConsumer> Register(std::shared_ptr<TConsumer> Consumer,
                                             const std::shared_ptr<TZQSession>& Session);

  bool FNoLocal;

 private:
  enum class TReceiveMode { Blocking, Timed, NoWait };

  // EIllegalStateException "The consumer is closed", or the broker's refusal of the subscription.
  void CheckClosed() const;
  std::shared_ptr<TZQSession> RequireSession() const;
  IMessagePtr DoReceive(TReceiveMode Mode, int32_t Timeout);
  // Reads until a message for this consumer comes or the mode's time is up, keeping the others.
  IMessagePtr ReadOwn(TZQMessageStore& Store, TZQAbstractTransport& Transport, TReceiveMode Mode,
                      int32_t Timeout);
  IMessagePtr TransformMessage(const std::shared_ptr<TZQSession>& Session, const IMessagePtr& Message);
  // Makes Message one that this consumer handed out, to be acknowledged through it.
  void HandOut(TZQSession& Session, const TZQAbstractTransport& Transport, const IMessagePtr& Message);
  // True when the broker counts what this consumer receives as consumed on delivery: in a session with
  // automatic acknowledgement, and for a temporary queue, which has no subscription of its own.
  bool SettledOnDelivery(const TZQSession& Session) const;
  // EIllegalStateException naming Operation when the consumer is closed or the broker closed the
  // connection: the broker takes no ACK or NACK for the message then.
  void CheckCanSettle(const TZQAbstractTransport& Transport, const char* Operation) const;

  // A message handed out and not yet settled, as its ACK names it.
  struct TDelivery {
    uint64_t Number = 0;
    uint64_t Connection = 0;
    std::string AckID;
    std::string Subscription;
    // Rejected in the open transaction: NACK with these headers at Commit.
    bool Rejected = false;
    PMStrings Headers;
  };
  // The delivery numbered Number in Deliveries (oldest first), or their end.
  template <class TDeliveries>
  static auto FindDelivery(TDeliveries& Deliveries, uint64_t Number);

  IDestinationPtr FDestination;
  TZQConsumerID FConsumerID;
  std::weak_ptr<TZQSession> FSession;
  std::string FMessageSelector;
  IMessageTransformerPtr FMessageTransformer;
  bool FClosed = false;
  // Why the broker refused the subscription, when it did, and what was kept for it then.
  std::optional<std::string> FRefusal;
  std::deque<IMessagePtr> FKeptAtRefusal;
  bool FStarted = false;
  std::string FSubscriptionName;
  bool FSkipSubscriptionCheck = false;
  std::string FSubscribedAs;
  uint64_t FSubscribedOn = 0;
  uint64_t FDeliveries = 0;
  // Under client acknowledgement, what was handed out and not yet settled, oldest first. A closed
  // consumer keeps them, to tell a message it settled from one the broker no longer takes an ACK for.
  std::deque<TDelivery> FUnacknowledged;
  // In a transacted session, what was handed out in the open transaction, oldest first.
  std::vector<TDelivery> FInTransaction;
};

// A durable topic subscription.
class TZQTopicSubscriber final : public TZQMessageConsumer, public ITopicSubscriber {
 public:
  static std::shared_ptr<TZQTopicSubscriber> Create(const std::shared_ptr<TZQSession>& Session,
                                                    const std::string& ConsumerID, const ITopicPtr& Topic,
                                                    const std::string& SubscriptionName,
                                                    const std::string& MessageSelector, bool NoLocal);
  using TZQMessageConsumer::TZQMessageConsumer;

  bool GetNoLocal() const override { return FNoLocal; }
  ITopicPtr GetTopic() const override;
};

}  // namespace velmor
