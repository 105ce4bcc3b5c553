#include "ZQStompConnection.h"

#include "ZQExceptions.h"

namespace velmor {

TZQStompConnection::~TZQStompConnection() {
  if (FCommAdapter) {
    FCommAdapter->SetOnConnected(nullptr);
    FCommAdapter->SetOnFrame(nullptr);
  }
}

void TZQStompConnection::SetCommAdapter(const IStompCommAdapterPtr& Adapter) {
  if (Adapter && FCommAdapter && FCommAdapter->IsConnected()) {
    throw EMQException("Changing the CommAdapter is not supported when the connection is active");
  }
  // The old adapter's handlers point at this connection; they must not outlive the link.
  if (FCommAdapter && FCommAdapter != Adapter) {
    FCommAdapter->SetOnConnected(nullptr);
    FCommAdapter->SetOnFrame(nullptr);
  }
  FCommAdapter = Adapter;
}

void TZQStompConnection::SetURI(const IURIPtr& URI) {
  Adapter().Init(URI);
  // A failover URL read as one broker URL shows its first entry's user information; each entry's own
  // credentials are applied when that broker is tried.
  if (URI && URI->GetProtocol().rfind("failover:", 0) != 0) {
    if (const std::string user = URI->GetUser(); !user.empty()) {
      FLogin = user;
    }
    if (const std::string password = URI->GetPassword(); !password.empty()) {
      FPasscode = password;
    }
  }
}

bool TZQStompConnection::IsConnected() const {
  return FCommAdapter && FCommAdapter->IsConnected();
}

IURIPtr TZQStompConnection::GetURI() const {
  return FCommAdapter ? FCommAdapter->GetURI() : IURIPtr();
}

std::string TZQStompConnection::GetParam(const std::string& Name) const {
  return FCommAdapter ? FCommAdapter->GetParam(Name) : std::string();
}

IStompCommAdapter& TZQStompConnection::Adapter() const {
  if (!FCommAdapter) {
    throw EIllegalStateException("No communication adapter installed");
  }
  return *FCommAdapter;
}

}  // namespace velmor
