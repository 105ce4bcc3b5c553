#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ZQMQInterfaces.h"
#include "optional/ZQConnectionBuilder.h"

namespace orvane {

// What the user typed into the window's fields.
struct TConnectFields {
  std::string Host;
  std::string Port;
  std::string User;
  std::string Password;
  std::string VirtualHost;
};

// The fields a new window starts with.
TConnectFields DefaultFields();

// The text shown where the URL goes: the URL, or the builder's error message when it refuses the fields.
struct TURLText {
  std::string Text;
  bool Valid = false;
};

// A builder for the fields: host (or URL) first, then the port field, which wins over a port in the host
// text (61613 when the port text is no integer), user name, password and virtual host. Raises what the
// builder raises for a host text it refuses.
velmor::IConnectionBuilderPtr MakeBuilder(const TConnectFields& Fields);

// The URL for the fields; never raises.
TURLText ComposeURL(const TConnectFields& Fields);

// "<title> - <library name> <library version>".
std::string FormCaption(const std::string& Title, const velmor::IClientLibraryInfo& Info);

// The caption, with the library information taken from a throw-away connection factory.
std::string LibraryCaption(const std::string& Title);

// The message shown while connected; line breaks at the end of the server text are left out.
std::string SuccessText(const std::string& Server);

// Shows one message; returns when the user dismissed it.
using TShowText = std::function<void(const std::string& Text)>;

// Starts Connection, shows the success text with the broker's server identification while it is
// connected, and closes it after ShowSuccess returned, also when a step failed. Returns the message of
// each error that occurred (at most the failing step and a failing close), empty when all went well.
std::vector<std::string> ShowServerOnce(const velmor::IConnectionPtr& Connection,
                                        const TShowText& ShowSuccess);

// Creates a connection for the fields, logging in with their user name and password, and runs
// ShowServerOnce with it. Returns the error messages as ShowServerOnce does.
std::vector<std::string> ConnectOnce(const TConnectFields& Fields, const TShowText& ShowSuccess);

}  // namespace orvane
