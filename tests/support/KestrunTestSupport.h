#pragma once

// A recording sink for test runs, and a scripted stand-in for the broker behind a connection factory, for the
// Kestrun tests. Receivers read either a script of outcomes per queue or, for a queue without a script, what
// the senders sent to it. Connections and contexts can be made to fail, and senders or receivers held until
// released. Thread-safe: every sender and receiver thread uses it at the same time.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "VelmorThread.h"
#include "ZQBytesMessage.h"
#include "ZQExceptions.h"
#include "ZQMQInterfaces.h"
#include "ZQQueue.h"
#include "ZQTextMessage.h"

namespace kestrun::testing {

// One outcome of a receive.
struct TReceiveStep {
  enum class TKind { Text, Timeout, Bytes, Fail };
  TKind Kind = TKind::Timeout;
  int32_t Length = 0;
};

inline TReceiveStep TextOf(int32_t Length) {
  return {TReceiveStep::TKind::Text, Length};
}
inline TReceiveStep TimedOut() {
  return {TReceiveStep::TKind::Timeout, 0};
}
inline TReceiveStep NotText() {
  return {TReceiveStep::TKind::Bytes, 0};
}
inline TReceiveStep ReceiveFails() {
  return {TReceiveStep::TKind::Fail, 0};
}

class TScriptedBroker final {
 public:
  // Settings: set before a run starts.
  int FailConnections = 0;  // the next N CreateConnection calls raise "Connection refused"
  bool FailSends = false;   // every send raises "Send refused"
  std::string Server = "RabbitMQ/3.10.8";
  std::map<std::string, std::deque<TReceiveStep>> Scripts;

  // While held, senders wait in CreateProducer and receivers in their first receive.
  void HoldSenders(bool Hold) { SetGate(FSendersHeld, Hold); }
  void HoldReceivers(bool Hold) { SetGate(FReceiversHeld, Hold); }

  bool ConnectionFails() {
    const std::lock_guard Lock(FMutex);
    return FailConnections > 0 && FailConnections-- > 0;
  }

  void WaitForSenders() { WaitGate(FSendersHeld); }
  void WaitForReceivers() { WaitGate(FReceiversHeld); }

  void Send(const std::string& Queue, const std::string& Text) {
    {
      const std::lock_guard Lock(FMutex);
      if (FailSends) {
        throw velmor::EMQException("Send refused");
      }
      FQueues[Queue].push_back(Text);
      ++FSent;
    }
    FChanged.notify_all();
  }

  velmor::IMessagePtr Receive(const std::string& Queue, int32_t Timeout) {
    std::unique_lock Lock(FMutex);
    if (const auto Script = Scripts.find(Queue); Script != Scripts.end()) {
      if (Script->second.empty()) {
        return nullptr;
      }
      const TReceiveStep Step = Script->second.front();
      Script->second.pop_front();
      switch (Step.Kind) {
        case TReceiveStep::TKind::Text:
          return TextMessage(std::string(static_cast<size_t>(Step.Length), 'A'));
        case TReceiveStep::TKind::Bytes:
          return std::make_shared<velmor::TZQBytesMessage>(std::weak_ptr<velmor::TZQStompClient>());
        case TReceiveStep::TKind::Fail:
          throw velmor::EMQException("Connection reset by peer");
        case TReceiveStep::TKind::Timeout:
          return nullptr;
      }
    }
    auto& Messages = FQueues[Queue];
    if (!FChanged.wait_for(Lock, std::chrono::milliseconds(Timeout), [&] { return !Messages.empty(); })) {
      return nullptr;
    }
    const std::string Text = std::move(Messages.front());
    Messages.pop_front();
    return TextMessage(Text);
  }

  void Closed() {
    const std::lock_guard Lock(FMutex);
    ++FClosed;
  }

  int Sent() {
    const std::lock_guard Lock(FMutex);
    return FSent;
  }
  // Connections and contexts closed so far.
  int ClosedCount() {
    const std::lock_guard Lock(FMutex);
    return FClosed;
  }

 private:
  static velmor::IMessagePtr TextMessage(const std::string& Text) {
    auto Message = std::make_shared<velmor::TZQTextMessage>(std::weak_ptr<velmor::TZQStompClient>());
    Message->SetText(Text);
    return Message;
  }

