#pragma once

#include <string>

namespace velmor::testing {

// The text of the E that Call raises, or "<nothing raised>" when it raises nothing. Any other exception
// passes through and fails the test.
template <typename E, typename F>
std::string MessageOf(F&& Call) {
  try {
    Call();
  } catch (const E& error) {
    return error.what();
  }
  return "<nothing raised>";
}

}  // namespace velmor::testing
