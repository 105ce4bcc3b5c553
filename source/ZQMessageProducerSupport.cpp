#include "ZQMessageProducerSupport.h"

#include <limits>

#include "ZQConnection.h"
#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

namespace {

constexpr int32_t MinPriority = 0;
constexpr int32_t MaxPriority = 255;

}  // namespace

TZQMessageProducerSupport::TZQMessageProducerSupport(const std::shared_ptr<TZQSession>& Session)
    : FSession(Session) {}

std::shared_ptr<TZQSession> TZQMessageProducerSupport::RequireSession() const {
  std::shared_ptr<TZQSession> session = FSession.lock();
  if (!session) {
    throw EIllegalStateException("The producer's session no longer exists");
  }
  return session;
}

void TZQMessageProducerSupport::SetDeliveryMode(uint8_t DeliveryMode) {
  CheckClosed();
  FDeliveryMode = DeliveryMode;
}

void TZQMessageProducerSupport::SetPriority(int32_t Priority) {
  CheckClosed();
  if (Priority < MinPriority || Priority > MaxPriority) {
    throw EIllegalArgumentException(
        Format("Priority must be a value between %d and %d", {int64_t{MinPriority}, int64_t{MaxPriority}}));
  }
  FPriority = Priority;
}

void TZQMessageProducerSupport::SetTimeToLive(uint32_t TimeToLive) {
  CheckClosed();
  // A send takes the time-to-live as a signed 32-bit value.
  if (TimeToLive > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
    throw ERangeError("Range check error");
  FTimeToLive = TimeToLive;
}

uint8_t TZQMessageProducerSupport::GetDeliveryMode() const {
  CheckClosed();
  return FDeliveryMode;
}

int32_t TZQMessageProducerSupport::GetPriority() const {
  CheckClosed();
  return FPriority;
}

uint32_t TZQMessageProducerSupport::GetTimeToLive() const {
  CheckClosed();
  return FTimeToLive;
}

}  // namespace velmor
