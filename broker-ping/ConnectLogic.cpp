#include "ConnectLogic.h"

#include <exception>
#include <memory>

#include "ZQConnectionFactory.h"
#include "ZQExceptions.h"
#include "ZQText.h"

namespace orvane {

namespace {

// The message of the exception being handled.
std::string CurrentErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace

TConnectFields DefaultFields() {
  return TConnectFields{"localhost", "61613", "vorda", "vorda", ""};
}

velmor::IConnectionBuilderPtr MakeBuilder(const TConnectFields& Fields) {
  int32_t port = velmor::TZQConnectionBuilder::DefaultPort;
  if (!velmor::TryStrToInt(Fields.Port, port))
    port = velmor::TZQConnectionBuilder::DefaultPort;
  const velmor::IConnectionBuilderPtr builder = velmor::TZQConnectionBuilder::Create(Fields.Host);
  builder->SetPort(port)
      ->SetUser(Fields.User)
      ->SetPassword(Fields.Password)
      ->SetVirtualHost(Fields.VirtualHost);
  return builder;
}

TURLText ComposeURL(const TConnectFields& Fields) {
  try {
    return TURLText{MakeBuilder(Fields)->BuildURI(), true};
  } catch (...) {
    return TURLText{CurrentErrorText(), false};
  }
}

std::string FormCaption(const std::string& Title, const velmor::IClientLibraryInfo& Info) {
  return Title + " - " + Info.GetName() + " " + Info.GetVersion();
}

std::string LibraryCaption(const std::string& Title) {
  const auto factory = std::make_shared<velmor::TZQConnectionFactory>(ComposeURL(DefaultFields()).Text);
  const auto provider = std::dynamic_pointer_cast<velmor::ILibraryInfoProvider>(factory);
  const velmor::IClientLibraryInfoPtr info = provider == nullptr ? nullptr : provider->GetClientLibraryInfo();
  return info == nullptr ? Title : FormCaption(Title, *info);
}

std::string SuccessText(const std::string& Server) {
  return "Connect was successful, server is: \n" + std::string(velmor::TrimTrailingLineBreaks(Server)) +
         "\n\n(click Ok to disconnect)";
}

std::vector<std::string> ShowServerOnce(const velmor::IConnectionPtr& Connection,
                                        const TShowText& ShowSuccess) {
  std::vector<std::string> errors;
  try {
    Connection->Start();
    const auto info = std::dynamic_pointer_cast<velmor::IConnectionInfo>(Connection);
    if (info == nullptr)
      throw velmor::EIllegalStateException("The connection tells no server information");
    ShowSuccess(SuccessText(info->GetServer()));
  } catch (...) {
    errors.push_back(CurrentErrorText());
  }
  try {
    Connection->Close();
  } catch (...) {
    errors.push_back(CurrentErrorText());
  }
  return errors;
}

std::vector<std::string> ConnectOnce(const TConnectFields& Fields, const TShowText& ShowSuccess) {
  velmor::IConnectionPtr connection;
  try {
    connection = MakeBuilder(Fields)->CreateConnection();
  } catch (...) {
    return {CurrentErrorText()};
  }
  return ShowServerOnce(connection, ShowSuccess);
}

}  // namespace orvane
