#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "ZQMQInterfaces.h"
#include "ZQPrimitiveMap.h"

namespace velmor {

// The listener of a producer that was given none: ignores both outcomes.
class TNullCompletionListener final : public ICompletionListener {
 public:
  void OnCompletion(const IMessagePtr& /*Message*/) override {}
  void OnException(const IMessagePtr& /*Message*/, const std::exception& /*Error*/) override {}
};

// The fluent producer of a context. It sends through a message producer of the context's session that
// has no destination of its own, and stamps its own properties (as strings), correlation id, type and
// reply-to on every message before the send. The listener learns the outcome of each send; a failure is
// raised again after the listener heard of it.
//
// Holds the session and its message producer strongly. Releasing the producer closes its message
// producer (which writes nothing to the broker), so that a producer made for one send leaves nothing
// behind in the session. Used by one thread at a time.
class TZQMQProducer final : public IMQProducer, public std::enable_shared_from_this<TZQMQProducer> {
 private:
  struct TCreateKey {
    explicit TCreateKey() = default;
  };

 public:
  // Asks Session for a message producer without destination. ContextConnection is the connection of
  // the context the producer is made for, when there is one: the context owns it, so once it is gone
  // the producer's operations raise EIllegalStateException saying that the context no longer exists.
  static IMQProducerPtr Create(const ISessionPtr& Session, const IConnectionPtr& ContextConnection = nullptr);

  // For Create alone (the setters hand out this producer, which needs shared ownership).
  TZQMQProducer(TCreateKey /*Key*/, ISessionPtr Session, const IConnectionPtr& ContextConnection);
  // Closes the message producer; raises nothing.
  ~TZQMQProducer() override;

  IMQProducerPtr SetDeliveryMode(uint8_t DeliveryMode) override;
  IMQProducerPtr SetPriority(int32_t Priority) override;
  // A negative value raises ERangeError "Range check error" and keeps the old one.
  IMQProducerPtr SetTimeToLive(int32_t TimeToLive) override;
  uint8_t GetDeliveryMode() const override;
  int32_t GetPriority() const override;
  int32_t GetTimeToLive() const override;
  // An empty id, an empty type and a nil reply-to stamp nothing.
  void SetCorrelationID(const std::string& CorrelationID) override { FCorrelationID = CorrelationID; }
  std::string GetCorrelationID() const override { return FCorrelationID; }
  std::string GetType() const override { return FType; }
  void SetType(const std::string& Type) override { FType = Type; }
  void SetReplyTo(const IDestinationPtr& ReplyTo) override { FReplyTo = ReplyTo; }
  IDestinationPtr GetReplyTo() const override { return FReplyTo; }
  void ClearProperties() override { FProperties.Clear(); }
  PMStrings GetPropertyNames() const override { return FProperties.GetNames(); }
  bool PropertyExists(const std::string& Name) const override { return FProperties.ItemExists(Name); }
  bool GetBooleanProperty(const std::string& Name) const override { return FProperties.GetBoolean(Name); }
  void SetBooleanProperty(const std::string& Name, bool Value) override {
    FProperties.SetBoolean(Name, Value);
  }
  int32_t GetIntProperty(const std::string& Name) const override { return FProperties.GetInt(Name); }
  void SetIntProperty(const std::string& Name, int32_t Value) override { FProperties.SetInt(Name, Value); }
  std::string GetStringProperty(const std::string& Name) const override {
    return FProperties.GetString(Name);
  }
  void SetStringProperty(const std::string& Name, const std::string& Value) override {
    FProperties.SetString(Name, Value);
  }
  // A nil listener counts as this producer's null listener. A nil message raises
  // EIllegalArgumentException before anything is stamped or sent.
  IMQProducerPtr Send(const IDestinationPtr& Destination, const std::string& Text) override;
  IMQProducerPtr Send(const IDestinationPtr& Destination, const std::string& Text,
                      const ICompletionListenerPtr& CompletionListener) override;
  IMQProducerPtr Send(const IDestinationPtr& Destination, const IMessagePtr& Message) override;
  IMQProducerPtr Send(const IDestinationPtr& Destination, const IMessagePtr& Message,
                      const ICompletionListenerPtr& CompletionListener) override;

 private:
  // Stamps the producer's defaults on Message, sends it and tells the listener. Holds this producer
  // meanwhile: the listener may release the application's last reference to it.
  IMQProducerPtr SendMessage(const IDestinationPtr& Destination, const IMessagePtr& Message,
                             const ICompletionListenerPtr& CompletionListener);
  // EIllegalStateException when the context this producer came from is gone.
  void CheckContext() const;

  ISessionPtr FSession;
  std::weak_ptr<IConnection> FContextConnection;
  bool FFromContext;
  IMessageProducerPtr FProducer;
  ICompletionListenerPtr FCompletionListener;
  TPrimitiveMap FProperties;
  std::string FCorrelationID;
  std::string FType;
  IDestinationPtr FReplyTo;
};

}  // namespace velmor
