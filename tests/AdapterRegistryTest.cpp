#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MessageOf.h"
#include "ZQAdapterRegistry.h"
#include "ZQCommAdapterBaseIndy.h"
#include "ZQCommAdapterIndy.h"
#include "ZQExceptions.h"

namespace velmor {
namespace {

using testing::MessageOf;

TAdapterClass BaseIndyClass() {
  return TAdapterClass{"TZQCommAdapterBaseIndy", [] { return std::make_shared<TZQCommAdapterBaseIndy>(); }};
}

TEST(AdapterRegistryTest, TheTcpAdapterIsTheDefaultFromTheStart) {
  EXPECT_GE(AdapterClassCount(), 1);
  EXPECT_EQ(AdapterRegistry().DefaultAdapterIndex(), 0);
  const IStompCommAdapterPtr adapter = CreateDefaultAdapter();
  ASSERT_NE(adapter, nullptr);
  EXPECT_EQ(adapter->GetClassName(), "TZQCommAdapterIndy");
  EXPECT_NO_THROW(CheckDefaultAdapter());
}

TEST(AdapterRegistryTest, EachCreatedAdapterIsANewObject) {
  const IStompCommAdapterPtr first = CreateDefaultAdapter();
  const IStompCommAdapterPtr second = CreateAdapter(0);
  EXPECT_NE(first, second);
  first->SetVersion(3);
  EXPECT_EQ(second->GetVersion(), 1);
}

TEST(AdapterRegistryTest, RegisteringTheTcpAdapterAgainIsRefusedAndChangesNothing) {
  const int32_t before = AdapterClassCount();
  EXPECT_EQ(MessageOf<EMQException>([] { RegisterAdapterClass(AdapterClassOf<TZQCommAdapterIndy>()); }),
            "Adapter class TZQCommAdapterIndy is already registered");
  EXPECT_EQ(AdapterClassCount(), before);
  EXPECT_EQ(AdapterRegistry().DefaultAdapterIndex(), 0);
}

TEST(AdapterRegistryTest, AnEmptyRegistryHasNoAdaptersToCreate) {
  TZQAdapterRegistry registry;
  EXPECT_EQ(registry.AdapterClassCount(), 0);
  EXPECT_EQ(registry.DefaultAdapterIndex(), -1);
  EXPECT_EQ(MessageOf<EMQException>([&] { registry.CreateDefaultAdapter(); }),
            "No adapter classes registered");
  EXPECT_EQ(MessageOf<EMQException>([&] { registry.CreateAdapter(0); }), "No adapter classes registered");
  EXPECT_EQ(MessageOf<EMQException>([&] { registry.CheckAdaptersRegistered(); }),
            "No adapter classes registered");
  EXPECT_EQ(MessageOf<EMQException>([&] { registry.CheckDefaultAdapter(); }),
            "No adapter classes registered");
}

TEST(AdapterRegistryTest, TheFirstClassRegisteredBecomesTheDefaultAndLaterOnesGetTheNextIndex) {
  TZQAdapterRegistry registry;
  registry.RegisterAdapterClass(AdapterClassOf<TZQCommAdapterIndy>());
  EXPECT_EQ(registry.DefaultAdapterIndex(), 0);
  registry.RegisterAdapterClass(BaseIndyClass());
  EXPECT_EQ(registry.AdapterClassCount(), 2);
  EXPECT_EQ(registry.DefaultAdapterIndex(), 0);
  EXPECT_EQ(registry.CreateAdapter(1)->GetClassName(), "TZQCommAdapterBaseIndy");
  EXPECT_EQ(registry.CreateDefaultAdapter()->GetClassName(), "TZQCommAdapterIndy");
}

TEST(AdapterRegistryTest, AnIndexOutsideTheListIsAListError) {
  TZQAdapterRegistry registry;
  registry.RegisterAdapterClass(AdapterClassOf<TZQCommAdapterIndy>());
  EXPECT_EQ(MessageOf<ERangeError>([&] { registry.CreateAdapter(1); }), "List index out of bounds (1)");
  EXPECT_EQ(MessageOf<ERangeError>([&] { registry.CreateAdapter(-1); }), "List index out of bounds (-1)");
}

TEST(AdapterRegistryTest, ADuplicateNameIsRefusedInAnyRegistry) {
  TZQAdapterRegistry registry;
  registry.RegisterAdapterClass(BaseIndyClass());
  EXPECT_EQ(MessageOf<EMQException>([&] { registry.RegisterAdapterClass(BaseIndyClass()); }),
            "Adapter class TZQCommAdapterBaseIndy is already registered");
  EXPECT_EQ(registry.AdapterClassCount(), 1);
}

}  // namespace
}  // namespace velmor
