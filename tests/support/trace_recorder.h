// Keeps every trace text, for tests that check what the plug-in reported.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ports/trace.h"

namespace halvorn::testing {

class TraceRecorder : public TraceSink {
 public:
  void Write(const char* text) override {
    std::lock_guard lock(mutex_);
    texts_.emplace_back(text);
  }
  std::vector<std::string> texts() {
    std::lock_guard lock(mutex_);
    return texts_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    texts_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
};

}  // namespace halvorn::testing
