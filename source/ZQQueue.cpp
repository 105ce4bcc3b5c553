#include "ZQQueue.h"

#include <utility>

#include "ZQExceptions.h"

namespace velmor {

TZQQueue::TZQQueue(std::string Name) : FQueueName(std::move(Name)) {
  SetDestinationKind(DestinationKindQueue);
}

TZQTemporaryQueue::TZQTemporaryQueue(std::string Name) : TZQQueue(std::move(Name)) {
  SetDestinationKind(DestinationKindTemporaryQueue);
}

void TZQTemporaryQueue::Delete() {
  throw EMQException("Feature not implemented");
}

}  // namespace velmor
