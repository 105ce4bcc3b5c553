#include "ZQClientLibraryInfo.h"

#include <utility>

#include "ZQPrimitiveMap.h"

namespace velmor {

TZQClientLibraryInfo::TZQClientLibraryInfo(std::string Name, std::string Version, std::string Copyright)
    : FCopyright(std::move(Copyright)),
      FName(std::move(Name)),
      FVersion(std::move(Version)),
      FProperties(TPrimitiveMap::Create()) {}

}  // namespace velmor
