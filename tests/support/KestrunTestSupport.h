#pragma once

// For the Kestrun tests: a connection factory made of the messaging mocks, and a sink that records what a
// run reports. Each receiver's consumer answers from a script of outcomes for its queue (a time-out once
// the script is used up); senders go through the library's own context and producer, and what they send
// goes nowhere. Connections can be made to fail, and senders (in their start) or receivers (in every
// receive) held until released. Thread-safe: a run's threads use it at the same time.

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MessagingMocks.h"
#include "VelmorThread.h"
#include "ZQConnectionFactory.h"
#include "ZQExceptions.h"
#include "ZQMQContext.h"
#include "ZQQueue.h"
#include "ZQTextMessage.h"

namespace kestrun::testing {

// One outcome of a receive: a message, nullptr for a time-out, or an exception.
using TReceiveStep = std::function<velmor::IMessagePtr()>;

inline velmor::ITextMessagePtr NewText(const std::string& Text) {
  auto Message = std::make_shared<velmor::TZQTextMessage>(std::weak_ptr<velmor::TZQStompClient>());
  Message->SetText(Text);
  return Message;
}

inline TReceiveStep TextOf(int32_t Length) {
  return [Length] { return NewText(std::string(static_cast<size_t>(Length), 'A')); };
}

class MockInfoConnection : public velmor::testing::MockConnection, public velmor::IConnectionInfo {
 public:
  MOCK_METHOD(bool, IsConnected, (), (const, override));
  MOCK_METHOD(std::string, GetSessionID, (), (const, override));
  MOCK_METHOD(std::string, GetServer, (), (const, override));
  MOCK_METHOD(uint8_t, GetProtocolVersion, (), (const, override));
};

class TScriptedFactory final : public velmor::IConnectionFactory, public velmor::ILibraryInfoProvider {
 public:
  // Set before a run starts.
  int FailConnections = 0;  // the next N CreateConnection calls raise "Connection refused"
  bool FailSends = false;   // every send raises "Broken pipe"
  std::map<std::string, std::deque<TReceiveStep>> Scripts;

  void HoldSenders(bool Hold) { SetGate(FSendersHeld, Hold); }
  void HoldReceivers(bool Hold) { SetGate(FReceiversHeld, Hold); }
  int Sent() { return Read(FSent); }
  int Closed() { return Read(FClosed); }  // connections closed, the senders' contexts' ones included

  velmor::IConnectionPtr CreateConnection() override {
    {
      const std::lock_guard Lock(FMutex);
      if (FailConnections > 0) {
        --FailConnections;
        throw velmor::EMQException("Connection refused");
      }
    }
    return NewConnection(false);
  }
  velmor::IMQContextPtr CreateContext() override { return velmor::TZQMQContext::Create(NewConnection(true)); }
  velmor::IConnectionPtr CreateConnection(const std::string&, const std::string&) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(uint8_t) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(const std::string&, const std::string&) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(const std::string&, const std::string&, uint8_t) override { NotUsed(); }
  velmor::IClientLibraryInfoPtr GetClientLibraryInfo() const override {
    return velmor::TZQConnectionFactory().GetClientLibraryInfo();
  }

 private:
  [[noreturn]] static void NotUsed() { throw velmor::EUnsupportedOperationException("not used by Kestrun"); }

