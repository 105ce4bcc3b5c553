#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "ZQFailoverURLParser.h"
#include "ZQStompClient.h"
#include "ZQURI.h"

namespace velmor {

// What the reconnect loop takes from the outside world; tests replace both.
struct TZQFailoverEnvironment {
  // Blocks the calling thread for the given time.
  std::function<void(std::chrono::milliseconds)> Sleep;
  // A pseudo-random integer in 0 .. Count - 1 (Count >= 1).
  std::function<int32_t(int32_t Count)> RandomIndex;
};

// The operating-system sleep, and a per-thread std::mt19937 seeded once per thread from
// std::random_device mixed with the clock: safe when several threads connect at once, without a lock.
TZQFailoverEnvironment DefaultFailoverEnvironment();

// The reconnect loop behind "failover:(url1,url2,...)?options" URLs. The client owns it and outlives it;
// it keeps nothing between calls except the reference to the client. Not thread-safe (as the client).
class TZQConnectWithFailoverSupport final : public IZQFailoverSupport {
 public:
  explicit TZQConnectWithFailoverSupport(TZQStompClient& Client,
                                         TZQFailoverEnvironment Environment = DefaultFailoverEnvironment());

  // Tries the URL's brokers one after another, sleeping between attempts with a growing delay, until one
  // connects or the attempt limit is reached. Before the first attempt every entry's scheme and option
  // names and port are checked, so an entry that could never connect raises at once and no socket is opened.
  // Each attempt starts from the client's credentials as they were when the loop began, then applies
  // the entry's own. On success the client keeps the entry's URL and gets the original credentials
  // back; on failure the failover URL and the original credentials are restored, so a later Connect
  // runs the whole loop again.
  void ConnectWithFailover(const IURIPtr& URI) override;

  void SetEnvironment(TZQFailoverEnvironment Environment);

 private:
  // Raises for an entry whose scheme the adapter does not serve, whose port lies outside 0..65535 or
  // whose options the client rejects.
  void CheckEntries(const std::vector<IURIPtr>& URIs) const;
  // Progress texts; nothing is written anywhere.
  void Trace(std::string_view /*Text*/) const {}

  TZQStompClient& FStompClient;
  TZQFailoverEnvironment FEnvironment;
};

}  // namespace velmor
