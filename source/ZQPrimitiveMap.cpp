#include "ZQPrimitiveMap.h"

#include <cstddef>
#include <utility>

#include "ZQText.h"

namespace velmor {

int TPrimitiveMap::IndexOf(const std::string& Name) const {
  for (std::size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i].Name == Name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TPrimitiveMap::SetValue(const std::string& Name, std::string Value) {
  const int index = IndexOf(Name);
  if (index < 0) {
    FItems.push_back(TPrimitiveMapItem{Name, std::move(Value)});
  } else {
    FItems[static_cast<std::size_t>(index)].Value = std::move(Value);
  }
}

void TPrimitiveMap::Clear() {
  FItems.clear();
}

bool TPrimitiveMap::ItemExists(const std::string& Name) const {
  return IndexOf(Name) >= 0;
}

PMStrings TPrimitiveMap::GetNames() const {
  PMStrings names;
  names.reserve(FItems.size());
  for (const TPrimitiveMapItem& item : FItems) {
    names.push_back(item.Name);
  }
  return names;
}

bool TPrimitiveMap::GetBoolean(const std::string& Name) const {
  return GetString(Name) == "true";
}

void TPrimitiveMap::SetBoolean(const std::string& Name, bool Value) {
  SetValue(Name, Value ? "true" : "false");
}

int32_t TPrimitiveMap::GetInt(const std::string& Name) const {
  return StrToIntDef(GetString(Name), 0);
}

void TPrimitiveMap::SetInt(const std::string& Name, int32_t Value) {
  SetValue(Name, std::to_string(Value));
}

std::string TPrimitiveMap::GetString(const std::string& Name) const {
  const int index = IndexOf(Name);
  return index < 0 ? std::string() : FItems[static_cast<std::size_t>(index)].Value;
}

void TPrimitiveMap::SetString(const std::string& Name, const std::string& Value) {
  SetValue(Name, Value);
}

}  // namespace velmor
