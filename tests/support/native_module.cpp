#include "tests/support/native_module.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace halvorn::testing {

std::string NewJournalPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "journal";
  for (char& c : test) {
    if (c == '/') c = '_';
  }
  const auto directory = std::filesystem::temp_directory_path() / "halvorn-journals";
  std::filesystem::create_directories(directory);
  const auto path = directory / (test + "." + name + ".log");
  std::filesystem::remove(path);
  return path.string();
}

}  // namespace halvorn::testing
