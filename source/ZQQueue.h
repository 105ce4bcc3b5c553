#pragma once

#include <memory>
#include <string>
#include <utility>

#include "ZQDestination.h"
#include "ZQMQInterfaces.h"

namespace velmor {

// A queue (kind 0). The name is the application's own, set once; any text is accepted.
class TZQQueue : public TZQDestination, public virtual IQueue {
 public:
  explicit TZQQueue(std::string Name);

  static IQueuePtr Create(std::string Name) { return std::make_shared<TZQQueue>(std::move(Name)); }

  std::string GetQueueName() const override { return FQueueName; }

 private:
  std::string FQueueName;
};

// A temporary queue (kind 2): a queue that also answers ITemporaryQueue.
class TZQTemporaryQueue : public TZQQueue, public virtual ITemporaryQueue {
 public:
  explicit TZQTemporaryQueue(std::string Name);

  static ITemporaryQueuePtr Create(const std::string& Name) {
    return std::make_shared<TZQTemporaryQueue>(Name);
  }

  // Always raises EMQException "Feature not implemented"; the queue stays usable.
  void Delete() override;
};

}  // namespace velmor
