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
  const std::string line =
      "ss -Htnp state established '( dport = :" + std::to_string(Port) + " )' 2>/dev/null";
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

void StartedConnectionTest::SetUp() {
  BrokerTest::SetUp();
  FConnection = NewConnection(BrokerUrl());
  FConnection->Start();
  FSession = FConnection->CreateSession(false, AcknowledgeModeAuto);
}

void StartedConnectionTest::TearDown() {
  if (FConnection)
    FConnection->Close();
}

bool BrokerListsPeerPort(int Port) {
  // rabbitmqctl starts a VM of its own and may fail on a loaded machine: ask again before giving up.
  std::string listing;
  for (int attempt = 0; attempt < 3; ++attempt) {
    listing = BrokerCtl("list_stomp_connections --no-table-headers -q peer_port");
    if (listing != "<failed>")
      break;
  }
  if (listing == "<failed>") {
    ADD_FAILURE() << "rabbitmqctl list_stomp_connections failed";
    return false;
  }
  std::istringstream rows(listing);
  std::string row;
  while (std::getline(rows, row)) {
    if (row == std::to_string(Port))
      return true;
  }
  return false;
}

}  // namespace velmor::testing
