// What the recorder's tests share: a scratch directory per test, file access
// for reading recordings back, a clock moved by hand, counting-pattern blocks,
// and a recording directory that makes chosen steps fail like a full or
// unwritable disk.
#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include "device/device_library.h"
#include "panel/dialog_view.h"
#include "ports/host_link.h"
#include "ports/trace.h"
#include "receiver/control_record_link.h"
#include "receiver/receiver.h"
#include "recorder/recorder.h"
#include "recorder/recording_file.h"
#include "simulator/counting_pattern.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_user_interface.h"

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

inline std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8 |
         static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16 |
         static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

inline std::int64_t I64At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | bytes.at(offset + static_cast<std::size_t>(i));
  return static_cast<std::int64_t>(value);
}

// A finished recording: both sizes agree with the file's length.
inline void ExpectFinished(const fs::path& path) {
  const auto bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 90u) << path;
  EXPECT_EQ(U32At(bytes, 4), bytes.size() - 8) << path;
  EXPECT_EQ(U32At(bytes, 86), bytes.size() - 90) << path;
}

// The frames libsndfile finds in a recording; -1 when it cannot open it.
inline long long SndfileFrames(const fs::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return -1;
  sf_close(file);
  return static_cast<long long>(info.frames);
}

// The sample bytes of a recording: everything after its 90-byte header.
inline std::vector<std::uint8_t> SampleBytes(const fs::path& path) {
  auto bytes = ReadBytes(path);
  bytes.erase(bytes.begin(), bytes.begin() + std::min<std::size_t>(90, bytes.size()));
  return bytes;
}

constexpr std::size_t kBlockBytes = 6144;
constexpr int kBlockPairs = 1024;

// Pairs first_pair .. first_pair + 1023 of the counting pattern.
inline std::vector<std::uint8_t> CountingBlock(std::uint64_t first_pair) {
  std::vector<std::uint8_t> block(kBlockBytes);
  for (int i = 0; i < kBlockPairs; ++i) simulator::WriteCountingPair(first_pair + i, &block[i * 6]);
  return block;
}

// Waits, a millisecond at a time, for what the recording's writing thread
// does on its own; false when it has not happened within `timeout_ms`.
template <typename Predicate>
bool Eventually(Predicate predicate, int timeout_ms = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class ManualClock {
 public:
  explicit ManualClock(std::int64_t now) : now_(now) {}
  void Set(std::int64_t now) { now_ = now; }
  void Advance(std::int64_t seconds) { now_ += seconds; }
  // Every reading moves the clock on by `step` seconds after it is taken.
  void set_step(std::int64_t step) { step_ = step; }
  recorder::UtcClock AsClock() {
    return [this] { return now_.fetch_add(step_.load()); };
  }

 private:
  std::atomic<std::int64_t> now_;
  std::atomic<std::int64_t> step_{0};
};

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
  FaultyDirectory(const fs::path& path, std::shared_ptr<Faults> faults)
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

// The receiver a recorder under test records from, over the fake device and
// panel, and the scratch directory its files go to.
class RecordingReceiverFixture {
 protected:
  FakeUserInterface ui_;
  panel::DialogView view_{ui_};
  Trace trace_;
  HostLink host_{trace_};
  FakeDeviceLoader loader_;
  device::DeviceLibrary device_{loader_};
  receiver::ControlRecordLink record_{device_};
  receiver::Receiver receiver_{device_, record_, host_, ui_, view_, trace_};
  ScratchDirectory scratch_;
};

}  // namespace halvorn::testing
