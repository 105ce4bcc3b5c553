#include "ZQMQConsumer.h"

#include <utility>

#include "ZQExceptions.h"

namespace velmor {

namespace {

const ISessionPtr& CheckedSession(const ISessionPtr& Session) {
  if (!Session) {
    throw EIllegalArgumentException("Session must not be nil");
  }
  return Session;
}

}  // namespace

TZQMQConsumer::TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination)
    : FSession(std::move(Session)), FDestination(std::move(Destination)) {
  FConsumer = CheckedSession(FSession)->CreateConsumer(FDestination);
}

TZQMQConsumer::TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination,
                             const std::string& MessageSelector)
    : FSession(std::move(Session)), FDestination(std::move(Destination)) {
  FConsumer = CheckedSession(FSession)->CreateConsumer(FDestination, MessageSelector);
}

}  // namespace velmor
