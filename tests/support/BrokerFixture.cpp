#include "BrokerFixture.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "WaitUntil.h"

namespace velmor::testing {

namespace {

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

bool BrokerRequired() {
  for (const char* name : {"VELMOR_REQUIRE_BROKER", "CI"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      const std::string text(value);
      return text != "0" && text != "false";
    }
  }
  return false;
}

}  // namespace

BrokerAddress Broker() {
  BrokerAddress address;
  address.Host = EnvOr("VELMOR_BROKER_HOST", "127.0.0.1");
  address.Port = std::atoi(EnvOr("VELMOR_BROKER_PORT", "61613").c_str());
  address.User = EnvOr("VELMOR_BROKER_USER", "vorda");
  address.Pass = EnvOr("VELMOR_BROKER_PASS", "vorda");
  return address;
}

std::string BrokerUrl(const std::string& Query) {
  const BrokerAddress address = Broker();
  std::string url = "stomp://" + address.Host + ":" + std::to_string(address.Port);
  if (!Query.empty()) url += "?" + Query;
  return url;
}

std::string UniqueName(const std::string& Prefix) {
  static std::atomic<int> counter{0};
  return Prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

std::string RepoRoot() {
  // This file is tests/support/BrokerFixture.cpp below the root.
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().string();
}

std::string BrokerScript() {
  const std::string script = EnvOr("VELMOR_BROKER_SCRIPT", "");
  return script.empty() ? (std::filesystem::path(RepoRoot()) / "scripts" / "broker").string() : script;
}

int RunBrokerScript(const std::string& Args) {
  const std::string line = "'" + BrokerScript() + "' " + Args;
  return std::system(line.c_str());
}

std::string BrokerCtl(const std::string& Args) {
  const std::string line = "'" + BrokerScript() + "' ctl " + Args + " 2>/dev/null";
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr)
    return "<failed>";
  std::string output;
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    output.append(buffer, count);
  }
  return pclose(pipe) == 0 ? output : "<failed>";
}

std::string QueueRow(const std::string& Name, const std::string& Columns, const std::string& Node) {
  std::istringstream rows(BrokerCtl("list_queues --no-table-headers -q name " + Columns + Node));
  std::string row;
  while (std::getline(rows, row)) {
    if (row.rfind(Name + "\t", 0) == 0)
      return row.substr(Name.size() + 1);
  }
  return "<no queue>";
}

std::string AwaitQueueRow(const std::string& Name, const std::string& Columns, const std::string& Expected,
                          const std::string& Node) {
  std::string row;
  WaitUntil(
      [&] {
        row = QueueRow(Name, Columns, Node);
        return row == Expected;
      },
      std::chrono::minutes(2), std::chrono::milliseconds(200));
  return row;
}

bool BrokerReachable() {
  const BrokerAddress address = Broker();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.Host.c_str(), std::to_string(address.Port).c_str(), &hints, &found) != 0) {
    return false;
  }
  bool reachable = false;
  for (addrinfo* entry = found; entry != nullptr && !reachable; entry = entry->ai_next) {
    const int fd = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
    if (fd < 0) continue;
    reachable = connect(fd, entry->ai_addr, entry->ai_addrlen) == 0;
    close(fd);
  }
  freeaddrinfo(found);
  return reachable;
}

void BrokerTest::SetUp() {
  if (BrokerReachable()) return;
  if (BrokerRequired()) {
    FAIL() << "no STOMP broker at " << BrokerUrl() << " (start one with scripts/broker start)";
  }
  GTEST_SKIP() << "no STOMP broker at " << BrokerUrl() << "; set CI=true to make this a failure";
}

}  // namespace velmor::testing
