#pragma once

#include <string>

namespace velmor {

// The subscription id of one consumer: the "id" of its SUBSCRIBE and UNSUBSCRIBE and the "subscription"
// that each MESSAGE for it carries. Owned by the consumer it identifies.
class TZQConsumerID final {
 public:
  // An empty ID is replaced by a fresh GUID text (38 characters, braced, upper-case).
  explicit TZQConsumerID(std::string ID);

  const std::string& GetID() const { return FID; }

 private:
  std::string FID;
};

}  // namespace velmor
