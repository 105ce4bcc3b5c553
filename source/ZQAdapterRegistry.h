#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ZQCommInterfaces.h"

namespace velmor {

// An adapter class as the registry knows it: its class name and how to create a new adapter of it.
struct TAdapterClass {
  std::string ClassName;
  std::function<IStompCommAdapterPtr()> Create;
};

// The entry for an adapter class T that has ClassNameText and a static Create.
template <typename T>
TAdapterClass AdapterClassOf() {
  return TAdapterClass{T::ClassNameText, &T::Create};
}

// A list of adapter classes with a default index. Safe to use from several threads (one mutex).
class TZQAdapterRegistry final {
 public:
  // An empty registry: no classes, default index -1.
  TZQAdapterRegistry() = default;
  TZQAdapterRegistry(const TZQAdapterRegistry&) = delete;
  TZQAdapterRegistry& operator=(const TZQAdapterRegistry&) = delete;

  // Appends the class; the first one registered becomes the default. A class name already in the list
  // raises EMQException "Adapter class %s is already registered" and nothing changes.
  void RegisterAdapterClass(const TAdapterClass& AdapterClass);
  int32_t AdapterClassCount() const;
  // -1 until the first registration, 0 afterwards.
  int32_t DefaultAdapterIndex() const;
  // A new adapter of the class at Index; ERangeError "List index out of bounds (%d)" outside the list.
  IStompCommAdapterPtr CreateAdapter(int32_t Index) const;
  IStompCommAdapterPtr CreateDefaultAdapter() const;
  // EMQException "No adapter classes registered" when the list is empty.
  void CheckAdaptersRegistered() const;
  // CheckAdaptersRegistered, then EMQException "No default adapter class defined" without a default.
  void CheckDefaultAdapter() const;

 private:
  void CheckAdaptersRegisteredLocked() const;

  mutable std::mutex FLock;
  std::vector<TAdapterClass> FAdapterClasses;
  int32_t FDefaultAdapterIndex = -1;
};

// The process-wide registry. Its first use registers TZQCommAdapterIndy, which so is the default
// adapter class before anything can create an adapter (a static link cannot drop the registration).
TZQAdapterRegistry& AdapterRegistry();

// The operations of the process-wide registry.
void RegisterAdapterClass(const TAdapterClass& AdapterClass);
int32_t AdapterClassCount();
IStompCommAdapterPtr CreateAdapter(int32_t Index);
IStompCommAdapterPtr CreateDefaultAdapter();
void CheckAdaptersRegistered();
void CheckDefaultAdapter();

}  // namespace velmor
