#pragma once

#include <cstdint>
#include <memory>

#include "ZQMQInterfaces.h"

namespace velmor {

class TZQSession;

// The defaults of a producer (delivery mode, priority, time-to-live) and its session, held weakly (the
// session owns the producer). Every operation first runs CheckClosed.
class TZQMessageProducerSupport : public virtual IMessageProducer {
 public:
  void SetDeliveryMode(uint8_t DeliveryMode) override;
  // 0 to 255, else EIllegalArgumentException "Priority must be a value between 0 and 255".
  void SetPriority(int32_t Priority) override;
  // At most 2147483647 ms, else ERangeError "Range check error" and the old value stays.
  void SetTimeToLive(uint32_t TimeToLive) override;
  uint8_t GetDeliveryMode() const override;
  int32_t GetPriority() const override;
  uint32_t GetTimeToLive() const override;

 protected:
  explicit TZQMessageProducerSupport(const std::shared_ptr<TZQSession>& Session);

  virtual void CheckClosed() const = 0;
  // The session; EIllegalStateException when it no longer exists.
  std::shared_ptr<TZQSession> RequireSession() const;

  std::weak_ptr<TZQSession> FSession;
  uint32_t FTimeToLive = 0;
  int32_t FPriority = 0;
  uint8_t FDeliveryMode = 0;
};

}  // namespace velmor
