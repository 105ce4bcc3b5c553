#include "ZQAbstractConnection.h"

#include <exception>
#include <utility>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

TZQAbstractConnection::TZQAbstractConnection(std::shared_ptr<TZQAbstractTransport> Transport)
    : FTransport(std::move(Transport)) {
  if (!FTransport) {
    throw EIllegalArgumentException("A connection needs a transport");
  }
}

void TZQAbstractConnection::SetConnectTimeout(int32_t Milliseconds) {
  if (Milliseconds != FConnectTimeout) {
    FConnectTimeout = Milliseconds;
    FApplyConnectTimeout = true;
  }
}

void TZQAbstractConnection::CheckNotClosed() const {
  if (FClosed) {
    throw EMQException("Connection is closed.");
  }
}

void TZQAbstractConnection::CheckState() const {
  CheckNotClosed();
  if (FTransportFailed) {
    throw EMQException(FTransportFailure);
  }
}

void TZQAbstractConnection::Start() {
  CheckNotClosed();
  // Each round that ends with a refused subscription closes that consumer, so the rounds end.
  for (;;) {
    if (!FTransport->IsConnected())
      ConnectTransport();
    CheckState();
    FUsed = true;
    const uint64_t connection = FTransport->GetConnectionNumber();
    if (FSessionsOn != 0 && connection != FSessionsOn && !ResumeSessions())
      continue;
    FSessionsOn = connection;
    break;
  }
  StartSessions();
  FStarted = true;
}

void TZQAbstractConnection::ConnectTransport() {
  if (FSessionsOn != 0)
    KeepUnreadMessages();
  FTransportFailed = false;
  FTransportFailure.clear();
  try {
    if (FApplyConnectTimeout) {
      const IStompCommAdapterPtr& adapter = FTransport->GetCommAdapter();
      if (!adapter) {
        throw EIllegalStateException("No communication adapter");
      }
      adapter->SetConnectTimeout(FConnectTimeout);
      adapter->SetUseConnectTimeout(true);
    }
    FTransport->Connect();
  } catch (const std::exception& Error) {
    FTransportFailed = true;
    FTransportFailure = std::string("The connection has failed due to a transport problem: ") + Error.what();
    if (FApplyConnectTimeout) {
      FTransportFailure += Format(" (ConnectTimeOut: %d msec)", {int64_t{FConnectTimeout}});
    }
  }
}

}  // namespace velmor