  void SetGate(bool& Gate, bool Hold) {
    {
      const std::lock_guard Lock(FMutex);
      Gate = Hold;
    }
    FChanged.notify_all();
  }
  void WaitGate(const bool& Gate) {
    std::unique_lock Lock(FMutex);
    FChanged.wait(Lock, [&] { return !Gate; });
  }

  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FSendersHeld = false;
  bool FReceiversHeld = false;
  std::map<std::string, std::deque<std::string>> FQueues;
  int FSent = 0;
  int FClosed = 0;
};

// Operations the engine and the windows never call.
[[noreturn]] inline void NotUsed() {
  throw velmor::EUnsupportedOperationException("not used by Kestrun");
}

class TScriptedConsumer final : public velmor::IMessageConsumer {
 public:
  TScriptedConsumer(std::shared_ptr<TScriptedBroker> Broker, std::string Queue)
      : FBroker(std::move(Broker)), FQueue(std::move(Queue)) {}

  std::string GetMessageSelector() const override { return ""; }
  velmor::IMessagePtr Receive() override { NotUsed(); }
  velmor::IMessagePtr Receive(int32_t Timeout) override {
    if (FFirst) {
      FFirst = false;
      FBroker->WaitForReceivers();
    }
    return FBroker->Receive(FQueue, Timeout);
  }
  velmor::IMessagePtr ReceiveNoWait() override { NotUsed(); }
  void Close() override {}

 private:
  const std::shared_ptr<TScriptedBroker> FBroker;
  const std::string FQueue;
  bool FFirst = true;
};

class TScriptedSession final : public velmor::ISession {
 public:
  explicit TScriptedSession(std::shared_ptr<TScriptedBroker> Broker) : FBroker(std::move(Broker)) {}

  uint8_t GetAcknowledgeMode() const override { return velmor::AcknowledgeModeAuto; }
  bool GetTransacted() const override { return false; }
  void Close() override {}
  void Commit() override { NotUsed(); }
  velmor::IBytesMessagePtr CreateBytesMessage() override { NotUsed(); }
  velmor::IMessageConsumerPtr CreateConsumer(const velmor::IDestinationPtr& Destination) override {
    const auto Queue = std::dynamic_pointer_cast<velmor::IQueue>(Destination);
    return std::make_shared<TScriptedConsumer>(FBroker, Queue->GetQueueName());
  }
  velmor::IMessageConsumerPtr CreateConsumer(const velmor::IDestinationPtr&, const std::string&) override {
    NotUsed();
  }
  velmor::IMessageConsumerPtr CreateConsumer(const velmor::IDestinationPtr&, const std::string&,
                                             bool) override {
    NotUsed();
  }
  velmor::ITopicSubscriberPtr CreateDurableSubscriber(const velmor::ITopicPtr&, const std::string&) override {
    NotUsed();
  }
  velmor::ITopicSubscriberPtr CreateDurableSubscriber(const velmor::ITopicPtr&, const std::string&,
                                                      const std::string&, bool) override {
    NotUsed();
  }
  velmor::IMessagePtr CreateMessage() override { NotUsed(); }
  velmor::IMessageProducerPtr CreateProducer(const velmor::IDestinationPtr&) override { NotUsed(); }
  velmor::IQueuePtr CreateQueue(const std::string& QueueName) override {
    return velmor::TZQQueue::Create(QueueName);
  }
  velmor::ITemporaryQueuePtr CreateTemporaryQueue() override { NotUsed(); }
  velmor::ITemporaryTopicPtr CreateTemporaryTopic() override { NotUsed(); }
  velmor::IQueueBrowserPtr CreateBrowser(const velmor::IQueuePtr&) override { NotUsed(); }
  velmor::IObjectMessagePtr CreateObjectMessage() override { NotUsed(); }
  velmor::IObjectMessagePtr CreateObjectMessage(const velmor::IObjectPtr&) override { NotUsed(); }
  velmor::ITextMessagePtr CreateTextMessage() override { NotUsed(); }
  velmor::IMapMessagePtr CreateMapMessage() override { NotUsed(); }
  velmor::ITextMessagePtr CreateTextMessage(const std::string&) override { NotUsed(); }
  velmor::ITopicPtr CreateTopic(const std::string&) override { NotUsed(); }
  void Rollback() override { NotUsed(); }
  void Unsubscribe(const std::string&, const std::string&) override { NotUsed(); }

 private:
  const std::shared_ptr<TScriptedBroker> FBroker;
};

class TScriptedConnection final : public velmor::IConnection, public velmor::IConnectionInfo {
 public:
  explicit TScriptedConnection(std::shared_ptr<TScriptedBroker> Broker) : FBroker(std::move(Broker)) {}

