#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ZQMQInterfaces.h"

namespace velmor {

// The consumers of one session, oldest first.
class IConsumerList {
 public:
  virtual ~IConsumerList() = default;

  // Appends Consumer; returns its index.
  virtual int32_t Add(const IMessageConsumerPtr& Consumer) = 0;
  // Removes Consumer; returns the index it had, -1 when it was not in the list (nothing changes then).
  virtual int32_t Remove(const IMessageConsumerPtr& Consumer) = 0;
  virtual bool Contains(const IMessageConsumerPtr& Consumer) const = 0;
  virtual int32_t GetCount() const = 0;
  virtual void Clear() = 0;
  // The entry at Index (0 = oldest); EIllegalArgumentException outside the list.
  virtual IMessageConsumerPtr GetItem(int32_t Index) const = 0;
};

using IConsumerListPtr = std::shared_ptr<IConsumerList>;

// The list a session keeps its consumers in; it holds them strongly. Used by the session's thread.
class TZQMessageConsumerList final : public IConsumerList {
 public:
  int32_t Add(const IMessageConsumerPtr& Consumer) override;
  int32_t Remove(const IMessageConsumerPtr& Consumer) override;
  bool Contains(const IMessageConsumerPtr& Consumer) const override;
  int32_t GetCount() const override { return static_cast<int32_t>(FList.size()); }
  void Clear() override { FList.clear(); }
  IMessageConsumerPtr GetItem(int32_t Index) const override;

  // A copy of the entries, oldest first: what closing and starting walk over, since closing a consumer
  // removes it from this list.
  std::vector<IMessageConsumerPtr> Snapshot() const { return FList; }

 private:
  std::vector<IMessageConsumerPtr> FList;
};

}  // namespace velmor
