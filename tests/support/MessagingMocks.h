#pragma once

#include <gmock/gmock.h>

#include <cstdint>
#include <string>

#include "ZQMQInterfaces.h"

namespace velmor::testing {

// GoogleMock stand-ins for the classic messaging API, for tests of what is built on top of it.

class MockMessageProducer : public IMessageProducer {
 public:
  MOCK_METHOD(void, SetDeliveryMode, (uint8_t), (override));
  MOCK_METHOD(void, SetPriority, (int32_t), (override));
  MOCK_METHOD(void, SetTimeToLive, (uint32_t), (override));
  MOCK_METHOD(uint8_t, GetDeliveryMode, (), (const, override));
  MOCK_METHOD(int32_t, GetPriority, (), (const, override));
  MOCK_METHOD(uint32_t, GetTimeToLive, (), (const, override));
  MOCK_METHOD(void, Close, (), (override));
  MOCK_METHOD(void, Send, (const IMessagePtr&), (override));
  MOCK_METHOD(void, Send, (const IDestinationPtr&, const IMessagePtr&), (override));
  MOCK_METHOD(void, Send, (const IMessagePtr&, uint8_t, int32_t, int32_t), (override));
  MOCK_METHOD(void, Send, (const IDestinationPtr&, const IMessagePtr&, uint8_t, int32_t, int32_t),
              (override));
};

class MockMessageConsumer : public IMessageConsumer {
 public:
  MOCK_METHOD(std::string, GetMessageSelector, (), (const, override));
  MOCK_METHOD(IMessagePtr, Receive, (), (override));
  MOCK_METHOD(IMessagePtr, Receive, (int32_t), (override));
  MOCK_METHOD(IMessagePtr, ReceiveNoWait, (), (override));
  MOCK_METHOD(void, Close, (), (override));
};

class MockSession : public ISession {
 public:
  MOCK_METHOD(uint8_t, GetAcknowledgeMode, (), (const, override));
  MOCK_METHOD(bool, GetTransacted, (), (const, override));
  MOCK_METHOD(void, Close, (), (override));
  MOCK_METHOD(void, Commit, (), (override));
  MOCK_METHOD(IBytesMessagePtr, CreateBytesMessage, (), (override));
  MOCK_METHOD(IMessageConsumerPtr, CreateConsumer, (const IDestinationPtr&), (override));
  MOCK_METHOD(IMessageConsumerPtr, CreateConsumer, (const IDestinationPtr&, const std::string&), (override));
  MOCK_METHOD(IMessageConsumerPtr, CreateConsumer, (const IDestinationPtr&, const std::string&, bool),
              (override));
  MOCK_METHOD(ITopicSubscriberPtr, CreateDurableSubscriber, (const ITopicPtr&, const std::string&),
              (override));
  MOCK_METHOD(ITopicSubscriberPtr, CreateDurableSubscriber,
              (const ITopicPtr&, const std::string&, const std::string&, bool), (override));
  MOCK_METHOD(IMessagePtr, CreateMessage, (), (override));
  MOCK_METHOD(IMessageProducerPtr, CreateProducer, (const IDestinationPtr&), (override));
  MOCK_METHOD(IQueuePtr, CreateQueue, (const std::string&), (override));
  MOCK_METHOD(ITemporaryQueuePtr, CreateTemporaryQueue, (), (override));
  MOCK_METHOD(ITemporaryTopicPtr, CreateTemporaryTopic, (), (override));
  MOCK_METHOD(IQueueBrowserPtr, CreateBrowser, (const IQueuePtr&), (override));
  MOCK_METHOD(IObjectMessagePtr, CreateObjectMessage, (), (override));
  MOCK_METHOD(IObjectMessagePtr, CreateObjectMessage, (const IObjectPtr&), (override));
  MOCK_METHOD(ITextMessagePtr, CreateTextMessage, (), (override));
  MOCK_METHOD(IMapMessagePtr, CreateMapMessage, (), (override));
  MOCK_METHOD(ITextMessagePtr, CreateTextMessage, (const std::string&), (override));
  MOCK_METHOD(ITopicPtr, CreateTopic, (const std::string&), (override));
  MOCK_METHOD(void, Rollback, (), (override));
  MOCK_METHOD(void, Unsubscribe, (const std::string&, const std::string&), (override));
};

// A connection that also reports its CONNECTED information.
class MockConnection : public IConnection, public IConnectionInfo {
 public:
  MOCK_METHOD(std::string, GetClientID, (), (const, override));
  MOCK_METHOD(void, SetClientID, (const std::string&), (override));
  MOCK_METHOD(void, Start, (), (override));
  MOCK_METHOD(void, Stop, (), (override));
  MOCK_METHOD(void, Close, (), (override));
  MOCK_METHOD(ISessionPtr, CreateSession, (bool, uint8_t), (override));
  MOCK_METHOD(ISessionPtr, CreateSession, (uint8_t), (override));
  MOCK_METHOD(bool, IsConnected, (), (const, override));
  MOCK_METHOD(std::string, GetSessionID, (), (const, override));
  MOCK_METHOD(std::string, GetServer, (), (const, override));
  MOCK_METHOD(uint8_t, GetProtocolVersion, (), (const, override));
};

// An application's completion listener.
class MockCompletionListener : public ICompletionListener {
 public:
  MOCK_METHOD(void, OnCompletion, (const IMessagePtr&), (override));
  MOCK_METHOD(void, OnException, (const IMessagePtr&, const std::exception&), (override));
};

}  // namespace velmor::testing