  // A connection whose session makes real queues and text messages and mocked producers and consumers.
  // A sender's Start waits while senders are held; every receive waits while receivers are held.
  velmor::IConnectionPtr NewConnection(bool Sender) {
    using ::testing::_;
    auto Producer = std::make_shared<::testing::NiceMock<velmor::testing::MockMessageProducer>>();
    ON_CALL(*Producer, Send(_, _)).WillByDefault([this] {
      if (FailSends) {
        throw velmor::EMQException("Broken pipe");
      }
      Change([this] { ++FSent; });
    });
    auto Session = std::make_shared<::testing::NiceMock<velmor::testing::MockSession>>();
    ON_CALL(*Session, CreateQueue(_)).WillByDefault([](const std::string& Name) {
      return velmor::TZQQueue::Create(Name);
    });
    ON_CALL(*Session, CreateProducer(_)).WillByDefault(::testing::Return(Producer));
    ON_CALL(*Session, CreateTextMessage(_)).WillByDefault(NewText);
    ON_CALL(*Session, CreateConsumer(_)).WillByDefault([this](const velmor::IDestinationPtr& Queue) {
      auto Consumer = std::make_shared<::testing::NiceMock<velmor::testing::MockMessageConsumer>>();
      const std::string Name = std::dynamic_pointer_cast<velmor::IQueue>(Queue)->GetQueueName();
      ON_CALL(*Consumer, Receive(::testing::A<int32_t>())).WillByDefault([this, Name](int32_t) {
        std::unique_lock Lock(FMutex);
        FChanged.wait(Lock, [this] { return !FReceiversHeld; });
        auto& Script = Scripts[Name];
        if (Script.empty()) {
          return velmor::IMessagePtr();
        }
        const TReceiveStep Step = std::move(Script.front());
        Script.pop_front();
        return Step();
      });
      return Consumer;
    });
    auto Connection = std::make_shared<::testing::NiceMock<MockInfoConnection>>();
    ON_CALL(*Connection, CreateSession(_)).WillByDefault(::testing::Return(Session));
    ON_CALL(*Connection, CreateSession(_, _)).WillByDefault(::testing::Return(Session));
    ON_CALL(*Connection, GetServer()).WillByDefault(::testing::Return("RabbitMQ/3.10.8"));
    ON_CALL(*Connection, Close()).WillByDefault([this] { Change([this] { ++FClosed; }); });
    ON_CALL(*Connection, Start()).WillByDefault([this, Sender] {
      std::unique_lock Lock(FMutex);
      FChanged.wait(Lock, [this, Sender] { return !(Sender && FSendersHeld); });
    });
    return Connection;
  }

  template <class TBody>
  void Change(TBody&& Body) {
    {
      const std::lock_guard Lock(FMutex);
      Body();
    }
    FChanged.notify_all();
  }
  void SetGate(bool& Gate, bool Hold) {
    Change([&] { Gate = Hold; });
  }
  int Read(const int& Value) {
    const std::lock_guard Lock(FMutex);
    return Value;
  }

  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FSendersHeld = false;
  bool FReceiversHeld = false;
  int FSent = 0;
  int FClosed = 0;
};

// Records a run's log lines (the error lines also apart) and results, and the lines that came before the
// first result. Read the fields once the run has ended.
class TRecordingSink final : public ITestSink {
 public:
  void AddLog(const std::string& Text, bool IsError) override {
    {
      const std::lock_guard Lock(FMutex);
      Logs.push_back(Text);
      if (IsError) {
        Errors.push_back(Text);
      }
    }
    FChanged.notify_all();
  }
  void ShowResult(uint32_t Rate, bool IsFailed) override {
    {
      const std::lock_guard Lock(FMutex);
      if (Results.empty()) {
        BeforeResult = Logs;
        Failed = IsFailed;
      }
      Results.push_back(Rate);
    }
    FChanged.notify_all();
  }
  bool WaitForResult(std::chrono::seconds Limit = std::chrono::seconds(10)) {
    std::unique_lock Lock(FMutex);
    return FChanged.wait_for(Lock, Limit, [this] { return !Results.empty(); });
  }

  bool WaitForLog(const std::string& Line, std::chrono::seconds Limit = std::chrono::seconds(10)) {
    std::unique_lock Lock(FMutex);
    return FChanged.wait_for(Lock, Limit,
                             [&] { return std::find(Logs.begin(), Logs.end(), Line) != Logs.end(); });
  }

  // Waits until Line was logged or an error line came; false when neither happened within Limit.
  bool WaitForLogOrError(const std::string& Line, std::chrono::seconds Limit) {
    std::unique_lock Lock(FMutex);
    return FChanged.wait_for(Lock, Limit, [&] {
      return !Errors.empty() || std::find(Logs.begin(), Logs.end(), Line) != Logs.end();
    });
  }

  std::vector<std::string> Logs, Errors, BeforeResult;
  std::vector<uint32_t> Results;
  bool Failed = false;  // as the first result tells it

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
};

}  // namespace kestrun::testing
