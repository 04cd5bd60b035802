// What the recorder's tests share: file access for reading recordings back, a
// clock moved by hand, counting-pattern blocks, and the receiver a recorder
// records from.
#pragma once

#include <atomic>
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

#include "device/device_library.h"
#include "panel/dialog_view.h"
#include "ports/host_link.h"
#include "ports/trace.h"
#include "receiver/control_record_link.h"
#include "receiver/receiver.h"
#include "recorder/recorder.h"
#include "simulator/counting_pattern.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_user_interface.h"
#include "tests/support/faulty_directory.h"
#include "tests/support/no_stream.h"
#include "tests/support/scratch_directory.h"

namespace halvorn::testing {

namespace fs = std::filesystem;

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

// The receiver a recorder under test records from, over the fake device and
// panel, and the scratch directory its files go to.
class RecordingReceiverFixture {
 protected:
  // The receiver takes its settings only from a library that is there.
  RecordingReceiverFixture() { device_.Load(); }

  // The user picks a rate on the panel while no stream runs.
  void ChooseRate(int row) { receiver_.SelectSampleRate(row, receiver::ChangedBy::kUser, no_stream_); }

  FakeUserInterface ui_;
  panel::DialogView view_{ui_};
  Trace trace_;
  HostLink host_{trace_, kCallHostDirectly};
  FakeDeviceLoader loader_;
  device::DeviceLibrary device_{loader_};
  receiver::ControlRecordLink record_{device_};
  receiver::Receiver receiver_{device_, record_, host_, ui_, view_, trace_};
  NoStream no_stream_;
  ScratchDirectory scratch_;
};

}  // namespace halvorn::testing
