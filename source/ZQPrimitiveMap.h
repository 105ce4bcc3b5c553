#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ZQMgmtInterfaces.h"
#include "ZQTypes.h"

namespace velmor {

struct TPrimitiveMapItem {
  std::string Name;
  std::string Value;
};

using TPrimitiveMapItems = std::vector<TPrimitiveMapItem>;

// The primitive map: items in first-set order, found by a linear scan with exact name comparison.
// Belongs to one message, producer or library-information object and is used by its thread; no lock.
class TPrimitiveMap final : public IPrimitiveMap {
 public:
  static IPrimitiveMapPtr Create() { return std::make_shared<TPrimitiveMap>(); }

  void Clear() override;
  bool ItemExists(const std::string& Name) const override;
  PMStrings GetNames() const override;
  bool GetBoolean(const std::string& Name) const override;
  void SetBoolean(const std::string& Name, bool Value) override;
  int32_t GetInt(const std::string& Name) const override;
  void SetInt(const std::string& Name, int32_t Value) override;
  std::string GetString(const std::string& Name) const override;
  void SetString(const std::string& Name, const std::string& Value) override;

  // SetString taking the value over.
  void SetString(const std::string& Name, std::string&& Value) { SetValue(Name, std::move(Value)); }
  // Room for Count items in all.
  void Reserve(std::size_t Count) { FItems.reserve(Count); }

  // The items themselves, in first-set order, for reading them all in one pass.
  const TPrimitiveMapItems& GetItems() const { return FItems; }

 private:
  // Index of the item named exactly Name; -1 when there is none.
  int IndexOf(const std::string& Name) const;
  // The one write: overwrites in place, else appends.
  void SetValue(const std::string& Name, std::string Value);

  TPrimitiveMapItems FItems;
};

}  // namespace velmor
