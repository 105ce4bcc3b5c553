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

TZQMQConsumer::TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination,
                             const IConnectionPtr& ContextConnection)
    : FSession(std::move(Session)),
      FDestination(std::move(Destination)),
      FContextConnection(ContextConnection),
      FFromContext(ContextConnection != nullptr) {
  FConsumer = CheckedSession(FSession)->CreateConsumer(FDestination);
}

TZQMQConsumer::TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination,
                             const std::string& MessageSelector, const IConnectionPtr& ContextConnection)
    : FSession(std::move(Session)),
      FDestination(std::move(Destination)),
      FContextConnection(ContextConnection),
      FFromContext(ContextConnection != nullptr) {
  FConsumer = CheckedSession(FSession)->CreateConsumer(FDestination, MessageSelector);
}

TZQMQConsumer::~TZQMQConsumer() {
  try {
    FConsumer->Close();
  } catch (...) {
  }
}

void TZQMQConsumer::CheckContext() const {
  if (FFromContext && FContextConnection.expired()) {
    throw EIllegalStateException(
        "The context this consumer came from no longer exists: releasing a context closes its connection");
  }
}

IMessagePtr TZQMQConsumer::Receive() {
  CheckContext();
  return FConsumer->Receive();
}

IMessagePtr TZQMQConsumer::Receive(int32_t Timeout) {
  CheckContext();
  return FConsumer->Receive(Timeout);
}

IMessagePtr TZQMQConsumer::ReceiveNoWait() {
  CheckContext();
  return FConsumer->ReceiveNoWait();
}

}  // namespace velmor
