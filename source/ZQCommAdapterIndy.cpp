#include "ZQCommAdapterIndy.h"

#include <memory>

namespace velmor {

TZQCommAdapterIndy::TZQCommAdapterIndy() {
  Trace(std::string("Created a communication adapter: ") + ClassNameText);
}

IStompCommAdapterPtr TZQCommAdapterIndy::Create() {
  return std::make_shared<TZQCommAdapterIndy>();
}

}  // namespace velmor
