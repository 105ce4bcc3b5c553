#include "ZQAbstractConnectionFactory.h"

#include <utility>

#include "ZQAbstractTransport.h"
#include "ZQClientLibraryInfo.h"
#include "ZQConnection.h"
#include "ZQExceptions.h"
#include "ZQMQContext.h"
#include "ZQText.h"

namespace velmor {

namespace {

// The credential of a factory made without one serves as both user name and
// password.
constexpr const char* DefaultCredential = "vorda";
constexpr const char* DefaultBrokerURL = "stomp://127.0.0.1";

}  // namespace

TZQAbstractConnectionFactory::TZQAbstractConnectionFactory()
    : TZQAbstractConnectionFactory(DefaultCredential, DefaultCredential, DefaultBrokerURL) {}

TZQAbstractConnectionFactory::TZQAbstractConnectionFactory(std::string UserName, std::string Password,
                                                           const std::string& BrokerURL)
    : FPassword(std::move(Password)), FUserName(std::move(UserName)) {
  SetBrokerURL(BrokerURL);
}

TZQAbstractConnectionFactory::TZQAbstractConnectionFactory(const std::string& BrokerURL)
    : TZQAbstractConnectionFactory(DefaultCredential, DefaultCredential, BrokerURL) {}

std::string TZQAbstractConnectionFactory::GetBrokerURL() const {
  return FBrokerURL ? FBrokerURL->GetURI() : std::string();
}

void TZQAbstractConnectionFactory::SetBrokerURL(const std::string& Value) {
  FBrokerURL = CreateURI(Value, TZQStompConnection::DefaultStompPort());
}

std::shared_ptr<TZQConnection> TZQAbstractConnectionFactory::MakeConnection(
    const std::string& UserName, const std::string& Password) const {
  if (GetBrokerURL().empty()) {
    throw EConfigurationException("BrokerURL not set.");
  }
  // This local pointer is the transport's only owner until the connection takes
  // it, so whatever fails on the way frees it.
  std::shared_ptr<TZQAbstractTransport> transport = CreateTransport();
  const IStompCommAdapterPtr& adapter = transport->GetCommAdapter();
  if (!adapter->Supports(FBrokerURL->GetProtocol())) {
    const std::string scheme = FBrokerURL->GetProtocol();
    transport.reset();
    throw EConfigurationException(Format("Unsupported Protocol \"%s\" !", {scheme}));
  }
  if (FApplyConnectTimeout) {
    adapter->SetConnectTimeout(FConnectTimeout);
  }
  transport->SetClientID(FClientID);
  transport->SetLogin(UserName);
  transport->SetPasscode(Password);
  // Credentials in the URL replace those just set.
  transport->SetURI(FBrokerURL);
  std::shared_ptr<TZQConnection> connection = TZQConnection::Create(std::move(transport));
  connection->SetConnectTimeout(FConnectTimeout);
  connection->SetSendTimeout(FSendTimeout);
  if (!FClientID.empty()) {
    connection->SetClientID(FClientID);
  }
  return connection;
}

IConnectionPtr TZQAbstractConnectionFactory::CreateConnection() {
  return MakeConnection(FUserName, FPassword);
}

IConnectionPtr TZQAbstractConnectionFactory::CreateConnection(const std::string& UserName,
                                                              const std::string& Password) {
  return MakeConnection(UserName, Password);
}

IMQContextPtr TZQAbstractConnectionFactory::CreateContext() {
  return TZQMQContext::Create(MakeConnection(FUserName, FPassword));
}

IMQContextPtr TZQAbstractConnectionFactory::CreateContext(uint8_t SessionMode) {
  return TZQMQContext::Create(MakeConnection(FUserName, FPassword), SessionMode);
}

IMQContextPtr TZQAbstractConnectionFactory::CreateContext(const std::string& UserName,
                                                          const std::string& Password) {
  return TZQMQContext::Create(MakeConnection(UserName, Password));
}

IMQContextPtr TZQAbstractConnectionFactory::CreateContext(const std::string& UserName,
                                                          const std::string& Password, uint8_t SessionMode) {
  return TZQMQContext::Create(MakeConnection(UserName, Password), SessionMode);
}

IClientLibraryInfoPtr TZQAbstractConnectionFactory::GetClientLibraryInfo() const {
  return std::make_shared<TZQClientLibraryInfo>(ClientLibraryName, ClientLibraryVersion,
                                                ClientLibraryCopyright);
}

}  // namespace velmor