  std::string GetClientID() const override { return ""; }
  void SetClientID(const std::string&) override { NotUsed(); }
  void Start() override { FStarted = true; }
  void Stop() override { NotUsed(); }
  void Close() override { FBroker->Closed(); }
  velmor::ISessionPtr CreateSession(bool, uint8_t) override { NotUsed(); }
  velmor::ISessionPtr CreateSession(uint8_t) override { return std::make_shared<TScriptedSession>(FBroker); }

  bool IsConnected() const override { return FStarted; }
  std::string GetSessionID() const override { return "session-1"; }
  std::string GetServer() const override { return FBroker->Server; }
  uint8_t GetProtocolVersion() const override { return 3; }

 private:
  const std::shared_ptr<TScriptedBroker> FBroker;
  bool FStarted = false;
};

class TScriptedProducer final : public velmor::IMQProducer,
                                public std::enable_shared_from_this<TScriptedProducer> {
 public:
  explicit TScriptedProducer(std::shared_ptr<TScriptedBroker> Broker) : FBroker(std::move(Broker)) {}

  velmor::IMQProducerPtr SetDeliveryMode(uint8_t) override { NotUsed(); }
  velmor::IMQProducerPtr SetPriority(int32_t) override { NotUsed(); }
  velmor::IMQProducerPtr SetTimeToLive(int32_t) override { NotUsed(); }
  uint8_t GetDeliveryMode() const override { return 2; }
  int32_t GetPriority() const override { return 4; }
  int32_t GetTimeToLive() const override { return 0; }
  void SetCorrelationID(const std::string&) override { NotUsed(); }
  std::string GetCorrelationID() const override { return ""; }
  std::string GetType() const override { return ""; }
  void SetType(const std::string&) override { NotUsed(); }
  void SetReplyTo(const velmor::IDestinationPtr&) override { NotUsed(); }
  velmor::IDestinationPtr GetReplyTo() const override { return nullptr; }
  void ClearProperties() override { NotUsed(); }
  velmor::PMStrings GetPropertyNames() const override { NotUsed(); }
  bool PropertyExists(const std::string&) const override { return false; }
  bool GetBooleanProperty(const std::string&) const override { return false; }
  void SetBooleanProperty(const std::string&, bool) override { NotUsed(); }
  int32_t GetIntProperty(const std::string&) const override { return 0; }
  void SetIntProperty(const std::string&, int32_t) override { NotUsed(); }
  std::string GetStringProperty(const std::string&) const override { return ""; }
  void SetStringProperty(const std::string&, const std::string&) override { NotUsed(); }
  velmor::IMQProducerPtr Send(const velmor::IDestinationPtr& Destination, const std::string& Text) override {
    FBroker->Send(std::dynamic_pointer_cast<velmor::IQueue>(Destination)->GetQueueName(), Text);
    return shared_from_this();
  }
  velmor::IMQProducerPtr Send(const velmor::IDestinationPtr&, const std::string&,
                              const velmor::ICompletionListenerPtr&) override {
    NotUsed();
  }
  velmor::IMQProducerPtr Send(const velmor::IDestinationPtr&, const velmor::IMessagePtr&) override {
    NotUsed();
  }
  velmor::IMQProducerPtr Send(const velmor::IDestinationPtr&, const velmor::IMessagePtr&,
                              const velmor::ICompletionListenerPtr&) override {
    NotUsed();
  }

 private:
  const std::shared_ptr<TScriptedBroker> FBroker;
};

class TScriptedContext final : public velmor::IMQContext {
 public:
  explicit TScriptedContext(std::shared_ptr<TScriptedBroker> Broker) : FBroker(std::move(Broker)) {}

