#include "ZQMQProducer.h"

#include <utility>

#include "ZQExceptions.h"

namespace velmor {

IMQProducerPtr TZQMQProducer::Create(const ISessionPtr& Session, const IConnectionPtr& ContextConnection) {
  return std::make_shared<TZQMQProducer>(TCreateKey{}, Session, ContextConnection);
}

TZQMQProducer::TZQMQProducer(TCreateKey /*Key*/, ISessionPtr Session, const IConnectionPtr& ContextConnection)
    : FSession(std::move(Session)),
      FContextConnection(ContextConnection),
      FFromContext(ContextConnection != nullptr) {
  if (!FSession) {
    throw EIllegalArgumentException("Session must not be nil");
  }
  FProducer = FSession->CreateProducer(nullptr);
  FCompletionListener = std::make_shared<TNullCompletionListener>();
}

TZQMQProducer::~TZQMQProducer() {
  try {
    FProducer->Close();
  } catch (...) {
  }
}

void TZQMQProducer::CheckContext() const {
  if (FFromContext && FContextConnection.expired()) {
    throw EIllegalStateException(
        "The context this producer came from no longer exists: releasing a context closes its connection");
  }
}

IMQProducerPtr TZQMQProducer::SetDeliveryMode(uint8_t DeliveryMode) {
  CheckContext();
  FProducer->SetDeliveryMode(DeliveryMode);
  return shared_from_this();
}

IMQProducerPtr TZQMQProducer::SetPriority(int32_t Priority) {
  CheckContext();
  FProducer->SetPriority(Priority);
  return shared_from_this();
}

IMQProducerPtr TZQMQProducer::SetTimeToLive(int32_t TimeToLive) {
  CheckContext();
  if (TimeToLive < 0) {
    throw ERangeError("Range check error");
  }
  FProducer->SetTimeToLive(static_cast<uint32_t>(TimeToLive));
  return shared_from_this();
}

uint8_t TZQMQProducer::GetDeliveryMode() const {
  CheckContext();
  return FProducer->GetDeliveryMode();
}

int32_t TZQMQProducer::GetPriority() const {
  CheckContext();
  return FProducer->GetPriority();
}

int32_t TZQMQProducer::GetTimeToLive() const {
  CheckContext();
  return static_cast<int32_t>(FProducer->GetTimeToLive());
}

IMQProducerPtr TZQMQProducer::Send(const IDestinationPtr& Destination, const std::string& Text) {
  CheckContext();
  return SendMessage(Destination, FSession->CreateTextMessage(Text), FCompletionListener);
}

IMQProducerPtr TZQMQProducer::Send(const IDestinationPtr& Destination, const std::string& Text,
                                   const ICompletionListenerPtr& CompletionListener) {
  CheckContext();
  return SendMessage(Destination, FSession->CreateTextMessage(Text), CompletionListener);
}

IMQProducerPtr TZQMQProducer::Send(const IDestinationPtr& Destination, const IMessagePtr& Message) {
  return SendMessage(Destination, Message, FCompletionListener);
}

IMQProducerPtr TZQMQProducer::Send(const IDestinationPtr& Destination, const IMessagePtr& Message,
                                   const ICompletionListenerPtr& CompletionListener) {
  return SendMessage(Destination, Message, CompletionListener);
}

IMQProducerPtr TZQMQProducer::SendMessage(const IDestinationPtr& Destination, const IMessagePtr& Message,
                                          const ICompletionListenerPtr& CompletionListener) {
  const IMQProducerPtr self = shared_from_this();
  CheckContext();
  if (!Message) {
    throw EIllegalArgumentException("Message must not be nil");
  }
  // Stamping changes the caller's message; errors here are not the listener's business.
  for (const TPrimitiveMapItem& item : FProperties.GetItems()) {
    Message->SetStringProperty(item.Name, item.Value);
  }
  if (!FCorrelationID.empty()) {
    Message->SetCorrelationID(FCorrelationID);
  }
  if (!FType.empty()) {
    Message->SetType(FType);
  }
  if (FReplyTo) {
    Message->SetReplyTo(FReplyTo);
  }
  ICompletionListener& listener = CompletionListener ? *CompletionListener : *FCompletionListener;
  try {
    FProducer->Send(Destination, Message);
    listener.OnCompletion(Message);
  } catch (const std::exception& error) {
    listener.OnException(Message, error);
    throw;
  }
  return self;
}

}  // namespace velmor
