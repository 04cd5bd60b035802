// A recording directory whose files fail at chosen steps, like a full or
// unwritable disk, over the platform's own.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "recorder/recording_file.h"

namespace halvorn::testing {

// Failures the faulty directory injects; tests change them while it is in use.
struct Faults {
  // Creations that succeed before every later one fails with create_error.
  std::atomic<int> creates_before_failure{-1};
  std::atomic<int> create_error{EACCES};
  // Bytes all files together may still take before a Write stops short with
  // write_error; negative: unlimited.
  std::atomic<long long> write_budget{-1};
  std::atomic<int> write_error{ENOSPC};
  std::atomic<bool> fail_write_at{false};
  std::atomic<bool> fail_truncate{false};
  std::atomic<int> creates{0};
  // While set, a Write waits: a thread caught in a write.
  std::atomic<bool> hold_writes{false};
  std::atomic<int> writes_held{0};
};

class FaultyFile final : public recorder::RecordingFile {
 public:
  FaultyFile(std::unique_ptr<recorder::RecordingFile> real, std::shared_ptr<Faults> faults)
      : real_(std::move(real)), faults_(std::move(faults)) {}

  std::size_t Write(const std::uint8_t* data, std::size_t bytes) override {
    if (faults_->hold_writes) {
      ++faults_->writes_held;
      while (faults_->hold_writes) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    long long budget = faults_->write_budget.load();
    if (budget < 0 || static_cast<std::size_t>(budget) >= bytes) {
      if (budget >= 0) faults_->write_budget -= static_cast<long long>(bytes);
      return real_->Write(data, bytes);
    }
    faults_->write_budget = 0;
    const std::size_t written = real_->Write(data, static_cast<std::size_t>(budget));
    error_ = {faults_->write_error.load()};
    return written;
  }
  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t bytes) override {
    if (faults_->fail_write_at) {
      error_ = {EIO};
      return false;
    }
    return real_->WriteAt(offset, data, bytes);
  }
  bool Truncate(std::uint64_t length) override {
    if (faults_->fail_truncate) {
      error_ = {EPERM};
      return false;
    }
    return real_->Truncate(length);
  }
  bool Close() override { return real_->Close(); }
  recorder::FileError error() const override { return error_.code != 0 ? error_ : real_->error(); }

 private:
  std::unique_ptr<recorder::RecordingFile> real_;
  std::shared_ptr<Faults> faults_;
  recorder::FileError error_;
};

class FaultyDirectory final : public recorder::RecordingDirectory {
 public:
  FaultyDirectory(const std::filesystem::path& path, std::shared_ptr<Faults> faults)
      : real_(recorder::MakePlatformRecordingDirectory(path.string())), faults_(std::move(faults)) {}

  Created CreateNew(const char* name) override {
    const int allowed = faults_->creates_before_failure.load();
    if (allowed >= 0 && faults_->creates.load() >= allowed) {
      Created failed;
      failed.error = {faults_->create_error.load()};
      return failed;
    }
    Created created = real_->CreateNew(name);
    if (created.file) {
      ++faults_->creates;
      created.file = std::make_unique<FaultyFile>(std::move(created.file), faults_);
    }
    return created;
  }
  bool Remove(const char* name) override { return real_->Remove(name); }
  std::string PathOf(const char* name) const override { return real_->PathOf(name); }
  std::string Describe(recorder::FileError error) const override { return real_->Describe(error); }

 private:
  std::unique_ptr<recorder::RecordingDirectory> real_;
  std::shared_ptr<Faults> faults_;
};

}  // namespace halvorn::testing
