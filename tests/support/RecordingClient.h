#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ZQCommInterfaces.h"
#include "ZQStompClient.h"
#include "ZQStompFrame.h"
#include "ZQTextMessage.h"
#include "ZQURI.h"

namespace velmor::testing {

// A STOMP client that keeps the MESSAGE frames handed to it in Messages, oldest first. Tests that read
// in a way of their own add it in a subclass.
class TRecordingClient : public TZQStompClient {
 public:
  std::vector<IStompFramePtr> Messages;

  void OnMessageFrame(const IStompFramePtr& Frame) override { Messages.push_back(Frame); }
  void UnsubscribeDurable(const std::string& /*DestinationName*/,
                          const std::string& /*SubscriptionName*/) override {}
};

// A client as the connection factory leaves it, not yet connected: Adapter, Login and Passcode, and
// the URL (default port 61613).
template <typename Client = TRecordingClient>
std::shared_ptr<Client> NewClient(const IStompCommAdapterPtr& Adapter, const std::string& Url,
                                  const std::string& Login = "", const std::string& Passcode = "") {
  auto client = std::make_shared<Client>();
  client->SetCommAdapter(Adapter);
  client->SetLogin(Login);
  client->SetPasscode(Passcode);
  client->SetURI(CreateURI(Url, 61613));
  return client;
}

// The message a MESSAGE frame becomes on Client: text body, subscription, message id, redelivered
// flag, and every header beyond the standard ones as a property (so "ack" under STOMP 1.2).
std::shared_ptr<TZQTextMessage> MessageFromFrame(const std::shared_ptr<TZQStompClient>& Client,
                                                 const IStompFrame& Frame);

}  // namespace velmor::testing
