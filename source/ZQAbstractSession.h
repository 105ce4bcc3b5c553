#pragma once

#include <cstdint>
#include <memory>

#include "ZQAbstractTransport.h"
#include "ZQMQInterfaces.h"

namespace velmor {

// What every session has: its acknowledge mode, the transacted flag, the started and closed states and
// the transport of its connection, held weakly (the connection owns it). Used by one thread at a time.
class TZQAbstractSession : public IStoppable, public IStartable {
 public:
  TZQAbstractSession(const TZQAbstractSession&) = delete;
  TZQAbstractSession& operator=(const TZQAbstractSession&) = delete;
  ~TZQAbstractSession() override = default;

  bool GetStarted() const { return FStarted; }
  bool GetClosed() const { return FClosed; }

  // The connection's transport; EIllegalStateException when the connection no longer exists.
  std::shared_ptr<TZQAbstractTransport> GetTransport() const;

 protected:
  TZQAbstractSession(std::weak_ptr<TZQAbstractTransport> Transport, bool Transacted, uint8_t AcknowledgeMode);

  uint8_t FAcknowledgeMode;
  bool FTransacted;
  std::weak_ptr<TZQAbstractTransport> FTransport;
  bool FStarted = false;
  bool FClosed = false;
};

}  // namespace velmor
