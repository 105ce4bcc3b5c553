#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velmor {

// A parsed broker address: scheme "://" [user [":" password] "@"] host [":" port] ["?" options].
// IPv6 hosts are written in square brackets. Filled when created and only read afterwards; no lock.
class IURI {
 public:
  virtual ~IURI() = default;

  virtual std::string GetHost() const = 0;
  virtual bool GetIsIPv6() const = 0;
  // The query: the URL options joined by "&".
  virtual std::string GetParams() const = 0;
  virtual std::string GetPassword() const = 0;
  // Always empty: the path of a broker URL is dropped.
  virtual std::string GetPath() const = 0;
  // The port as written (not converted, not validated).
  virtual std::string GetPort() const = 0;
  virtual void SetPort(const std::string& Port) = 0;
  virtual std::string GetProtocol() const = 0;
  virtual std::string GetUser() const = 0;
  // Replaces every part by those of URI. Never raises: a text that does not fit leaves parts empty.
  virtual void Parse(const std::string& URI) = 0;
  // The whole text last given to Parse.
  virtual std::string GetURI() const = 0;
};

using IURIPtr = std::shared_ptr<IURI>;

class TZQURI final : public IURI {
 public:
  explicit TZQURI(const std::string& URI = std::string());

  static IURIPtr Create(const std::string& URI) { return std::make_shared<TZQURI>(URI); }

  std::string GetHost() const override { return FHost; }
  bool GetIsIPv6() const override { return FIsIPv6; }
  std::string GetParams() const override { return FParams; }
  std::string GetPassword() const override { return FPassword; }
  std::string GetPath() const override { return FPath; }
  std::string GetPort() const override { return FPort; }
  void SetPort(const std::string& Port) override { FPort = Port; }
  std::string GetProtocol() const override { return FProtocol; }
  std::string GetUser() const override { return FUser; }
  void Parse(const std::string& URI) override;
  std::string GetURI() const override { return FURI; }

 private:
  std::string FProtocol;
  std::string FURI;
  std::string FPort;
  std::string FPath;
  std::string FHost;
  bool FIsIPv6 = false;
  std::string FUser;
  std::string FPassword;
  std::string FParams;
};

// Parses URL; when it names no port, the port becomes the decimal text of DefaultPort.
IURIPtr CreateURI(const std::string& URL, int32_t DefaultPort);

// Whether Part, a piece of the URL's text after "://" (its host, port or an option), may hold the URL's
// user information or a piece of it, so that an error text must not show it. A user name or password
// that holds "@", "?" or "/" is split into the host, the port or the options; so every part that does
// not lie wholly after the last "@" that may end the user information is suspect. An "@" in an
// option's value is part of that value and ends none, unless a "?" follows it in that option. False for
// an empty part and for a URL without such an "@".
bool MayHoldUserInformation(const IURI& URI, std::string_view Part);

}  // namespace velmor
