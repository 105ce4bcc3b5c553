#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "CaseName.h"
#include "ZQPrimitiveMap.h"

namespace velmor {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

TEST(PrimitiveMapTest, NewMapHasNoNames) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  EXPECT_TRUE(map->GetNames().empty());
  EXPECT_FALSE(map->ItemExists("a"));
  EXPECT_FALSE(map->ItemExists(""));
}

TEST(PrimitiveMapTest, KeepsFirstSetOrderAndOverwritesInPlace) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("a", "1");
  map->SetString("b", "2");
  map->SetString("a", "3");
  EXPECT_EQ(map->GetNames(), (PMStrings{"a", "b"}));
  EXPECT_EQ(map->GetString("a"), "3");
  EXPECT_EQ(map->GetString("b"), "2");
}

TEST(PrimitiveMapTest, BooleanTrueReadsAsTextTrueAndAsIntegerZero) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetBoolean("flag", true);
  EXPECT_EQ(map->GetString("flag"), "true");
  EXPECT_EQ(map->GetInt("flag"), 0);
  EXPECT_TRUE(map->GetBoolean("flag"));
  map->SetBoolean("flag", false);
  EXPECT_EQ(map->GetString("flag"), "false");
  EXPECT_FALSE(map->GetBoolean("flag"));
}

TEST(PrimitiveMapTest, IntegersAreStoredAsDecimalText) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetInt("n", -42);
  EXPECT_EQ(map->GetString("n"), "-42");
  EXPECT_EQ(map->GetInt("n"), -42);
  map->SetInt("n", INT32_MIN);
  EXPECT_EQ(map->GetString("n"), "-2147483648");
  EXPECT_EQ(map->GetInt("n"), INT32_MIN);
  map->SetInt("n", 7);
  EXPECT_EQ(map->GetString("n"), "7");
}

TEST(PrimitiveMapTest, TypesShareOneNamespace) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("x", "hello");
  map->SetInt("x", 5);
  EXPECT_EQ(map->GetString("x"), "5");
  map->SetBoolean("x", true);
  EXPECT_EQ(map->GetNames(), (PMStrings{"x"}));
  EXPECT_EQ(map->GetString("x"), "true");
}

TEST(PrimitiveMapTest, NamesDifferingOnlyInCaseAreSeparateItems) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("Name", "upper");
  map->SetString("name", "lower");
  EXPECT_EQ(map->GetNames(), (PMStrings{"Name", "name"}));
  EXPECT_EQ(map->GetString("Name"), "upper");
  EXPECT_EQ(map->GetString("name"), "lower");
  EXPECT_FALSE(map->ItemExists("NAME"));
}

TEST(PrimitiveMapTest, NamesAreNotTrimmed) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString(" a ", "spaced");
  EXPECT_TRUE(map->ItemExists(" a "));
  EXPECT_FALSE(map->ItemExists("a"));
  EXPECT_EQ(map->GetString("a"), "");
}

TEST(PrimitiveMapTest, ClearRemovesEveryItem) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("a", "1");
  map->SetInt("b", 2);
  map->Clear();
  EXPECT_TRUE(map->GetNames().empty());
  EXPECT_FALSE(map->ItemExists("a"));
  EXPECT_FALSE(map->ItemExists("b"));
  map->SetString("b", "again");
  EXPECT_EQ(map->GetNames(), (PMStrings{"b"}));
}

TEST(PrimitiveMapTest, AbsentNameReadsAsDefaultsButIsNotAnItem) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("empty", "");
  EXPECT_EQ(map->GetString("absent"), "");
  EXPECT_FALSE(map->GetBoolean("absent"));
  EXPECT_EQ(map->GetInt("absent"), 0);
  EXPECT_FALSE(map->ItemExists("absent"));
  EXPECT_EQ(map->GetString("empty"), "");
  EXPECT_TRUE(map->ItemExists("empty"));
}

TEST(PrimitiveMapTest, EmptyNameIsAnOrdinaryName) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("", "nameless");
  EXPECT_TRUE(map->ItemExists(""));
  EXPECT_EQ(map->GetString(""), "nameless");
}

struct BooleanText {
  const char* Text;
  bool Expected;
};

class PrimitiveMapBooleanTest : public TestWithParam<BooleanText> {};

TEST_P(PrimitiveMapBooleanTest, ReadsTrueOnlyForLowerCaseTrue) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("b", GetParam().Text);
  EXPECT_EQ(map->GetBoolean("b"), GetParam().Expected) << '"' << GetParam().Text << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, PrimitiveMapBooleanTest,
                         Values(BooleanText{"true", true}, BooleanText{"True", false},
                                BooleanText{"TRUE", false}, BooleanText{"1", false},
                                BooleanText{"yes", false}, BooleanText{" true", false},
                                BooleanText{"true ", false}, BooleanText{"", false},
                                BooleanText{"false", false}),
                         testing::ByText);

struct IntegerText {
  const char* Text;
  int32_t Expected;
};

class PrimitiveMapIntegerTest : public TestWithParam<IntegerText> {};

TEST_P(PrimitiveMapIntegerTest, ReadsTextByTheIntegerRule) {
  const IPrimitiveMapPtr map = TPrimitiveMap::Create();
  map->SetString("i", GetParam().Text);
  EXPECT_EQ(map->GetInt("i"), GetParam().Expected) << '"' << GetParam().Text << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, PrimitiveMapIntegerTest,
                         Values(IntegerText{"42", 42}, IntegerText{"-42", -42}, IntegerText{"+7", 7},
                                IntegerText{"  12", 12}, IntegerText{"0042", 42}, IntegerText{"$1F", 31},
                                IntegerText{"0x10", 16}, IntegerText{"2147483647", INT32_MAX},
                                IntegerText{"-2147483648", INT32_MIN}, IntegerText{"2147483648", 0},
                                IntegerText{"12a", 0}, IntegerText{"12 ", 0}, IntegerText{"abc", 0},
                                IntegerText{"", 0}, IntegerText{"1.5", 0}, IntegerText{"true", 0}),
                         testing::ByText);

}  // namespace
}  // namespace velmor
