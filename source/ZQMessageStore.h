#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "ZQMQInterfaces.h"

namespace velmor {

// The subscriptions of one connection and the received messages kept for them. Every consumer of a
// connection reads from the one socket, so a receive may read a MESSAGE for another consumer; it keeps
// that message here, under the subscription id, for that consumer's next receive. The broker delivers
// to the connection's temporary queues without a subscription, so a reply may come before the
// consumer of its queue exists: such ids are awaited, and what arrives for them is kept for the
// consumer that opens them later.
//
// Each kept message counts by its size as received (headers and body), so the octet bound holds for
// messages with large properties too.
//
// Subscription ids are unique per connection (the broker closes a connection that repeats one), so the
// duplicate check lives here too. Used by the connection's thread; no lock.
class TZQMessageStore final {
 public:
  // Bounds on the messages kept, as for the MESSAGE frames a receipt wait keeps.
  static constexpr std::size_t DefaultMaxMessages = 10000;
  static constexpr std::size_t DefaultMaxOctets = 64 * 1024 * 1024;

  // Registers an open subscription, taking over what was kept for it while it was awaited;
  // EDuplicateConsumerIDException "Duplicate Consumer ID "%s"" when ID is open already.
  void Open(const std::string& ID);
  // Marks ID as awaited (a temporary queue of the connection that has no consumer yet): messages for
  // it are kept until its consumer opens it. Nothing changes for an id that is open or awaited.
  void Await(const std::string& ID);
  // Ends the subscription (or the wait for) ID and drops what was kept for it. Messages for it that
  // still arrive are dropped (the consumer is gone); the last ClosedIDMemory closed ids are remembered
  // for that.
  void Close(const std::string& ID);
  bool IsOpen(const std::string& ID) const;
  // Drops what was kept for ID; the subscription stays as it is.
  void DropKept(const std::string& ID);

  // The oldest message kept for ID, removed from the store; nullptr when there is none.
  IMessagePtr Take(const std::string& ID);
  // Keeps Message for the open or awaited ID (or drops it for a closed one) and returns true; false
  // for an id the connection never had, and for an awaited one that holds MaxAwaitedMessages already
  // (a temporary queue whose consumer never comes must not fill the store). Does not check the
  // bounds: call CheckRoom before reading.
  bool Keep(const std::string& ID, const IMessagePtr& Message);
  // Raises EIllegalStateException when the store is full, before a read that might have to keep a
  // message: nothing is read, so nothing is lost.
  void CheckRoom() const;
  // Forgets every subscription and message (the connection is gone).
  void Clear();

  void SetLimits(std::size_t MaxMessages, std::size_t MaxOctets);
  std::size_t GetCount() const { return FCount; }
  std::size_t GetOctets() const { return FOctets; }

  static constexpr std::size_t ClosedIDMemory = 4096;
  static constexpr std::size_t MaxAwaitedMessages = 1000;

 private:
  struct TKept {
    IMessagePtr Message;
    std::size_t Octets = 0;
  };
  // An open or awaited id and the messages kept for it.
  struct TSubscription {
    std::deque<TKept> Kept;
    bool Open = false;
  };

  void DropKept(TSubscription& Subscription);

  std::unordered_map<std::string, TSubscription> FSubscriptions;
  std::unordered_set<std::string> FClosed;
  std::deque<std::string> FClosedOrder;
  std::size_t FCount = 0;
  std::size_t FOctets = 0;
  std::size_t FMaxMessages = DefaultMaxMessages;
  std::size_t FMaxOctets = DefaultMaxOctets;
};

}  // namespace velmor
