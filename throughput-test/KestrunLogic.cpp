#include "KestrunLogic.h"

#include "ZQText.h"

namespace kestrun {

std::string SendButtonCaption(int32_t ThreadCount, int32_t MessageCount, int32_t PayloadLength) {
  if (ThreadCount == 1) {
    return velmor::Format("Send and receive %d messages (payload %d bytes)", {MessageCount, PayloadLength});
  }
  return velmor::Format("Create %d sender and receiver threads for %d messages each (payload %d bytes)",
                        {ThreadCount, MessageCount, PayloadLength});
}

std::string ResultText(uint32_t Rate) {
  return velmor::Format("%d msgs/s", {int64_t{Rate}});
}

std::string FailedRunLabel(const std::string& Server) {
  return Server.empty() ? "The log has errors" : Server + " - the log has errors";
}

std::string LibraryTitle(const velmor::IConnectionFactoryPtr& Factory) {
  const velmor::IClientLibraryInfoPtr Info =
      As<velmor::ILibraryInfoProvider>(Factory)->GetClientLibraryInfo();
  return Info->GetName() + " " + Info->GetVersion();
}

std::string ProbeBroker(const velmor::IConnectionFactoryPtr& Factory) {
  const velmor::IConnectionPtr Connection = Factory->CreateConnection();
  std::string Server;
  CloseAfter(Connection, [&] {
    Connection->Start();
    Server = As<velmor::IConnectionInfo>(Connection)->GetServer();
  });
  return Server;
}

bool NeedsProductionNote(const std::string& URL) {
  return URL.find("localhost") == std::string::npos;
}

double CompilerVersion() {
#if defined(__clang__)
  return __clang_major__ + __clang_minor__ / 10.0;
#elif defined(__GNUC__)
  return __GNUC__ + __GNUC_MINOR__ / 10.0;
#else
  return 0.0;
#endif
}

}  // namespace kestrun