  void Close() override { FBroker->Closed(); }
  void Commit() override { NotUsed(); }
  velmor::IQueueBrowserPtr CreateBrowser(const velmor::IQueuePtr&) override { NotUsed(); }
  velmor::IBytesMessagePtr CreateBytesMessage() override { NotUsed(); }
  velmor::IMQConsumerPtr CreateConsumer(const velmor::IDestinationPtr&) override { NotUsed(); }
  velmor::IMQConsumerPtr CreateConsumer(const velmor::IDestinationPtr&, const std::string&) override {
    NotUsed();
  }
  velmor::ITopicSubscriberPtr CreateDurableConsumer(const velmor::ITopicPtr&, const std::string&) override {
    NotUsed();
  }
  velmor::ITopicSubscriberPtr CreateDurableConsumer(const velmor::ITopicPtr&, const std::string&,
                                                    const std::string&) override {
    NotUsed();
  }
  velmor::IMapMessagePtr CreateMapMessage() override { NotUsed(); }
  velmor::IObjectMessagePtr CreateObjectMessage() override { NotUsed(); }
  velmor::IObjectMessagePtr CreateObjectMessage(const velmor::IObjectPtr&) override { NotUsed(); }
  velmor::IMQProducerPtr CreateProducer() override {
    FBroker->WaitForSenders();
    return std::make_shared<TScriptedProducer>(FBroker);
  }
  velmor::IQueuePtr CreateQueue(const std::string& QueueName) override {
    return velmor::TZQQueue::Create(QueueName);
  }
  velmor::ITemporaryQueuePtr CreateTemporaryQueue() override { NotUsed(); }
  velmor::ITemporaryTopicPtr CreateTemporaryTopic() override { NotUsed(); }
  velmor::ITextMessagePtr CreateTextMessage() override { NotUsed(); }
  velmor::ITextMessagePtr CreateTextMessage(const std::string&) override { NotUsed(); }
  velmor::ITopicPtr CreateTopic(const std::string&) override { NotUsed(); }
  uint8_t GetSessionMode() const override { return velmor::AcknowledgeModeAuto; }
  std::string GetClientID() const override { return ""; }
  bool GetTransacted() const override { return false; }
  void Rollback() override { NotUsed(); }
  void Start() override {}
  void Stop() override { NotUsed(); }
  void Unsubscribe(const std::string&, const std::string&) override { NotUsed(); }

 private:
  const std::shared_ptr<TScriptedBroker> FBroker;
};

class TScriptedLibraryInfo final : public velmor::IClientLibraryInfo {
 public:
  std::string GetName() const override { return "Scripted Client"; }
  std::string GetVersion() const override { return "1.0"; }
  std::string GetCopyright() const override { return ""; }
  velmor::IPrimitiveMapPtr GetProperties() const override { return nullptr; }
};

class TScriptedFactory final : public velmor::IConnectionFactory, public velmor::ILibraryInfoProvider {
 public:
  explicit TScriptedFactory(std::shared_ptr<TScriptedBroker> Broker) : FBroker(std::move(Broker)) {}

  velmor::IConnectionPtr CreateConnection() override {
    if (FBroker->ConnectionFails()) {
      throw velmor::EMQException("Connection refused");
    }
    return std::make_shared<TScriptedConnection>(FBroker);
  }
  velmor::IConnectionPtr CreateConnection(const std::string&, const std::string&) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext() override { return std::make_shared<TScriptedContext>(FBroker); }
  velmor::IMQContextPtr CreateContext(uint8_t) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(const std::string&, const std::string&) override { NotUsed(); }
  velmor::IMQContextPtr CreateContext(const std::string&, const std::string&, uint8_t) override { NotUsed(); }

  velmor::IClientLibraryInfoPtr GetClientLibraryInfo() const override {
    return std::make_shared<TScriptedLibraryInfo>();
  }

 private:
  const std::shared_ptr<TScriptedBroker> FBroker;
};

// Records what a run reports, in the order the calls came.
class TRecordingSink final : public ITestSink {
 public:
  void AddLog(const std::string& Text) override {
    const std::lock_guard Lock(FMutex);
    FEvents.push_back(Text);
  }
  void ShowResult(uint32_t Rate) override {
    {
      const std::lock_guard Lock(FMutex);
      FEvents.push_back("RESULT " + std::to_string(Rate));
      ++FResults;
    }
    FChanged.notify_all();
  }

  bool WaitForResult(std::chrono::seconds Limit = std::chrono::seconds(10)) {
    std::unique_lock Lock(FMutex);
    return FChanged.wait_for(Lock, Limit, [this] { return FResults > 0; });
  }
  // Every log line and "RESULT <rate>", in the order the calls came.
  std::vector<std::string> Events() {
    const std::lock_guard Lock(FMutex);
    return FEvents;
  }
  int Results() {
    const std::lock_guard Lock(FMutex);
    return FResults;
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::string> FEvents;
  int FResults = 0;
};

// Position of the result among the events.
inline size_t ResultIndex(const std::vector<std::string>& Events) {
  return static_cast<size_t>(std::find_if(Events.begin(), Events.end(),
                                          [](const std::string& E) { return E.rfind("RESULT ", 0) == 0; }) -
                             Events.begin());
}

// Position of Line among the events; their count when it is not there.
inline size_t IndexOf(const std::vector<std::string>& Events, const std::string& Line) {
  return static_cast<size_t>(std::find(Events.begin(), Events.end(), Line) - Events.begin());
}

}  // namespace kestrun::testing
