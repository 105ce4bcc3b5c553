#include "ZQTopic.h"

#include <utility>

#include "ZQExceptions.h"

namespace velmor {

TZQTopic::TZQTopic(std::string Name) : FTopicName(std::move(Name)) {
  SetDestinationKind(DestinationKindTopic);
}

TZQTemporaryTopic::TZQTemporaryTopic(std::string Name) : TZQTopic(std::move(Name)) {
  SetDestinationKind(DestinationKindTemporaryTopic);
}

void TZQTemporaryTopic::Delete() {
  throw EMQException("Feature not implemented");
}

}  // namespace velmor
