#include "ZQExceptions.h"

namespace velmor {

EAssertionFailed::EAssertionFailed(const std::string& text, const char* unit, int line)
    : EVelmorError(text + " (" + unit + ", line " + std::to_string(line) + ")") {}

}  // namespace velmor
