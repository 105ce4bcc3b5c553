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
// The messages it hands out are acknowledged through it: in the open transaction of a transacted
// session, and under client acknowledgement each message together with every earlier one it handed out
// and not yet acknowledged, one ACK each.
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
  // Closed without a frame because the broker refused the subscription with Text: the receives raise
  // EZQStompServerErrorMessage with that text.
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
  // The session's transaction ended: what was acknowledged or rejected in it stays so when it was
  // committed, and is open again when it was rolled back.
  void TransactionEnded(bool Committed);

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
  void HandOut(const TZQSession& Session, const TZQAbstractTransport& Transport, const IMessagePtr& Message);

  // A message handed out under client acknowledgement and not yet acknowledged, as its ACK names it.
  struct TDelivery {
    uint64_t Number = 0;
    uint64_t Connection = 0;
    std::string AckID;
    std::string Subscription;
  };

  IDestinationPtr FDestination;
  TZQConsumerID FConsumerID;
  std::weak_ptr<TZQSession> FSession;
  std::string FMessageSelector;
  IMessageTransformerPtr FMessageTransformer;
  bool FClosed = false;
  // Why the broker refused the subscription, when it did.
  std::optional<std::string> FRefusal;
  bool FStarted = false;
  std::string FSubscriptionName;
  bool FSkipSubscriptionCheck = false;
  std::string FSubscribedAs;
  uint64_t FSubscribedOn = 0;
  uint64_t FDeliveries = 0;
  // Oldest first; those acknowledged or rejected in the session's open transaction wait apart until it
  // ends.
  std::deque<TDelivery> FUnacknowledged;
  std::vector<TDelivery> FSettledInTransaction;
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
