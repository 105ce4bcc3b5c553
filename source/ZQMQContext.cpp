#include "ZQMQContext.h"

#include <utility>

#include "ZQExceptions.h"
#include "ZQMQConsumer.h"
#include "ZQMQProducer.h"

namespace velmor {

TZQMQContext::TZQMQContext(IConnectionPtr Connection, uint8_t SessionMode)
    : FConnection(std::move(Connection)) {
  if (!FConnection) {
    throw EIllegalArgumentException("Connection must not be nil");
  }
  FSession = FConnection->CreateSession(SessionMode);
}

template <class TInterface>
std::shared_ptr<TInterface> TZQMQContext::ConnectionAs() const {
  auto wanted = std::dynamic_pointer_cast<TInterface>(FConnection);
  if (!wanted) {
    throw EUnsupportedOperationException("The connection does not support this operation");
  }
  return wanted;
}

void TZQMQContext::Close() {
  FConnection->Close();
}

void TZQMQContext::Commit() {
  FSession->Commit();
}

IQueueBrowserPtr TZQMQContext::CreateBrowser(const IQueuePtr& Queue) {
  return FSession->CreateBrowser(Queue);
}

IBytesMessagePtr TZQMQContext::CreateBytesMessage() {
  return FSession->CreateBytesMessage();
}

IMQConsumerPtr TZQMQContext::CreateConsumer(const IDestinationPtr& Destination) {
  FConnection->Start();
  return std::make_shared<TZQMQConsumer>(FSession, Destination, FConnection);
}

IMQConsumerPtr TZQMQContext::CreateConsumer(const IDestinationPtr& Destination,
                                            const std::string& MessageSelector) {
  FConnection->Start();
  return std::make_shared<TZQMQConsumer>(FSession, Destination, MessageSelector, FConnection);
}

ITopicSubscriberPtr TZQMQContext::CreateDurableConsumer(const ITopicPtr& Topic, const std::string& Name) {
  return FSession->CreateDurableSubscriber(Topic, Name);
}

ITopicSubscriberPtr TZQMQContext::CreateDurableConsumer(const ITopicPtr& Topic, const std::string& Name,
                                                        const std::string& MessageSelector) {
  return FSession->CreateDurableSubscriber(Topic, Name, MessageSelector, false);
}

IMapMessagePtr TZQMQContext::CreateMapMessage() {
  return FSession->CreateMapMessage();
}

IObjectMessagePtr TZQMQContext::CreateObjectMessage() {
  return FSession->CreateObjectMessage();
}

IObjectMessagePtr TZQMQContext::CreateObjectMessage(const IObjectPtr& Object) {
  return FSession->CreateObjectMessage(Object);
}

IMQProducerPtr TZQMQContext::CreateProducer() {
  FConnection->Start();
  return TZQMQProducer::Create(FSession, FConnection);
}

IQueuePtr TZQMQContext::CreateQueue(const std::string& QueueName) {
  return FSession->CreateQueue(QueueName);
}

ITemporaryQueuePtr TZQMQContext::CreateTemporaryQueue() {
  return FSession->CreateTemporaryQueue();
}

ITemporaryTopicPtr TZQMQContext::CreateTemporaryTopic() {
  return FSession->CreateTemporaryTopic();
}

ITextMessagePtr TZQMQContext::CreateTextMessage() {
  return FSession->CreateTextMessage();
}

ITextMessagePtr TZQMQContext::CreateTextMessage(const std::string& Text) {
  return FSession->CreateTextMessage(Text);
}

ITopicPtr TZQMQContext::CreateTopic(const std::string& TopicName) {
  return FSession->CreateTopic(TopicName);
}

uint8_t TZQMQContext::GetSessionMode() const {
  return FSession->GetAcknowledgeMode();
}

std::string TZQMQContext::GetClientID() const {
  return FConnection->GetClientID();
}

bool TZQMQContext::GetTransacted() const {
  return FSession->GetTransacted();
}

void TZQMQContext::Rollback() {
  FSession->Rollback();
}

void TZQMQContext::Start() {
  FConnection->Start();
}

void TZQMQContext::Stop() {
  FConnection->Stop();
}

void TZQMQContext::Unsubscribe(const std::string& TopicName, const std::string& SubscriptionName) {
  FSession->Unsubscribe(TopicName, SubscriptionName);
}

IMessageTransformerPtr TZQMQContext::GetMessageTransformer() const {
  return ConnectionAs<ITransformerSettings>()->GetMessageTransformer();
}

void TZQMQContext::SetMessageTransformer(const IMessageTransformerPtr& Transformer) {
  ConnectionAs<ITransformerSettings>()->SetMessageTransformer(Transformer);
}

void TZQMQContext::SetMapTransformationID(const std::string& ID) {
  ConnectionAs<ITransformerSettings>()->SetMapTransformationID(ID);
}

void TZQMQContext::SetObjectTransformationID(const std::string& ID) {
  ConnectionAs<ITransformerSettings>()->SetObjectTransformationID(ID);
}

bool TZQMQContext::IsConnected() const {
  return ConnectionAs<IConnectionInfo>()->IsConnected();
}

std::string TZQMQContext::GetSessionID() const {
  return ConnectionAs<IConnectionInfo>()->GetSessionID();
}

std::string TZQMQContext::GetServer() const {
  return ConnectionAs<IConnectionInfo>()->GetServer();
}

uint8_t TZQMQContext::GetProtocolVersion() const {
  return ConnectionAs<IConnectionInfo>()->GetProtocolVersion();
}

void TZQMQContext::SendHeartbeat() {
  ConnectionAs<IHeartbeatControl>()->SendHeartbeat();
}

void TZQMQContext::CheckHeartbeat() {
  ConnectionAs<IHeartbeatControl>()->CheckHeartbeat();
}

bool TZQMQContext::WaitHeartbeat(int32_t Timeout) {
  return ConnectionAs<IHeartbeatControl>()->WaitHeartbeat(Timeout);
}

}  // namespace velmor
