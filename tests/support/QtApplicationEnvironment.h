#pragma once

#include <gtest/gtest.h>
#include <QApplication>

#include <memory>
#include <string>

namespace velmor::testing {

// The Qt application of a widget test: made before the first test and ended after the last, before the
// process ends. Register it once per test program:
//   testing::AddGlobalTestEnvironment(new QtApplicationEnvironment("Orvane"));
class QtApplicationEnvironment final : public ::testing::Environment {
 public:
  explicit QtApplicationEnvironment(std::string Name) : FName(std::move(Name)) {}

  void SetUp() override {
    FArgv[0] = FName.data();
    FApplication = std::make_unique<QApplication>(FArgc, FArgv);
  }
  void TearDown() override { FApplication.reset(); }

 private:
  std::string FName;
  int FArgc = 1;
  char* FArgv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> FApplication;
};

}  // namespace velmor::testing
