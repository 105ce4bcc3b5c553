#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQMQInterfaces.h"

namespace velmor {

// The consumer of a context: a session consumer, created (and so subscribed) by the constructor. Every
// operation forwards to it. Releasing the wrapper closes the session consumer (UNSUBSCRIBE), so that a
// consumer the application dropped neither takes messages from the broker nor has them kept for it.
// Used by one thread at a time.
class TZQMQConsumer final : public IMQConsumer {
 public:
  // ContextConnection is the connection of the context the consumer is made for, when there is one:
  // the context owns it, so once it is gone the receives raise EIllegalStateException saying that the
  // context no longer exists.
  TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination,
                const IConnectionPtr& ContextConnection = nullptr);
  // The session refuses a non-empty selector; the wrapper keeps none of its own.
  TZQMQConsumer(ISessionPtr Session, IDestinationPtr Destination, const std::string& MessageSelector,
                const IConnectionPtr& ContextConnection = nullptr);
  // Closes the session consumer; errors are swallowed.
  ~TZQMQConsumer() override;

  void Close() override { FConsumer->Close(); }
  std::string GetMessageSelector() const override { return FConsumer->GetMessageSelector(); }
  IMessagePtr Receive() override;
  IMessagePtr Receive(int32_t Timeout) override;
  IMessagePtr ReceiveNoWait() override;

 private:
  // EIllegalStateException when the context this consumer came from is gone.
  void CheckContext() const;

  ISessionPtr FSession;
  IDestinationPtr FDestination;
  IMessageConsumerPtr FConsumer;
  std::weak_ptr<IConnection> FContextConnection;
  bool FFromContext;
};

}  // namespace velmor
