// Sends one text message to a queue and receives it again through the simplified context API.
//   context-example [broker URL]
// Without a URL it connects to stomp://$VELMOR_BROKER_HOST:$VELMOR_BROKER_PORT (127.0.0.1:61613 by
// default) as user "vorda"; credentials written in the URL replace those.
#include <velmor/ZQConnectionFactory.h>
#include <velmor/ZQExceptions.h>

#include <cstdlib>
#include <iostream>
#include <string>

static std::string EnvOr(const char* Name, const char* Fallback) {
  const char* value = std::getenv(Name);
  return value != nullptr && *value != '\0' ? value : Fallback;
}

int main(int argc, char** argv) {
  const std::string url = argc > 1 ? argv[1]
                                   : "stomp://" + EnvOr("VELMOR_BROKER_HOST", "127.0.0.1") + ":" +
                                         EnvOr("VELMOR_BROKER_PORT", "61613");
  try {
    velmor::TZQConnectionFactory factory("vorda", "vorda", url);
    const velmor::IMQContextPtr context = factory.CreateContext();
    const velmor::IQueuePtr queue = context->CreateQueue("velmor-example-context");
    const velmor::IMQConsumerPtr consumer = context->CreateConsumer(queue);
    // Persistent (delivery mode 1): the send returns once the broker has confirmed it.
    context->CreateProducer()->SetDeliveryMode(1)->Send(queue, "Hello from the context API");
    const auto message = std::dynamic_pointer_cast<velmor::ITextMessage>(consumer->Receive(5000));
    if (message == nullptr) {
      std::cerr << "context-example: no text message arrived within 5 s\n";
      return 1;
    }
    std::cout << "context-example received: " << message->GetText() << "\n";
    context->Close();
    return 0;
  } catch (const velmor::EVelmorError& error) {
    std::cerr << "context-example: " << error.what() << "\n";
    return 1;
  }
}
