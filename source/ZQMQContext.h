#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQMQInterfaces.h"

namespace velmor {

// One connection together with one session on it: the simplified API. Almost everything forwards to the
// connection or the session; CreateConsumer, CreateProducer and Start start the connection first, every
// time. The connection's transformer settings, CONNECTED information and heart-beat control are reached
// through the context as well.
//
// Holds its connection and session strongly; releasing the context releases them, which closes the
// connection. Its producers and consumers hold the session only, so once the context is gone they
// raise an error that says so. Used by one thread at a time, like the connection beneath it.
class TZQMQContext final : public IMQContext,
                           public ITransformerSettings,
                           public IConnectionInfo,
                           public IHeartbeatControl,
                           public IStartable,
                           public IStoppable {
 public:
  // Creates the session on Connection (AcknowledgeModeAuto unless SessionMode says otherwise) without
  // starting the connection.
  explicit TZQMQContext(IConnectionPtr Connection, uint8_t SessionMode = AcknowledgeModeAuto);

  static IMQContextPtr Create(IConnectionPtr Connection, uint8_t SessionMode = AcknowledgeModeAuto) {
    return std::make_shared<TZQMQContext>(std::move(Connection), SessionMode);
  }

  // IMQContext
  void Close() override;
  void Commit() override;
  IQueueBrowserPtr CreateBrowser(const IQueuePtr& Queue) override;
  IBytesMessagePtr CreateBytesMessage() override;
  IMQConsumerPtr CreateConsumer(const IDestinationPtr& Destination) override;
  IMQConsumerPtr CreateConsumer(const IDestinationPtr& Destination,
                                const std::string& MessageSelector) override;
  // The session's subscriber itself; the connection is not started for it.
  ITopicSubscriberPtr CreateDurableConsumer(const ITopicPtr& Topic, const std::string& Name) override;
  ITopicSubscriberPtr CreateDurableConsumer(const ITopicPtr& Topic, const std::string& Name,
                                            const std::string& MessageSelector) override;
  IMapMessagePtr CreateMapMessage() override;
  IObjectMessagePtr CreateObjectMessage() override;
  IObjectMessagePtr CreateObjectMessage(const IObjectPtr& Object) override;
  IMQProducerPtr CreateProducer() override;
  IQueuePtr CreateQueue(const std::string& QueueName) override;
  ITemporaryQueuePtr CreateTemporaryQueue() override;
  ITemporaryTopicPtr CreateTemporaryTopic() override;
  ITextMessagePtr CreateTextMessage() override;
  ITextMessagePtr CreateTextMessage(const std::string& Text) override;
  ITopicPtr CreateTopic(const std::string& TopicName) override;
  uint8_t GetSessionMode() const override;
  std::string GetClientID() const override;
  bool GetTransacted() const override;
  void Rollback() override;
  // Also IStartable::Start and IStoppable::Stop.
  void Start() override;
  void Stop() override;
  void Unsubscribe(const std::string& TopicName, const std::string& SubscriptionName) override;

  // ITransformerSettings
  IMessageTransformerPtr GetMessageTransformer() const override;
  void SetMessageTransformer(const IMessageTransformerPtr& Transformer) override;
  void SetMapTransformationID(const std::string& ID) override;
  void SetObjectTransformationID(const std::string& ID) override;

  // IConnectionInfo
  bool IsConnected() const override;
  std::string GetSessionID() const override;
  std::string GetServer() const override;
  uint8_t GetProtocolVersion() const override;

  // IHeartbeatControl
  void SendHeartbeat() override;
  void CheckHeartbeat() override;
  bool WaitHeartbeat(int32_t Timeout) override;

 private:
  // The connection as another of its interfaces; EUnsupportedOperationException when it has not got it.
  template <class TInterface>
  std::shared_ptr<TInterface> ConnectionAs() const;

  IConnectionPtr FConnection;
  ISessionPtr FSession;
};

}  // namespace velmor
