#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ZQConnection.h"
#include "ZQMQInterfaces.h"

namespace velmor::testing {

// A connection made as the connection factory makes one: a RabbitMQ transport with the broker's
// credentials and Url, then the connection around it. Not started.
std::shared_ptr<TZQConnection> NewConnection(const std::string& Url);

// The text of a text message; "<no message>" for nullptr, "<not a text message>" for other kinds.
std::string TextOf(const IMessagePtr& Message);

// The local ports of this process's TCP connections to Port, as `ss` reports them.
std::vector<int> LocalPortsTo(int Port);

// True when the broker lists a client connection from local port Port.
bool BrokerListsPeerPort(int Port);

}  // namespace velmor::testing
