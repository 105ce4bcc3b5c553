#include "ZQConsumerID.h"

#include <utility>

#include "ZQTransactionContext.h"

namespace velmor {

TZQConsumerID::TZQConsumerID(std::string ID) : FID(ID.empty() ? NewGUIDText() : std::move(ID)) {}

}  // namespace velmor
