#include "ZQAbstractSession.h"

#include <utility>

#include "ZQExceptions.h"

namespace velmor {

TZQAbstractSession::TZQAbstractSession(std::weak_ptr<TZQAbstractTransport> Transport, bool Transacted,
                                       uint8_t AcknowledgeMode)
    : FAcknowledgeMode(AcknowledgeMode), FTransacted(Transacted), FTransport(std::move(Transport)) {}

std::shared_ptr<TZQAbstractTransport> TZQAbstractSession::GetTransport() const {
  std::shared_ptr<TZQAbstractTransport> transport = FTransport.lock();
  if (!transport) {
    throw EIllegalStateException("The session's connection no longer exists");
  }
  return transport;
}

}  // namespace velmor
