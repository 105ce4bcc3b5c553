#include "ZQDestination.h"

#include <memory>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

namespace {

template <class TInterface>
std::shared_ptr<TInterface> RequireInterface(const IDestinationPtr& Destination, const char* InterfaceName) {
  if (!Destination) {
    throw EMQException("Destination is unassigned");
  }
  std::shared_ptr<TInterface> result = std::dynamic_pointer_cast<TInterface>(Destination);
  if (!result) {
    throw EIllegalStateException(
        Format("Destination of kind %d does not implement %s",
               {static_cast<int64_t>(Destination->GetDestinationKind()), InterfaceName}));
  }
  return result;
}

}  // namespace

IQueuePtr DestinationAsQueue(const IDestinationPtr& Destination) {
  return RequireInterface<IQueue>(Destination, "IQueue");
}

ITopicPtr DestinationAsTopic(const IDestinationPtr& Destination) {
  return RequireInterface<ITopic>(Destination, "ITopic");
}

ITemporaryQueuePtr DestinationAsTemporaryQueue(const IDestinationPtr& Destination) {
  return RequireInterface<ITemporaryQueue>(Destination, "ITemporaryQueue");
}

ITemporaryTopicPtr DestinationAsTemporaryTopic(const IDestinationPtr& Destination) {
  return RequireInterface<ITemporaryTopic>(Destination, "ITemporaryTopic");
}

}  // namespace velmor
