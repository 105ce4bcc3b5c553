#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQMQInterfaces.h"

namespace velmor {

// The consumer of a context: a session consumer, created (and so subscribed) by the constructor. Every
// operation forwards to it. Releasing the wrapper without Close leaves the subscription active until
// the session closes. Used by one thread at a time.
class TZQMQConsumer final : public IMQConsumer {
 public:
  TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination);
  // The session refuses a non-empty selector; the wrapper keeps none of its own.
  TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination, const std::string& MessageSelector);

  void Close() override { FConsumer->Close(); }
  std::string GetMessageSelector() const override { return FConsumer->GetMessageSelector(); }
  IMessagePtr Receive() override { return FConsumer->Receive(); }
  IMessagePtr Receive(int32_t Timeout) override { return FConsumer->Receive(Timeout); }
  IMessagePtr ReceiveNoWait() override { return FConsumer->ReceiveNoWait(); }

 private:
  ISessionPtr FSession;
  IDestinationPtr FDestination;
  IMessageConsumerPtr FConsumer;
};

}  // namespace velmor
