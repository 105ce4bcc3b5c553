#pragma once

#include <cstdint>

#include "ZQMQInterfaces.h"

namespace velmor {

// Common part of the four destination classes: the kind. After construction a destination is only
// read (unless an application calls SetDestinationKind), so it may be shared between threads.
class TZQDestination : public virtual IDestination {
 public:
  uint8_t GetDestinationKind() const override { return FDestinationKind; }
  void SetDestinationKind(uint8_t Kind) override { FDestinationKind = Kind; }

 protected:
  TZQDestination() = default;

 private:
  uint8_t FDestinationKind = 0;
};

// The interface that a destination's kind promises, for code that dispatches on the kind. Because
// SetDestinationKind is public and unchecked, a destination may report a kind whose interface its class
// does not implement; these raise EIllegalStateException "Destination of kind %d does not implement %s"
// (the kind and the interface name) in that case, and EMQException "Destination is unassigned" for
// nullptr.
IQueuePtr DestinationAsQueue(const IDestinationPtr& Destination);
ITopicPtr DestinationAsTopic(const IDestinationPtr& Destination);
ITemporaryQueuePtr DestinationAsTemporaryQueue(const IDestinationPtr& Destination);
ITemporaryTopicPtr DestinationAsTemporaryTopic(const IDestinationPtr& Destination);

}  // namespace velmor
