#include "MessagingFixture.h"

#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "BrokerFixture.h"
#include "ZQMQTransportRabbitMQ.h"
#include "ZQURI.h"

namespace velmor::testing {

std::shared_ptr<TZQConnection> NewConnection(const std::string& Url) {
  auto transport = TZQMQTransportRabbitMQ::Create();
  transport->SetLogin(Broker().User);
  transport->SetPasscode(Broker().Pass);
  transport->SetURI(TZQURI::Create(Url));
  return TZQConnection::Create(std::move(transport));
}

std::string TextOf(const IMessagePtr& Message) {
  if (!Message)
    return "<no message>";
  const auto text = std::dynamic_pointer_cast<ITextMessage>(Message);
  return text ? text->GetText() : "<not a text message>";
}

std::vector<int> LocalPortsTo(int Port) {
  const std::string line = "ss -Htnp state established '( dport = :" + std::to_string(Port) + " )' 2>/dev/null";
  FILE* pipe = popen(line.c_str(), "r");
  std::vector<int> ports;
  if (pipe == nullptr)
    return ports;
  const std::string owner = "pid=" + std::to_string(getpid()) + ",";
  char buffer[1024];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    const std::string row(buffer);
    if (row.find(owner) == std::string::npos)
      continue;
    // Recv-Q Send-Q Local:Port Peer:Port Process
    std::istringstream fields(row);
    std::string recvQ, sendQ, local;
    fields >> recvQ >> sendQ >> local;
    ports.push_back(std::stoi(local.substr(local.rfind(':') + 1)));
  }
  pclose(pipe);
  return ports;
}

bool BrokerListsPeerPort(int Port) {
  std::istringstream rows(BrokerCtl("list_stomp_connections --no-table-headers -q peer_port"));
  std::string row;
  while (std::getline(rows, row)) {
    if (row == std::to_string(Port))
      return true;
  }
  return false;
}

}  // namespace velmor::testing
