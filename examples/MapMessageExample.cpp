// Sends one map message to a queue and receives it again through the simplified context API. The
// library carries only a map message's raw body: the application's message transformer writes the
// entries into it on send and reads them back on receive.
//   map-message-example [broker URL]
// Without a URL it connects to stomp://$VELMOR_BROKER_HOST:$VELMOR_BROKER_PORT (127.0.0.1:61613 by
// default) as user "vorda"; credentials written in the URL replace those.
#include <velmor/ZQConnectionFactory.h>
#include <velmor/ZQExceptions.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

static std::string EnvOr(const char* Name, const char* Fallback) {
  const char* value = std::getenv(Name);
  return value != nullptr && *value != '\0' ? value : Fallback;
}

// Writes a map's entries as "name=value" lines. Names must not hold "=" nor values a line break: a
// real application would use a format that escapes them.
class TLineTransformer final : public velmor::IMessageTransformer {
 public:
  void TransformOutgoing(const velmor::ISessionPtr& /*Session*/,
                         const velmor::IMessageProducerPtr& /*Producer*/, const velmor::IMessagePtr& Message,
                         velmor::IMessagePtr& /*Replacement*/) override {
    const auto map = std::dynamic_pointer_cast<velmor::IMapMessage>(Message);
    const auto content = std::dynamic_pointer_cast<velmor::IMessageContent>(Message);
    if (map == nullptr || content == nullptr)
      return;  // not a map message: sent as it is
    std::string body;
    for (const std::string& name : map->GetMapNames())
      body += name + "=" + map->GetString(name) + "\n";
    content->SetContent(body);
  }

  void TransformIncoming(const velmor::ISessionPtr& /*Session*/,
                         const velmor::IMessageConsumerPtr& /*Consumer*/, const velmor::IMessagePtr& Message,
                         velmor::IMessagePtr& /*Replacement*/) override {
    // Message is nullptr when a receive found nothing.
    const auto map = std::dynamic_pointer_cast<velmor::IMapMessage>(Message);
    const auto content = std::dynamic_pointer_cast<velmor::IMessageContent>(Message);
    if (map == nullptr || content == nullptr)
      return;
    std::istringstream lines(content->GetContent());
    for (std::string line; std::getline(lines, line);) {
      const auto equals = line.find('=');
      if (equals != std::string::npos)
        map->SetString(line.substr(0, equals), line.substr(equals + 1));
    }
  }
};

int main(int argc, char** argv) {
  const std::string url = argc > 1 ? argv[1]
                                   : "stomp://" + EnvOr("VELMOR_BROKER_HOST", "127.0.0.1") + ":" +
                                         EnvOr("VELMOR_BROKER_PORT", "61613");
  try {
    velmor::TZQConnectionFactory factory("vorda", "vorda", url);
    const velmor::IMQContextPtr context = factory.CreateContext();
    // Before the context starts (its CreateConsumer and CreateProducer start it); sender and receiver
    // set the same transformation ids.
    const auto settings = std::dynamic_pointer_cast<velmor::ITransformerSettings>(context);
    settings->SetMessageTransformer(std::make_shared<TLineTransformer>());
    settings->SetMapTransformationID("example-map");
    settings->SetObjectTransformationID("example-object");

    const velmor::IQueuePtr queue = context->CreateQueue("velmor-example-map");
    const velmor::IMQConsumerPtr consumer = context->CreateConsumer(queue);
    const velmor::IMapMessagePtr order = context->CreateMapMessage();
    order->SetString("item", "tea");
    order->SetInt("quantity", 3);
    // Persistent (delivery mode 1): the send returns once the broker has confirmed it.
    context->CreateProducer()->SetDeliveryMode(1)->Send(queue, order);
    const auto received = std::dynamic_pointer_cast<velmor::IMapMessage>(consumer->Receive(5000));
    if (received == nullptr) {
      std::cerr << "map-message-example: no map message arrived within 5 s\n";
      return 1;
    }
    std::cout << "map-message-example received: " << received->GetInt("quantity") << " x "
              << received->GetString("item") << "\n";
    context->Close();
    return 0;
  } catch (const velmor::EVelmorError& error) {
    std::cerr << "map-message-example: " << error.what() << "\n";
    return 1;
  }
}
