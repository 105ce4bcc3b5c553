#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../ZQMQInterfaces.h"

namespace velmor {

class IConnectionBuilder;
using IConnectionBuilderPtr = std::shared_ptr<IConnectionBuilder>;

// Composes a broker URL with the options the STOMP client understands and creates connections or
// contexts with it. Every setter returns the builder itself, so calls chain.
class IConnectionBuilder {
 public:
  virtual ~IConnectionBuilder() = default;

  // A new, unstarted connection made through a factory of its own that logs in with the user name and
  // password given to the builder.
  virtual IConnectionPtr CreateConnection() = 0;
  // A new simplified context, made the same way.
  virtual IMQContextPtr CreateContext() = 0;
  // The broker URL. User name and password never appear in it.
  virtual std::string BuildURI() const = 0;
  virtual IConnectionBuilderPtr SetPort(int32_t Port) = 0;
  virtual IConnectionBuilderPtr SetUseSSL(bool Value) = 0;
  virtual IConnectionBuilderPtr SetUser(const std::string& User) = 0;
  virtual IConnectionBuilderPtr SetPassword(const std::string& Password) = 0;
  // Offers one more protocol version: "1.0", "1.1" or "1.2" exactly; EMQException
  // "Unknown Stomp version <text>" otherwise.
  virtual IConnectionBuilderPtr SetStompVersion(const std::string& Version) = 0;
  // The heart-beat intervals in ms; both 0 ask for none.
  virtual IConnectionBuilderPtr SetHeartBeat(uint32_t CX, uint32_t CY) = 0;
  virtual IConnectionBuilderPtr SetVirtualHost(const std::string& VirtualHost) = 0;
  virtual IConnectionBuilderPtr SetDisconnectReceipt(bool Value) = 0;
  virtual IConnectionBuilderPtr SetSendReceipt(bool Value) = 0;
  virtual IConnectionBuilderPtr SetSubscribeReceipt(bool Value) = 0;
  // The factory's send time-out in ms for what the builder creates.
  virtual IConnectionBuilderPtr SetSendTimeout(int32_t Value) = 0;
  // Sets a further URL option: replaces the first option of that name (letter case ignored), appends
  // it when there is none, removes it when Value is empty. Neither text may hold "=".
  virtual IConnectionBuilderPtr AddParam(const std::string& Name, const std::string& Value) = 0;
};

class TZQConnectionBuilder final : public IConnectionBuilder,
                                   public std::enable_shared_from_this<TZQConnectionBuilder> {
  struct TToken {};

 public:
  static constexpr int32_t DefaultPort = 61613;

  // HostOrURL is a host name or address ("localhost" when empty), or a broker URL whose scheme, host and
  // port are taken over; a URL port that is not an integer, and a host that holds "?", "@", "/", a
  // blank or a control character raise EIllegalArgumentException, whose text never shows a part of
  // the URL's user information.
  static IConnectionBuilderPtr Create(const std::string& HostOrURL);

  TZQConnectionBuilder(TToken, const std::string& HostOrURL);

  IConnectionPtr CreateConnection() override;
  IMQContextPtr CreateContext() override;
  std::string BuildURI() const override;
  IConnectionBuilderPtr SetPort(int32_t Port) override;
  IConnectionBuilderPtr SetUseSSL(bool Value) override;
  IConnectionBuilderPtr SetUser(const std::string& User) override;
  IConnectionBuilderPtr SetPassword(const std::string& Password) override;
  IConnectionBuilderPtr SetStompVersion(const std::string& Version) override;
  IConnectionBuilderPtr SetHeartBeat(uint32_t CX, uint32_t CY) override;
  IConnectionBuilderPtr SetVirtualHost(const std::string& VirtualHost) override;
  IConnectionBuilderPtr SetDisconnectReceipt(bool Value) override;
  IConnectionBuilderPtr SetSendReceipt(bool Value) override;
  IConnectionBuilderPtr SetSubscribeReceipt(bool Value) override;
  IConnectionBuilderPtr SetSendTimeout(int32_t Value) override;
  IConnectionBuilderPtr AddParam(const std::string& Name, const std::string& Value) override;

 private:
  IConnectionFactoryPtr MakeFactory() const;

  std::string FScheme = "stomp";
  std::string FHost;
  // True when the host is an IPv6 address, written in square brackets.
  bool FIsIPv6 = false;
  int32_t FPort = DefaultPort;
  bool FUseSSL = false;
  std::string FUser;
  std::string FPassword;
  bool FVersion10 = false;
  bool FVersion11 = false;
  bool FVersion12 = false;
  uint32_t FHeartBeatCX = 0;
  uint32_t FHeartBeatCY = 0;
  std::string FVirtualHost;
  bool FDisconnectReceipt = false;
  bool FSendReceipt = false;
  bool FSubscribeReceipt = false;
  int32_t FSendTimeout = 0;
  // Further options, each "name=value", in the order they were added.
  std::vector<std::string> FParams;
};

// One option item as a URL query holds it: "Name=Value", in double quotes (inner quotes doubled) when
// the option-list splitter would otherwise cut it or strip it, or the query would be cut at it, i.e.
// when it holds a blank, a control character, "&" or "?", or begins with a double quote.
std::string QuoteOptionItem(const std::string& Item);

}  // namespace velmor
