// What a call confirmed survives the broker: a private RabbitMQ node whose process is killed (SIGKILL)
// the moment the call returns still holds, once started again, every persistent message the call
// confirmed. Persistent sends, each confirmed by its receipt, are the control; a transaction's Commit
// must confirm its persistent messages the same way. The node runs on VELMOR_BROKER3_PORT (default
// 61615) with its data in the test's working folder, and is stopped at the end.
#include <signal.h>
#include <sys/types.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BrokerFixture.h"
#include "MessagingFixture.h"
#include "WaitUntil.h"

namespace velmor {
namespace {

using namespace std::chrono_literals;

int NodePort() {
  const char* value = std::getenv("VELMOR_BROKER3_PORT");
  return value != nullptr && *value != '\0' ? std::atoi(value) : 61615;
}

class KilledNodeBrokerTest : public ::testing::Test {
 protected:
  // The node starts from nothing, and its data goes at the end; what the broker script said stays in
  // the folder's log beside it.
  void SetUp() override {
    FDir = (std::filesystem::current_path() / ("killed-node-" + std::to_string(NodePort()))).string();
    Node("stop");
    std::filesystem::remove_all(FDir);
    ASSERT_EQ(Node("start"), 0) << "scripts/broker start" << NodeArgs();
  }
  void TearDown() override {
    if (Node("stop") == 0)
      std::filesystem::remove_all(FDir);
  }

  std::string NodeArgs() const { return " --port " + std::to_string(NodePort()) + " --dir '" + FDir + "'"; }

  // Runs scripts/broker Command for the node; its status.
  int Node(const std::string& Command) const {
    return testing::RunBrokerScript(Command + NodeArgs() + " >>'" + FDir + ".log' 2>&1");
  }

  // The node's operating-system process, as its pid file names it.
  pid_t NodeProcess() const {
    std::ifstream file(FDir + "/rabbitmq.pid");
    pid_t pid = 0;
    file >> pid;
    return pid;
  }

  // True while Process exists and is not a zombie waiting for its parent.
  static bool Alive(pid_t Process) {
    if (::kill(Process, 0) != 0 && errno == ESRCH)
      return false;
    std::ifstream stat("/proc/" + std::to_string(Process) + "/stat");
    std::string pid;
    std::string name;
    char state = 'Z';
    stat >> pid >> name >> state;
    return state != 'Z';
  }

  // Kills Process at once, waits until it is gone and starts the node again.
  void KillAndRestart(pid_t Process) const {
    ASSERT_GT(Process, 0);
    ASSERT_EQ(::kill(Process, SIGKILL), 0);
    ASSERT_TRUE(testing::WaitUntil([&] { return !Alive(Process); }, 60s, 50ms))
        << "the killed node did not end";
    ASSERT_EQ(Node("start"), 0) << "scripts/broker start" << NodeArgs();
  }

  // The number of messages in Queue once the node lists it with Expected of them, or else what the node
  // lists after a generous wait.
  std::string AwaitMessages(const std::string& Queue, const std::string& Expected) const {
    return testing::AwaitQueueRow(Queue, "messages", Expected, NodeArgs());
  }

  // A durable queue named Queue, declared on the node, without messages. The node writes its record of
  // the queue to disk in its own time, and a node killed before that forgets the queue with its
  // messages: the test has it written at once.
  void Declare(const std::shared_ptr<TZQConnection>& Connection, const std::string& Queue) const {
    const ISessionPtr session = Connection->CreateSession(false, AcknowledgeModeAuto);
    session->CreateConsumer(session->CreateQueue(Queue))->Close();
    ASSERT_EQ(AwaitMessages(Queue, "0"), "0");
    ASSERT_EQ(testing::BrokerCtl("eval 'mnesia:sync_log().'" + NodeArgs()), "ok\n");
  }

  std::string Url() const { return "stomp://127.0.0.1:" + std::to_string(NodePort()); }

  // Ten persistent messages of 8 KiB to the durable queue Queue through Session.
  static void SendTen(const ISessionPtr& Session, const std::string& Queue) {
    const auto producer = Session->CreateProducer(Session->CreateQueue(Queue));
    producer->SetDeliveryMode(1);
    for (int i = 0; i < 10; ++i)
      producer->Send(Session->CreateTextMessage(std::string(8192, static_cast<char>('a' + i))));
  }

  std::string FDir;
};

TEST_F(KilledNodeBrokerTest, WhatCommitConfirmedIsInTheQueueAfterTheNodeIsKilledTheMomentItReturns) {
  const std::string sent = testing::UniqueName("killed-sends");
  {
    const auto connection = testing::NewConnection(Url());
    connection->Start();
    ASSERT_NO_FATAL_FAILURE(Declare(connection, sent));
    const pid_t process = NodeProcess();
    SendTen(connection->CreateSession(false, AcknowledgeModeAuto), sent);
    ASSERT_NO_FATAL_FAILURE(KillAndRestart(process));
  }
  EXPECT_EQ(AwaitMessages(sent, "10"), "10") << "the control: persistent sends, each confirmed";

  const std::string committed = testing::UniqueName("killed-commit");
  {
    const auto connection = testing::NewConnection(Url());
    connection->Start();
    ASSERT_NO_FATAL_FAILURE(Declare(connection, committed));
    const ISessionPtr session = connection->CreateSession(true, AcknowledgeModeTransacted);
    SendTen(session, committed);
    const pid_t process = NodeProcess();
    session->Commit();
    ASSERT_NO_FATAL_FAILURE(KillAndRestart(process));
  }
  EXPECT_EQ(AwaitMessages(committed, "10"), "10");
}

}  // namespace
}  // namespace velmor
