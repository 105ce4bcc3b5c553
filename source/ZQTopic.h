#pragma once

#include <memory>
#include <string>
#include <utility>

#include "ZQDestination.h"
#include "ZQMQInterfaces.h"

namespace velmor {

// A topic (kind 1). The name is the application's own, set once; any text is accepted.
class TZQTopic : public TZQDestination, public virtual ITopic {
 public:
  explicit TZQTopic(std::string Name);

  static ITopicPtr Create(std::string Name) { return std::make_shared<TZQTopic>(std::move(Name)); }

  std::string GetTopicName() const override { return FTopicName; }

 private:
  std::string FTopicName;
};

// A temporary topic (kind 3): a topic that also answers ITemporaryTopic.
class TZQTemporaryTopic final : public TZQTopic, public virtual ITemporaryTopic {
 public:
  explicit TZQTemporaryTopic(std::string Name);

  static ITemporaryTopicPtr Create(const std::string& Name) {
    return std::make_shared<TZQTemporaryTopic>(Name);
  }

  // Always raises EMQException "Feature not implemented"; the topic stays usable.
  void Delete() override;
};

}  // namespace velmor
