// End-to-end throughput through the messaging API against the local broker, the same workload as
// ClientThroughput and TransportThroughput: P pairs of a sender and a receiver connection, each on its
// own thread and each pair on its own queue; every sender sends M non-persistent text messages of L
// characters through a producer, every receiver takes them through a consumer of an auto-acknowledge
// session. Prints messages per second and the client's CPU time per message, to set beside the
// client's and the transport's figures.
//
//   ApiThroughput [P [M [L]]]      without arguments: the standard workloads, then "large 256"
//   ApiThroughput large [MiB]      peak memory while one MiB-sized message is received and read
//
// "large" receives one text message of the given size (default 256 MiB) through a consumer from a
// minimal peer (LargeMessageRun.h), reads its text in place and prints how much the process's peak
// resident memory grew.
//
// The broker address comes from VELMOR_BROKER_HOST / VELMOR_BROKER_PORT (default 127.0.0.1:61613),
// user and passcode from VELMOR_BROKER_USER / VELMOR_BROKER_PASS (default "vorda").

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "LargeMessageRun.h"
#include "ThroughputRun.h"
#include "ZQConnection.h"
#include "ZQMQTransportRabbitMQ.h"

namespace {

using namespace velmor;
using bench::TThroughputPair;

// A started connection made as the connection factory makes one.
std::shared_ptr<TZQConnection> Connect() {
  auto transport = TZQMQTransportRabbitMQ::Create();
  transport->SetLogin(bench::BrokerUser());
  transport->SetPasscode(bench::BrokerPass());
  transport->SetURI(CreateURI(bench::BrokerUrl(), 61613));
  auto connection = TZQConnection::Create(std::move(transport));
  connection->Start();
  return connection;
}

// The queue of a pair: its broker name without the "/queue/" prefix that the mapping adds again.
std::string QueueName(const TThroughputPair& Pair) {
  return Pair.Queue.substr(7);
}

int64_t ReceiveAll(const TThroughputPair& Pair, const std::function<void()>& Ready) {
  const auto connection = Connect();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const IMessageConsumerPtr consumer = session->CreateConsumer(session->CreateQueue(QueueName(Pair)));
  Ready();
  int64_t got = 0;
  while (got < Pair.Count) {
    const auto text = std::dynamic_pointer_cast<ITextMessage>(consumer->Receive(30000));
    if (!text)
      throw std::runtime_error("no text message within 30 s");
    if (text->GetTextRef().size() != Pair.Body.size())
      throw std::runtime_error("wrong message size");
    ++got;
  }
  connection->Close();
  return got;
}

void SendAll(const TThroughputPair& Pair, const std::function<void()>& Start) {
  const auto connection = Connect();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const IMessageProducerPtr producer = session->CreateProducer(session->CreateQueue(QueueName(Pair)));
  const ITextMessagePtr message = session->CreateTextMessage(Pair.Body);
  Start();
  for (int64_t i = 0; i < Pair.Count; ++i) {
    producer->Send(message);
  }
  connection->Close();
}

// The large receive through connection, session and consumer. The peer does not answer SUBSCRIBE, so
// its message names a subscription of its own, which the consumer is told not to check.
bench::TLargeReceive ConnectForLarge(int Port) {
  auto transport = TZQMQTransportRabbitMQ::Create();
  transport->SetLogin("bench");
  transport->SetPasscode("bench");
  transport->SetURI(
      CreateURI("stomp://127.0.0.1:" + std::to_string(Port) + "?message.subscription_check=false", 61613));
  const auto connection = TZQConnection::Create(std::move(transport));
  connection->Start();
  const ISessionPtr session = connection->CreateSession(false, AcknowledgeModeAuto);
  const IMessageConsumerPtr consumer = session->CreateConsumer(session->CreateQueue("velmor-bench-large"));
  return [connection, consumer]() -> std::size_t {
    const auto text = std::dynamic_pointer_cast<ITextMessage>(consumer->Receive(60000));
    return text ? text->GetTextRef().size() : 0;
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "large") == 0)
    return bench::MeasureLargeReceive(argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 256,
                                      "messaging API", ConnectForLarge);
  const int status =
      velmor::bench::RunThroughput(argc, argv, "/queue/velmor-api-bench-", ReceiveAll, SendAll);
  if (status != 0 || argc > 1)
    return status;
  return bench::MeasureLargeReceive(256, "messaging API", ConnectForLarge);
}
