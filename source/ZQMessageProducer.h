#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQMQInterfaces.h"
#include "ZQMessageProducerSupport.h"

namespace velmor {

// Sends messages for one session: applies the connection's outgoing transformer (taken at creation),
// checks destination, priority and time-to-live, and hands the message to the session's send. Owned by
// its session; used by one thread at a time.
class TZQMessageProducer final : public TZQMessageProducerSupport,
                                 public ICloseable,
                                 public std::enable_shared_from_this<TZQMessageProducer> {
 private:
  struct TCreateKey {
    explicit TCreateKey() = default;
  };

 public:
  // A new producer registered with Session. Destination may be nullptr; a temporary queue of this
  // library is refused (EIllegalStateException), since the broker accepts it only as a reply-to.
  static std::shared_ptr<TZQMessageProducer> Create(const std::shared_ptr<TZQSession>& Session,
                                                    const IDestinationPtr& Destination, int32_t SendTimeout);
  TZQMessageProducer(TCreateKey /*Key*/, const std::shared_ptr<TZQSession>& Session,
                     const IDestinationPtr& Destination, int32_t SendTimeout);

  // Leaves the session; a second Close does nothing.
  void Close() override;
  void Send(const IMessagePtr& Message) override;
  void Send(const IDestinationPtr& Destination, const IMessagePtr& Message) override;
  void Send(const IMessagePtr& Message, uint8_t DeliveryMode, int32_t Priority, int32_t TimeToLive) override;
  void Send(const IDestinationPtr& Destination, const IMessagePtr& Message, uint8_t DeliveryMode,
            int32_t Priority, int32_t TimeToLive) override;

  // The default destination (nullptr when none).
  IDestinationPtr GetDestination() const;
  bool GetClosed() const { return FClosed; }
  int32_t GetSendTimeout() const { return FSendTimeout; }

 protected:
  // EIllegalStateException "The producer is closed".
  void CheckClosed() const override;

 private:
  // The stored time-to-live as the signed argument of the full send.
  int32_t StoredTimeToLive() const;
  // The broker name of Destination, worked out by the session once for each destination of the
  // library that is sent to in a row (its name never changes; its kind is checked each time).
  const std::string& DestinationNameFor(const TZQSession& Session, const IDestinationPtr& Destination);

  IDestinationPtr FDestination;
  bool FClosed = false;
  IMessageTransformerPtr FMessageTransformer;
  int32_t FSendTimeout;
  // The destination that FDestinationName names, with its kind then; empty when the name was not kept.
  IDestinationPtr FNamedDestination;
  uint8_t FNamedKind = 0;
  std::string FDestinationName;
};

}  // namespace velmor
