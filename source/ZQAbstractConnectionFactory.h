#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQMQInterfaces.h"
#include "ZQURI.h"

namespace velmor {

class TZQAbstractTransport;
class TZQConnection;

// Makes connections and contexts from a broker URL, default credentials, an
// optional client id and two time-outs. The create operations only read the
// factory, so several threads may create from one factory at once as long as
// nobody changes it meanwhile. What it makes does not refer to it: connections
// and contexts outlive the factory. It also hands out the library information.
class TZQAbstractConnectionFactory : public IConnectionFactory, public ILibraryInfoProvider {
 public:
  // User name and password "vorda", URL "stomp://127.0.0.1".
  TZQAbstractConnectionFactory();
  // A URL without a port gets 61613, whatever its scheme. Any text is accepted
  // here, an empty one too; the create operations refuse an empty URL.
  TZQAbstractConnectionFactory(std::string UserName, std::string Password, const std::string& BrokerURL);
  // User name and password "vorda".
  explicit TZQAbstractConnectionFactory(const std::string& BrokerURL);

  // The URL text as it was given (without a default port); empty when none.
  std::string GetBrokerURL() const;
  void SetBrokerURL(const std::string& Value);
  const std::string& GetUserName() const { return FUserName; }
  void SetUserName(const std::string& Value) { FUserName = Value; }
  const std::string& GetPassword() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  // Given to every connection when not empty.
  const std::string& GetClientID() const { return FClientID; }
  void SetClientID(const std::string& Value) { FClientID = Value; }
  // Milliseconds; -1 leaves the socket's send time-out alone.
  int32_t GetSendTimeout() const { return FSendTimeout; }
  void SetSendTimeout(int32_t Value) { FSendTimeout = Value; }
  // Milliseconds; 0 means no limit.
  int32_t GetConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int32_t Value) { FConnectTimeout = Value; }
  // When set, the connect time-out also goes to the communication adapter as
  // soon as the transport exists.
  bool GetApplyConnectTimeout() const { return FApplyConnectTimeout; }
  void SetApplyConnectTimeout(bool Value) { FApplyConnectTimeout = Value; }

  // Credentials written in the URL replace the given ones (user name and
  // password each on its own). Nothing is started. EConfigurationException
  // "BrokerURL not set." for an empty URL, "Unsupported Protocol "<scheme>" !"
  // for a scheme that the communication adapter does not handle.
  IConnectionPtr CreateConnection() override;
  IConnectionPtr CreateConnection(const std::string& UserName, const std::string& Password) override;
  // A connection as above with one session on it (AcknowledgeModeAuto unless
  // SessionMode says otherwise).
  IMQContextPtr CreateContext() override;
  IMQContextPtr CreateContext(uint8_t SessionMode) override;
  IMQContextPtr CreateContext(const std::string& UserName, const std::string& Password) override;
  IMQContextPtr CreateContext(const std::string& UserName, const std::string& Password,
                              uint8_t SessionMode) override;

  // A new object on every call.
  IClientLibraryInfoPtr GetClientLibraryInfo() const override;

 protected:
  // A new broker transport, owned by the caller alone until a connection takes
  // it.
  virtual std::shared_ptr<TZQAbstractTransport> CreateTransport() const = 0;

 private:
  std::shared_ptr<TZQConnection> MakeConnection(const std::string& UserName,
                                                const std::string& Password) const;

  std::string FClientID;
  std::string FPassword;
  std::string FUserName;
  // Never changed once made (SetBrokerURL makes a new one): every transport
  // made keeps it.
  IURIPtr FBrokerURL;
  int32_t FSendTimeout = -1;
  int32_t FConnectTimeout = 0;
  bool FApplyConnectTimeout = false;
};

}  // namespace velmor
