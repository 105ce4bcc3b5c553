#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ZQCommInterfaces.h"
#include "ZQURI.h"

namespace velmor {

// The protocol end of one broker connection, reduced to what every STOMP connection has: the
// communication adapter it sits on and the credentials of CONNECT. TZQStompClient fills in Connect and
// Disconnect.
//
// Not thread-safe: one thread at a time. Neither copyable nor movable; subclasses are held by
// std::shared_ptr.
class TZQStompConnection {
 public:
  TZQStompConnection(const TZQStompConnection&) = delete;
  TZQStompConnection& operator=(const TZQStompConnection&) = delete;
  virtual ~TZQStompConnection();

  // Installs the adapter. Replacing an adapter that reports connected fails with EMQException;
  // clearing it (an empty argument) is never refused.
  void SetCommAdapter(const IStompCommAdapterPtr& Adapter);
  const IStompCommAdapterPtr& GetCommAdapter() const { return FCommAdapter; }

  // Hands the URL to the adapter; a user or password part of the URL replaces the credentials, empty
  // parts leave them as they were.
  virtual void SetURI(const IURIPtr& URI);
  virtual void Connect() = 0;
  virtual void Disconnect() = 0;

  // The adapter's state (the TCP connection with its CONNECTED answer), false without an adapter.
  bool IsConnected() const;
  // The URL last given to SetURI (through the adapter); empty without an adapter.
  IURIPtr GetURI() const;
  // Value of a broker URL option, letter case ignored; empty when absent or without an adapter.
  std::string GetParam(const std::string& Name) const;

  static constexpr int32_t DefaultStompPort() { return 61613; }

  // The "login", "passcode" and "client-id" headers of CONNECT ("client-id" also of DISCONNECT).
  void SetLogin(const std::string& Value) { FLogin = Value; }
  const std::string& GetLogin() const { return FLogin; }
  void SetPasscode(const std::string& Value) { FPasscode = Value; }
  const std::string& GetPasscode() const { return FPasscode; }
  void SetClientID(const std::string& Value) { FClientID = Value; }
  const std::string& GetClientID() const { return FClientID; }

 protected:
  TZQStompConnection() = default;

  // The installed adapter; raises EIllegalStateException when there is none.
  IStompCommAdapter& Adapter() const;

  // Progress texts of the operations; nothing is written anywhere.
  void Trace(std::string_view /*Text*/) const {}

  IStompCommAdapterPtr FCommAdapter;
  std::string FLogin;
  std::string FPasscode;
  std::string FClientID;
};

}  // namespace velmor
