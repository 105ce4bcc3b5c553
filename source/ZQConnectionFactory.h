#pragma once

#include <memory>

#include "ZQAbstractConnectionFactory.h"

namespace velmor {

// The connection factory for RabbitMQ: every connection gets a new RabbitMQ
// broker transport.
class TZQConnectionFactory final : public TZQAbstractConnectionFactory {
 public:
  using TZQAbstractConnectionFactory::TZQAbstractConnectionFactory;

 protected:
  std::shared_ptr<TZQAbstractTransport> CreateTransport() const override;
};

}  // namespace velmor
