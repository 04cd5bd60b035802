// A recording directory that remembers the order of the files it made.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/recording_file.h"

namespace halvorn::testing {

// A directory that remembers the files it created, in order.
class OrderedDirectory final : public recorder::RecordingDirectory {
 public:
  explicit OrderedDirectory(std::unique_ptr<recorder::RecordingDirectory> inner) : inner_(std::move(inner)) {}

  Created CreateNew(const char* name) override {
    Created created = inner_->CreateNew(name);
    if (created.status == CreateStatus::kCreated) {
      std::lock_guard lock(mutex_);
      created_.emplace_back(name);
    }
    return created;
  }
  bool Remove(const char* name) override {
    {
      std::lock_guard lock(mutex_);
      removed_.emplace_back(name);
    }
    return inner_->Remove(name);
  }
  std::string PathOf(const char* name) const override { return inner_->PathOf(name); }
  std::string Describe(recorder::FileError error) const override { return inner_->Describe(error); }

  std::vector<std::string> created() const {
    std::lock_guard lock(mutex_);
    return created_;
  }
  std::vector<std::string> removed() const {
    std::lock_guard lock(mutex_);
    return removed_;
  }

 private:
  std::unique_ptr<recorder::RecordingDirectory> inner_;
  mutable std::mutex mutex_;
  std::vector<std::string> created_;
  std::vector<std::string> removed_;
};

}  // namespace halvorn::testing
