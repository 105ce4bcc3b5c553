#include "ZQMessageConsumerList.h"

#include <algorithm>

#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

int32_t TZQMessageConsumerList::Add(const IMessageConsumerPtr& Consumer) {
  FList.push_back(Consumer);
  return static_cast<int32_t>(FList.size()) - 1;
}

int32_t TZQMessageConsumerList::Remove(const IMessageConsumerPtr& Consumer) {
  const auto found = std::find(FList.begin(), FList.end(), Consumer);
  if (found == FList.end())
    return -1;
  const auto index = static_cast<int32_t>(found - FList.begin());
  FList.erase(found);
  return index;
}

bool TZQMessageConsumerList::Contains(const IMessageConsumerPtr& Consumer) const {
  return std::find(FList.begin(), FList.end(), Consumer) != FList.end();
}

IMessageConsumerPtr TZQMessageConsumerList::GetItem(int32_t Index) const {
  if (Index < 0 || Index >= GetCount()) {
    throw EIllegalArgumentException(Format("List index out of bounds (%d)", {int64_t{Index}}));
  }
  return FList[static_cast<std::size_t>(Index)];
}

}  // namespace velmor
