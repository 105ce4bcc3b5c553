#pragma once

#include <string>

#include "ZQMQInterfaces.h"

namespace velmor {

// What the library says about itself.
inline constexpr const char* ClientLibraryName = "Velmor STOMP Client for RabbitMQ";
inline constexpr const char* ClientLibraryVersion = "9.4";
inline constexpr const char* ClientLibraryCopyright = "Copyright (c) 2026 the Velmor STOMP Client developers";

// A name, a version, a copyright text and a property map (empty when made), none changed afterwards by
// the library. The map is handed out shared: whoever changes it changes it for all holders.
class TZQClientLibraryInfo final : public IClientLibraryInfo {
 public:
  TZQClientLibraryInfo(std::string Name, std::string Version, std::string Copyright);

  std::string GetName() const override { return FName; }
  std::string GetVersion() const override { return FVersion; }
  std::string GetCopyright() const override { return FCopyright; }
  IPrimitiveMapPtr GetProperties() const override { return FProperties; }

 private:
  std::string FCopyright;
  std::string FName;
  std::string FVersion;
  IPrimitiveMapPtr FProperties;
};

}  // namespace velmor
