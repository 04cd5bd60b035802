// A fresh directory for the running test, removed with everything in it
// afterwards, named after the test and the process.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace halvorn::testing {

namespace fs = std::filesystem;

class ScratchDirectory {
 public:
  ScratchDirectory() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "recorder";
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    // The process id keeps builds that run the same test at once apart.
    path_ = fs::temp_directory_path() / "halvorn-recorder-tests" / (name + "." + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

  // The names of the files in it, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

}  // namespace halvorn::testing
