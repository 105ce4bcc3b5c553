#include "ZQConnectionFactory.h"

#include "ZQMQTransportRabbitMQ.h"

namespace velmor {

std::shared_ptr<TZQAbstractTransport> TZQConnectionFactory::CreateTransport() const {
  return TZQMQTransportRabbitMQ::Create();
}

}  // namespace velmor
