#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQAbstractTransport.h"
#include "ZQMQInterfaces.h"

namespace velmor {

// What every connection has: the broker transport it owns, the connect and send time-outs, the started
// and closed states, and the outcome of the last connect attempt. Start connects the transport when it
// is not connected, then starts the sessions. Used by one thread at a time; no lock.
class TZQAbstractConnection : public IStartable {
 public:
  TZQAbstractConnection(const TZQAbstractConnection&) = delete;
  TZQAbstractConnection& operator=(const TZQAbstractConnection&) = delete;
  ~TZQAbstractConnection() override = default;

  // Connects the transport when it is not connected (again, when the broker closed it), then starts the
  // sessions not yet started; after a reconnect the sessions resume first. A consumer whose subscription
  // the broker refuses while they resume is closed, and the transport connects once more for the
  // others. A failed connect raises EMQException "The connection has failed due to a transport problem: "
  // and the failure's text (and " (ConnectTimeOut: %d msec)" when a connect time-out was applied).
  void Start() override;

  // A value different from the current one (0 at first) is applied to the next connect.
  void SetConnectTimeout(int32_t Milliseconds);
  int32_t GetConnectTimeout() const { return FConnectTimeout; }
  // The send time-out every producer of this connection's sessions hands to the socket (-1 = leave it).
  void SetSendTimeout(int32_t Milliseconds) { FSendTimeout = Milliseconds; }
  int32_t GetSendTimeout() const { return FSendTimeout; }

  const std::shared_ptr<TZQAbstractTransport>& GetTransport() const { return FTransport; }
  bool GetStarted() const { return FStarted; }
  bool GetClosed() const { return FClosed; }

 protected:
  explicit TZQAbstractConnection(std::shared_ptr<TZQAbstractTransport> Transport);

  virtual void StartSessions() = 0;
  virtual void CloseSessions() = 0;
  // After Start connected the transport again, once the connection it had was lost. False when the
  // broker refused a consumer's subscription, which ended this connection too (that consumer is closed).
  virtual bool ResumeSessions() = 0;
  // Before Start connects the transport again: keeps what the lost connection delivered that nobody
  // read yet. Raises nothing.
  virtual void KeepUnreadMessages() = 0;

  // One connect attempt of Start; a failure is stored for CheckState, not raised.
  void ConnectTransport();
  // "Connection is closed." once closed, then the stored failure of the last connect attempt.
  void CheckState() const;
  // EMQException "Connection is closed." once closed.
  void CheckNotClosed() const;

  bool FClosed = false;
  int32_t FConnectTimeout = 0;
  bool FApplyConnectTimeout = false;
  int32_t FSendTimeout = -1;
  bool FStarted = false;
  std::shared_ptr<TZQAbstractTransport> FTransport;
  bool FTransportFailed = false;
  std::string FTransportFailure;
  // Set by the first successful Start; a used connection takes no client id any more.
  bool FUsed = false;
  // The client's connection number the sessions were last started or resumed on: a Start that finds
  // another one resumes them (again, after a resume that failed).
  uint64_t FSessionsOn = 0;
};

}  // namespace velmor
