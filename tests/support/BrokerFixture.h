#pragma once

#include <gtest/gtest.h>

#include <string>

namespace velmor::testing {

// Where the broker that `scripts/broker start` launched listens, and its credentials. Taken from the
// environment (VELMOR_BROKER_HOST, VELMOR_BROKER_PORT, VELMOR_BROKER_USER, VELMOR_BROKER_PASS),
// defaulting to 127.0.0.1:61613 with user and passcode "vorda".
struct BrokerAddress {
  std::string Host;
  int Port = 61613;
  std::string User;
  std::string Pass;
};

BrokerAddress Broker();

// "stomp://<host>:<port>" followed by "?" and Query when Query is not empty.
std::string BrokerUrl(const std::string& Query = "");

// A name no other test or run uses: Prefix, the process id and a counter.
std::string UniqueName(const std::string& Prefix);

// The root folder of the repository these tests were built from.
std::string RepoRoot();

// The repository's scripts/broker, which starts, stops and administers the broker nodes;
// VELMOR_BROKER_SCRIPT names another one.
std::string BrokerScript();

// Runs BrokerScript() with Args (shell words, redirections allowed) through the shell; its status as
// std::system returns it, 0 on success.
int RunBrokerScript(const std::string& Args);

// Runs rabbitmqctl on the broker node with Args (through BrokerScript's "ctl") and returns its standard
// output; a failing command gives "<failed>".
std::string BrokerCtl(const std::string& Args);

// What list_queues shows for Columns of the queue Name: the row without the name, columns separated by
// tabs; "<no queue>" when the broker lists no queue of that name. Node names another node than the
// broker's, as BrokerScript's options (" --port P --dir D").
std::string QueueRow(const std::string& Name, const std::string& Columns, const std::string& Node = "");

// QueueRow once it shows Expected, or as it is after a generous deadline (two minutes).
std::string AwaitQueueRow(const std::string& Name, const std::string& Columns, const std::string& Expected,
                          const std::string& Node = "");

// True when a TCP connection to the broker's STOMP port can be opened.
bool BrokerReachable();

// Base fixture of every broker test: a missing broker fails the test when CI asked for the broker
// (CI or VELMOR_REQUIRE_BROKER set to a non-empty value other than "0"/"false") and skips it otherwise.
class BrokerTest : public ::testing::Test {
 protected:
  void SetUp() override;
};

}  // namespace velmor::testing
