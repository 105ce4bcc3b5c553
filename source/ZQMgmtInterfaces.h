#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ZQTypes.h"

namespace velmor {

// An ordered list of name/value pairs with typed access; holds message properties and map bodies.
// Every value is kept as text: a Boolean as "true"/"false", an integer as its decimal text, and any getter
// reads any value through its text. Names are compared exactly (case-sensitive). Missing names and
// malformed values never raise: the getters give "", false or 0.
class IPrimitiveMap {
 public:
  virtual ~IPrimitiveMap() = default;

  // Removes every item.
  virtual void Clear() = 0;
  // True when an item of exactly that name exists, also when its value is empty.
  virtual bool ItemExists(const std::string& Name) const = 0;
  // All names, in the order in which they were first set.
  virtual PMStrings GetNames() const = 0;
  // True only for the exact text "true".
  virtual bool GetBoolean(const std::string& Name) const = 0;
  virtual void SetBoolean(const std::string& Name, bool Value) = 0;
  // The text read as a signed 32-bit integer; 0 when absent or not an integer.
  virtual int32_t GetInt(const std::string& Name) const = 0;
  virtual void SetInt(const std::string& Name, int32_t Value) = 0;
  // The stored text; empty when absent.
  virtual std::string GetString(const std::string& Name) const = 0;
  // Overwrites an existing item in place (it keeps its position), else appends one.
  virtual void SetString(const std::string& Name, const std::string& Value) = 0;
};

using IPrimitiveMapPtr = std::shared_ptr<IPrimitiveMap>;

}  // namespace velmor
