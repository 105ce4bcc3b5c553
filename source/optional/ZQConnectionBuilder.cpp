#include "ZQConnectionBuilder.h"

#include <algorithm>
#include <cstddef>

#include "ZQAbstractCommAdapter.h"
#include "ZQConnectionFactory.h"
#include "ZQExceptions.h"
#include "ZQText.h"
#include "ZQURI.h"

namespace velmor {

namespace {

constexpr const char* UnitName = "ZQConnectionBuilder";

// Two colons or more: an IPv6 address, which a URL must write in square brackets.
bool LooksLikeIPv6(const std::string& Host) {
  return std::count(Host.begin(), Host.end(), ':') >= 2 && Host.front() != '[';
}

bool NeedsQuotes(const std::string& Item) {
  if (!Item.empty() && Item.front() == '"')
    return true;
  return std::any_of(Item.begin(), Item.end(),
                     [](char C) { return C == '&' || C == '?' || IsBlankOrControl(C); });
}

// A host text goes into the URL as it is: "?" would begin options there, "@" credentials, "/" a path,
// and a blank or control character ends or breaks the URL. The text is not shown: it may hold a
// password.
void CheckHost(const std::string& Host) {
  for (const char C : Host) {
    if (C == '?' || C == '@' || C == '/')
      throw EIllegalArgumentException(
          Format("The broker host must not hold \"%s\"", {std::string_view(&C, 1)}));
    if (IsBlankOrControl(C))
      throw EIllegalArgumentException("The broker host must not hold a blank or control character");
  }
}

void AppendOption(std::string& Query, const std::string& Item) {
  Query += '&';
  Query += QuoteOptionItem(Item);
}

}  // namespace

std::string QuoteOptionItem(const std::string& Item) {
  if (!NeedsQuotes(Item))
    return Item;
  std::string quoted = "\"";
  for (const char C : Item) {
    if (C == '"')
      quoted += '"';
    quoted += C;
  }
  quoted += '"';
  return quoted;
}

IConnectionBuilderPtr TZQConnectionBuilder::Create(const std::string& HostOrURL) {
  return std::make_shared<TZQConnectionBuilder>(TToken{}, HostOrURL);
}

TZQConnectionBuilder::TZQConnectionBuilder(TToken, const std::string& HostOrURL) {
  if (HostOrURL.find("://") != std::string::npos) {
    const TZQURI uri(HostOrURL);
    const std::string port = uri.GetPort();
    if (!port.empty() && !TryStrToInt(port, FPort)) {
      if (MayHoldUserInformation(uri, port))
        throw EIllegalArgumentException("The port of the broker URL could not be read");
      throw EIllegalArgumentException(Format("'%s' is not a valid integer value", {port}));
    }
    FScheme = uri.GetProtocol();
    FHost = uri.GetHost();
    FIsIPv6 = uri.GetIsIPv6();
  } else {
    FHost = HostOrURL;
  }
  if (HostOrURL.empty())
    FHost = "localhost";
  CheckHost(FHost);
  FIsIPv6 = FIsIPv6 || LooksLikeIPv6(FHost);
}

std::string TZQConnectionBuilder::BuildURI() const {
  std::string url = FScheme + "://" + (FIsIPv6 ? "[" + FHost + "]" : FHost);
  if (FPort != DefaultPort)
    url += Format(":%d", {int64_t{FPort}});

  std::string query;
  if (FVersion12 || FVersion11 || FVersion10) {
    std::string versions;
    for (const auto& [set, text] : {std::pair{FVersion12, "1.2"}, {FVersion11, "1.1"}, {FVersion10, "1.0"}}) {
      if (!set)
        continue;
      if (!versions.empty())
        versions += ',';
      versions += text;
    }
    AppendOption(query, "connect.accept-version=" + versions);
  }
  if (FHeartBeatCX != 0 || FHeartBeatCY != 0)
    AppendOption(query, Format("connect.heart-beat=%d,%d", {int64_t{FHeartBeatCX}, int64_t{FHeartBeatCY}}));
  if (!FVirtualHost.empty())
    AppendOption(query, "connect.host=" + FVirtualHost);
  if (FDisconnectReceipt)
    AppendOption(query, "disconnect.receipt=true");
  if (FSendReceipt)
    AppendOption(query, "send.receipt=true");
  if (FSubscribeReceipt)
    AppendOption(query, "subscribe.receipt=true");
  for (const std::string& param : FParams)
    AppendOption(query, param);

  if (!query.empty())
    url += "?" + query.substr(1);
  return url;
}

IConnectionFactoryPtr TZQConnectionBuilder::MakeFactory() const {
  auto factory = std::make_shared<TZQConnectionFactory>(FUser, FPassword, BuildURI());
  factory->SetSendTimeout(FSendTimeout);
  return factory;
}

IConnectionPtr TZQConnectionBuilder::CreateConnection() {
  return MakeFactory()->CreateConnection();
}

IMQContextPtr TZQConnectionBuilder::CreateContext() {
  return MakeFactory()->CreateContext();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetPort(int32_t Port) {
  FPort = Port;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetUseSSL(bool Value) {
  FUseSSL = Value;
  if (Value)
    FScheme = "stomp+ssl";
  else if (FScheme == "stomp+ssl")
    FScheme = "stomp";
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetUser(const std::string& User) {
  FUser = User;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetPassword(const std::string& Password) {
  FPassword = Password;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetStompVersion(const std::string& Version) {
  if (Version == "1.2")
    FVersion12 = true;
  else if (Version == "1.1")
    FVersion11 = true;
  else if (Version == "1.0")
    FVersion10 = true;
  else
    throw EMQException(Format("Unknown Stomp version %s", {Version}));
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetHeartBeat(uint32_t CX, uint32_t CY) {
  FHeartBeatCX = CX;
  FHeartBeatCY = CY;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetVirtualHost(const std::string& VirtualHost) {
  FVirtualHost = VirtualHost;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetDisconnectReceipt(bool Value) {
  FDisconnectReceipt = Value;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetSendReceipt(bool Value) {
  FSendReceipt = Value;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetSubscribeReceipt(bool Value) {
  FSubscribeReceipt = Value;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::SetSendTimeout(int32_t Value) {
  FSendTimeout = Value;
  return shared_from_this();
}

IConnectionBuilderPtr TZQConnectionBuilder::AddParam(const std::string& Name, const std::string& Value) {
  Check(Name.find('=') == std::string::npos, UnitName, __LINE__);
  Check(Value.find('=') == std::string::npos, UnitName, __LINE__);
  const auto existing = std::find_if(FParams.begin(), FParams.end(), [&Name](const std::string& Line) {
    return SameTextAscii(OptionName(Line), Name);
  });
  if (Value.empty()) {
    if (existing != FParams.end())
      FParams.erase(existing);
  } else if (existing != FParams.end()) {
    *existing = Name + "=" + Value;
  } else {
    FParams.push_back(Name + "=" + Value);
  }
  return shared_from_this();
}

}  // namespace velmor
