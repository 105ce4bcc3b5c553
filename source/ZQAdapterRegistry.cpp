#include "ZQAdapterRegistry.h"

#include <algorithm>

#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"
#include "ZQText.h"

namespace velmor {

void TZQAdapterRegistry::RegisterAdapterClass(const TAdapterClass& AdapterClass) {
  Check(!AdapterClass.ClassName.empty() && AdapterClass.Create != nullptr, "ZQAdapterRegistry", __LINE__,
        "An adapter class needs a name and a constructor");
  const std::lock_guard<std::mutex> guard(FLock);
  const bool known =
      std::any_of(FAdapterClasses.begin(), FAdapterClasses.end(),
                  [&](const TAdapterClass& Entry) { return Entry.ClassName == AdapterClass.ClassName; });
  if (known)
    throw EMQException(Format("Adapter class %s is already registered", {AdapterClass.ClassName}));
  FAdapterClasses.push_back(AdapterClass);
  if (FDefaultAdapterIndex == -1)
    FDefaultAdapterIndex = 0;
}

int32_t TZQAdapterRegistry::AdapterClassCount() const {
  const std::lock_guard<std::mutex> guard(FLock);
  return static_cast<int32_t>(FAdapterClasses.size());
}

int32_t TZQAdapterRegistry::DefaultAdapterIndex() const {
  const std::lock_guard<std::mutex> guard(FLock);
  return FDefaultAdapterIndex;
}

void TZQAdapterRegistry::CheckAdaptersRegisteredLocked() const {
  if (FAdapterClasses.empty())
    throw EMQException("No adapter classes registered");
}

void TZQAdapterRegistry::CheckAdaptersRegistered() const {
  const std::lock_guard<std::mutex> guard(FLock);
  CheckAdaptersRegisteredLocked();
}

void TZQAdapterRegistry::CheckDefaultAdapter() const {
  const std::lock_guard<std::mutex> guard(FLock);
  CheckAdaptersRegisteredLocked();
  if (FDefaultAdapterIndex == -1)
    throw EMQException("No default adapter class defined");
}

IStompCommAdapterPtr TZQAdapterRegistry::CreateAdapter(int32_t Index) const {
  std::function<IStompCommAdapterPtr()> create;
  {
    const std::lock_guard<std::mutex> guard(FLock);
    CheckAdaptersRegisteredLocked();
    if (Index < 0 || static_cast<size_t>(Index) >= FAdapterClasses.size()) {
      throw ERangeError(Format("List index out of bounds (%d)", {int64_t{Index}}));
    }
    create = FAdapterClasses[static_cast<size_t>(Index)].Create;
  }
  return create();
}

IStompCommAdapterPtr TZQAdapterRegistry::CreateDefaultAdapter() const {
  CheckDefaultAdapter();
  return CreateAdapter(DefaultAdapterIndex());
}

TZQAdapterRegistry& AdapterRegistry() {
  static TZQAdapterRegistry registry;
  // Thread-safe once: the TCP adapter is the default before anyone can ask for an adapter.
  static const bool registered = [] {
    registry.RegisterAdapterClass(AdapterClassOf<TZQCommAdapterIndy>());
    return true;
  }();
  static_cast<void>(registered);
  return registry;
}

void RegisterAdapterClass(const TAdapterClass& AdapterClass) {
  AdapterRegistry().RegisterAdapterClass(AdapterClass);
}

int32_t AdapterClassCount() {
  return AdapterRegistry().AdapterClassCount();
}

IStompCommAdapterPtr CreateAdapter(int32_t Index) {
  return AdapterRegistry().CreateAdapter(Index);
}

IStompCommAdapterPtr CreateDefaultAdapter() {
  return AdapterRegistry().CreateDefaultAdapter();
}

void CheckAdaptersRegistered() {
  AdapterRegistry().CheckAdaptersRegistered();
}

void CheckDefaultAdapter() {
  AdapterRegistry().CheckDefaultAdapter();
}

}  // namespace velmor
