// A fresh directory per test case, named after the test, below the working
// directory (the process's scratch directory from the test main), so that the
// cases of one binary never share a log or fixture file. The directory is
// recreated empty on entry; TearDown returns to the working directory.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace brisktest {

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised names
    home_ = std::filesystem::current_path();
    dir_ = home_ / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override { std::filesystem::current_path(home_); }

  std::filesystem::path home_, dir_;
};

}  // namespace brisktest
