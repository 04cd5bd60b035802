// What the reliability tests check a session against, natively and under
// Wine alike: the receiver's arithmetic as a host sees it, the counting
// pattern as a recording stores it, the simulator's journal read as it
// grows, the host's side of a session (a callback that follows the counting
// pattern stream by stream and can act from inside the delivery thread), a
// reader of finished recordings, and a watchdog for steps that do not come
// back. The 16-bit rounding and the file layout here are written apart from
// the recorder's code, so that the two cannot share a mistake.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/device_abi.h"
#include "simulator/counting_pattern.h"
#include "tests/support/journal.h"

namespace halvorn::reliability {

namespace fs = std::filesystem;


inline constexpr int kBlockPairs = 1024;
inline constexpr int kTwoMegaRow = 4;
inline constexpr std::size_t kHeaderBytes = 90;

// The nine rows as a host and a recording see them.
inline constexpr std::int32_t kRatesHz[9] = {125000, 250000, 500000, 1000000, 2000000, 95238, 48077, 96154, 192308};
inline constexpr int kPacketsPerTransfer[9] = {1, 2, 4, 8, 16, 1, 1, 1, 2};
inline constexpr const char* kBitstreams[9] = {
    "halvorn125k24v21", "halvorn250k24v21", "halvorn500k24v21", "halvorn1m24v21",  "halvorn2m24v21",
    "halvorn95k24v31",  "halvorn48k24v31",  "halvorn96k24v31",  "halvorn192k24v31"};

inline constexpr const char* kBitstreamMessage =
    "FPGA configuration file not found\nPlease check installation and retry";
inline constexpr const char* kLibraryMessage = "halvornusb.dll not found";

// ---- Arithmetic a host can check the receiver against ------------------------

inline std::uint32_t ExpectedNcoWord(std::int32_t lo_hz, std::int32_t clock_hz) {
  const double quotient = static_cast<double>(lo_hz) * 4294967296.0 / static_cast<double>(clock_hz);
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(quotient));
}

inline int ExpectedBand(std::int32_t frequency_hz) {
  static constexpr std::int32_t kLimits[] = {1700000, 2100000, 3000000, 4200000, 6000000,
                                             8400000, 12000000, 17000000, 24000000, 32000000};
  for (int band = 0; band < 10; ++band) {
    if (frequency_hz < kLimits[band]) return band;
  }
  return 10;
}

// The clock a calibration leads to, or nothing when the plug-in must leave the
// clock alone: no whole kilohertz to put the signal on, or a clock that is not
// a positive 32-bit number of hertz.
inline std::optional<std::int32_t> ExpectedCalibratedClock(std::int32_t tuned_hz, std::int32_t clock_hz) {
  const double khz = std::floor(static_cast<double>(tuned_hz) * 0.001 + 0.5);
  if (khz == 0.0) return std::nullopt;
  const double clock = ((khz * 1000.0) / static_cast<double>(tuned_hz)) * static_cast<double>(clock_hz);
  if (!(clock >= 1.0 && clock < 2147483648.0)) return std::nullopt;
  return static_cast<std::int32_t>(clock);
}

// ---- The counting pattern as a recording stores it ---------------------------

inline std::int32_t Signed24(std::uint32_t raw) {
  raw &= 0xFFFFFFu;
  return raw >= 0x800000u ? static_cast<std::int32_t>(raw) - 0x1000000 : static_cast<std::int32_t>(raw);
}

// A 24-bit component divided by 256, rounded to nearest with halves upward;
// the 128 largest would give 32768 and are kept at 32767.
inline std::int16_t Rounded16(std::int32_t component) {
  return static_cast<std::int16_t>(std::min((component + 128) >> 8, 32767));
}

inline int StoredPairBytes(int row) { return row == kTwoMegaRow ? 4 : 6; }

// The bytes a recording at `row` holds for counting pair k.
inline void StoreCountingPair(std::uint64_t k, int row, std::uint8_t* out) {
  if (row != kTwoMegaRow) {
    simulator::WriteCountingPair(k, out);
    return;
  }
  const std::int16_t first = Rounded16(Signed24(static_cast<std::uint32_t>(k)));
  const std::int16_t second = Rounded16(Signed24(static_cast<std::uint32_t>(k >> 24)));
  for (int i = 0; i < 2; ++i) {
    const auto value = static_cast<std::uint16_t>(i == 0 ? first : second);
    out[2 * i] = static_cast<std::uint8_t>(value);
    out[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
  }
}

// ---- The simulator's journal, read as it grows -------------------------------------

class JournalFollower {
 public:
  explicit JournalFollower(std::string path) : path_(std::move(path)) {}

  // The complete lines written since the last call.
  std::vector<testing::JournalLine> NewLines() {
    std::vector<testing::JournalLine> lines;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return lines;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string text;
    while (std::getline(in, text)) {
      if (in.eof()) break;  // no newline yet: the line is still being written
      offset_ += text.size() + 1;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (text.empty()) continue;
      lines.push_back(testing::JournalLine::Parse(text));
    }
    return lines;
  }

 private:
  std::string path_;
  std::size_t offset_ = 0;
};

// ---- The host -----------------------------------------------------------------------

// Work a host does from inside its callback, on the delivery thread.
struct CallbackAction {
  std::function<void()> work;
  std::atomic<bool> done{false};
};

// The host's callback: it follows the counting pattern stream by stream (a
// stream starts at pair 0), keeps the status calls, and runs an armed action
// from inside the next sample block's call.
class HostSide {
 public:
  static HostSide& Instance() {
    static HostSide host;
    return host;
  }
  static void HALVORN_CDECL Callback(std::int32_t count, std::int32_t status, float iq_offset, void* data) {
    Instance().OnCall(count, status, iq_offset, data);
  }

  void Reset() {
    std::lock_guard lock(mutex_);
    statuses_.clear();
    faults_.clear();
    in_stream_ = false;
    resync_ = false;
    next_pair_ = 0;
    streams_ = 0;
    missing_pairs_ = 0;
    blocks_ = 0;
    block_delay_us_ = 0;
  }

  // Call before registering the callback again: blocks went by unseen.
  void Resync() {
    std::lock_guard lock(mutex_);
    resync_ = true;
  }
  // A slow host: every block's call takes at least this long.
  void SetBlockDelay(int microseconds) { block_delay_us_ = microseconds; }

  // Runs `action` inside the next block's call. False when no block came
  // within `timeout`; the action has then not run and never will. `idle`
  // runs while waiting: a host with windows pumps its messages there, since
  // the action may wait for its window thread.
  bool RunInCallback(CallbackAction& action, std::chrono::milliseconds timeout,
                     const std::function<void()>& idle = [] {
                       std::this_thread::sleep_for(std::chrono::microseconds(200));
                     }) {
    action.done = false;
    armed_.store(&action, std::memory_order_release);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!action.done.load(std::memory_order_acquire)) {
      if (std::chrono::steady_clock::now() > deadline) {
        CallbackAction* expected = &action;
        if (armed_.compare_exchange_strong(expected, nullptr)) return false;
        // Taken just now: it runs; wait for it.
        while (!action.done.load(std::memory_order_acquire)) idle();
        return true;
      }
      idle();
    }
    return true;
  }

  std::vector<int> TakeStatuses() {
    std::lock_guard lock(mutex_);
    std::vector<int> taken;
    taken.swap(statuses_);
    return taken;
  }
  std::vector<std::string> faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
  }
  std::uint64_t blocks() const { return blocks_.load(std::memory_order_acquire); }
  std::uint64_t streams() const {
    std::lock_guard lock(mutex_);
    return streams_;
  }
  std::uint64_t missing_pairs() const {
    std::lock_guard lock(mutex_);
    return missing_pairs_;
  }

 private:
  void OnCall(std::int32_t count, std::int32_t status, float iq_offset, void* data) {
    if (count < 0) {
      std::lock_guard lock(mutex_);
      if (count != -1 || iq_offset != 0.0f || data != nullptr) {
        faults_.push_back("status call " + std::to_string(status) + " with count " + std::to_string(count));
      }
      statuses_.push_back(status);
      return;
    }
    const auto* block = static_cast<const std::uint8_t*>(data);
    {
      std::lock_guard lock(mutex_);
      if (count != kBlockPairs || status != 0 || iq_offset != 0.0f || block == nullptr) {
        faults_.push_back("malformed block call: count " + std::to_string(count) + ", status " +
                          std::to_string(status));
      } else {
        Follow(block);
      }
    }
    blocks_.fetch_add(1, std::memory_order_acq_rel);
    if (const int delay = block_delay_us_.load(); delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
    if (CallbackAction* action = armed_.exchange(nullptr, std::memory_order_acq_rel)) {
      action->work();
      action->done.store(true, std::memory_order_release);
    }
  }

  void Follow(const std::uint8_t* block) {
    const std::uint64_t first = simulator::ReadCountingPair(block);
    for (int i = 1; i < kBlockPairs; ++i) {
      if (simulator::ReadCountingPair(block + i * simulator::kPairBytes) != first + static_cast<std::uint64_t>(i)) {
        faults_.push_back("torn block: pair " + std::to_string(i) + " of the block from pair " +
                          std::to_string(first) + " does not follow");
        return;
      }
    }
    if (first % kBlockPairs != 0) {
      faults_.push_back("block from pair " + std::to_string(first) + " is not on a block boundary");
    }
    if (first == 0) {
      ++streams_;
    } else if (!in_stream_ || resync_) {
      // Joined a stream whose earlier blocks this host did not see.
    } else if (first >= next_pair_) {
      missing_pairs_ += first - next_pair_;
    } else {
      faults_.push_back("block from pair " + std::to_string(first) + " repeats or goes back (next was " +
                        std::to_string(next_pair_) + ")");
    }
    in_stream_ = true;
    resync_ = false;
    next_pair_ = first + kBlockPairs;
  }

  mutable std::mutex mutex_;
  std::vector<int> statuses_;
  std::vector<std::string> faults_;
  bool in_stream_ = false;
  bool resync_ = false;
  std::uint64_t next_pair_ = 0;
  std::uint64_t streams_ = 0;
  std::uint64_t missing_pairs_ = 0;
  std::atomic<std::uint64_t> blocks_{0};
  std::atomic<int> block_delay_us_{0};
  std::atomic<CallbackAction*> armed_{nullptr};
};

// ---- Recordings -------------------------------------------------------------------

inline std::vector<std::uint8_t> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct StoredFile {
  std::string name;
  std::vector<std::uint8_t> bytes;

  std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8); }
  std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
  }
  std::string Code(std::size_t at) const { return std::string(bytes.begin() + at, bytes.begin() + at + 4); }
  std::int32_t row() const { return static_cast<std::int32_t>(U32(48)); }
  std::int32_t lo_hz() const { return static_cast<std::int32_t>(U32(44)); }
};

// What one recording (its files in the order they were made) holds.
struct RecordingContents {
  std::vector<StoredFile> files;
  std::uint64_t blocks = 0;
  // Pairs skipped forward inside one stream: blocks the ring dropped.
  std::uint64_t skipped_pairs = 0;
};

// Every file finished (the chunk layout a WAV reader walks, both sizes
// telling its true length, the format of its row), whole blocks only, and
// the blocks, across the files in order, the stored form of the counting
// pattern: each block follows the one before it, starts a new stream at pair
// 0, or skips whole blocks forward.
// `torn_end`: the last file may end inside a block, on a whole pair, as a
// recording cut short by a failed write does.
inline ::testing::AssertionResult ReadRecording(const fs::path& directory, const std::vector<std::string>& names,
                                                RecordingContents& out, bool torn_end = false) {
  std::optional<std::uint64_t> next_pair;
  for (const std::string& name : names) {
    const bool last_file = &name == &names.back();
    StoredFile file{name, ReadWholeFile(directory / name)};
    const std::size_t length = file.bytes.size();
    if (length < kHeaderBytes) return ::testing::AssertionFailure() << name << ": " << length << " bytes, no header";
    if (file.Code(0) != "RIFF" || file.Code(8) != "WAVE" || file.Code(12) != "fmt " || file.U32(16) != 16 ||
        file.Code(36) != "rcvr" || file.U32(40) != 38 || file.Code(82) != "data" || file.bytes[65] != 1) {
      return ::testing::AssertionFailure() << name << ": not the recording layout";
    }
    if (file.U32(4) != length - 8 || file.U32(86) != length - kHeaderBytes) {
      return ::testing::AssertionFailure() << name << ": RIFF size " << file.U32(4) << " and data size "
                                           << file.U32(86) << " for a file of " << length << " bytes";
    }
    const int row = file.row();
    if (row < 0 || row > 8) return ::testing::AssertionFailure() << name << ": row " << row;
    const int pair_bytes = StoredPairBytes(row);
    const std::uint16_t bits = row == kTwoMegaRow ? 16 : 24;
    if (file.U16(20) != 1 || file.U16(22) != 2 || file.U32(24) != static_cast<std::uint32_t>(kRatesHz[row]) ||
        file.U16(34) != bits || file.U16(32) != pair_bytes ||
        file.U32(28) != static_cast<std::uint32_t>(kRatesHz[row]) * static_cast<std::uint32_t>(pair_bytes)) {
      return ::testing::AssertionFailure() << name << ": format does not fit row " << row;
    }
    const std::size_t block_bytes = static_cast<std::size_t>(kBlockPairs) * static_cast<std::size_t>(pair_bytes);
    const std::size_t data_bytes = length - kHeaderBytes;
    if (data_bytes % static_cast<std::size_t>(pair_bytes) != 0 ||
        (data_bytes % block_bytes != 0 && !(torn_end && last_file))) {
      return ::testing::AssertionFailure() << name << ": " << data_bytes << " data bytes are not whole blocks of "
                                           << block_bytes;
    }
    // At 16 bits a stored pair names its counting index only modulo 2^24.
    const std::uint64_t modulus = row == kTwoMegaRow ? (std::uint64_t{1} << 24) : (std::uint64_t{1} << 48);
    std::vector<std::uint8_t> expected(block_bytes);
    for (std::size_t block = 0; block * block_bytes < data_bytes; ++block) {
      const std::uint8_t* stored = file.bytes.data() + kHeaderBytes + block * block_bytes;
      const std::size_t pairs = std::min(block_bytes, data_bytes - block * block_bytes) / static_cast<std::size_t>(pair_bytes);
      std::uint64_t key;
      if (row == kTwoMegaRow) {
        const auto first = static_cast<std::int16_t>(stored[0] | stored[1] << 8);
        key = static_cast<std::uint32_t>(static_cast<std::int32_t>(first) * 256) & 0xFFFFFFu;
      } else {
        key = simulator::ReadCountingPair(stored);
      }
      std::uint64_t k = key;
      if (next_pair) {
        const std::uint64_t expected_key = *next_pair % modulus;
        if (key == expected_key) {
          k = *next_pair;
        } else if (key != 0) {
          const std::uint64_t skipped = (key + modulus - expected_key) % modulus;
          // Half the range forward is taken for a step back: no stream here
          // drops millions of pairs at once.
          if (skipped >= modulus / 2) {
            return ::testing::AssertionFailure() << name << ": block " << block << " starts at pair " << key
                                                 << ", a block repeated or out of order after pair " << *next_pair;
          }
          if (skipped % kBlockPairs != 0) {
            return ::testing::AssertionFailure() << name << ": block " << block << " starts at pair " << key
                                                 << ", not on a block boundary after pair " << *next_pair;
          }
          out.skipped_pairs += skipped;
          k = *next_pair + skipped;
        }
      }
      for (std::size_t pair = 0; pair < pairs; ++pair) {
        StoreCountingPair(k + pair, row, expected.data() + pair * static_cast<std::size_t>(pair_bytes));
      }
      if (!std::equal(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(pairs * static_cast<std::size_t>(pair_bytes)), stored)) {
        return ::testing::AssertionFailure() << name << ": block " << block
                                             << " is not the stored form of the counting pairs from " << k;
      }
      next_pair = k + kBlockPairs;
      if (pairs == kBlockPairs) ++out.blocks;
    }
    out.files.push_back(std::move(file));
  }
  return ::testing::AssertionSuccess();
}

// ---- The device fault matrix ------------------------------------------------------------

// A host's session in the order it runs; each point is one entry point call or
// one panel handler, with the receiver and the stream in the state the points
// before it left (a rate change left pending before each load of a bitstream).
enum Point {
  kInitHW,
  kOpenHW,
  kSetHWLO,
  kStartHW,
  kAttenuatorClick,
  kDitherClick,
  kPreampClick,
  kPreselectorOffClick,
  kPreselectorOnClick,
  kCalibrateClick,
  kRateClick,
  kRecClick,
  kTimerTick,
  kStopClick,
  kStopHW,
  kRestartHW,
  kInitHWWhileStreaming,
  kStartHWAgain,
  kCloseHWWhileStreaming,
  kPointCount
};

constexpr const char* kPointNames[kPointCount] = {
    "InitHW",           "OpenHW",          "SetHWLO",       "StartHW",          "0dB->20dB click",
    "Dither click",     "Preamp click",    "Presel off",    "Presel on",        "Clk Calib click",
    "rate click",       "Rec click",       "timer tick",    "Stop click",       "StopHW",
    "StartHW again",    "InitHW streaming", "StartHW 3rd",  "CloseHW streaming"};

// What the user sees when the entry fails or is missing at a point.
enum Seen { kNotCalled, kSilent, kShowsBitstreamMessage, kInitHWFails };

struct EntryCalls {
  const char* entry;
  std::vector<std::pair<Point, Seen>> calls;  // every other point does not call it
};

// The matrix: where the plug-in calls each entry in the session above, and
// the one visible effect of its failure there. Everything else is silent.
inline const std::vector<EntryCalls> kCalls = {
    {"Open", {{kInitHW, kInitHWFails}, {kInitHWWhileStreaming, kInitHWFails}}},
    {"Close", {{kCloseHWWhileStreaming, kSilent}}},
    {"FirmwareDownload", {{kInitHW, kInitHWFails}, {kInitHWWhileStreaming, kInitHWFails}}},
    {"FpgaConfig",
     {{kOpenHW, kShowsBitstreamMessage},
      {kSetHWLO, kShowsBitstreamMessage},
      {kStartHW, kShowsBitstreamMessage},
      {kCalibrateClick, kShowsBitstreamMessage},
      {kRestartHW, kShowsBitstreamMessage}}},
    {"GetDeviceName", {}},
    {"GetFriendlyDeviceName", {}},
    {"SetAttenuator", {{kOpenHW, kSilent}, {kAttenuatorClick, kSilent}}},
    {"SetPreselector",
     {{kOpenHW, kSilent},
      {kSetHWLO, kSilent},
      {kStartHW, kSilent},
      {kPreselectorOffClick, kSilent},
      {kPreselectorOnClick, kSilent},
      {kCalibrateClick, kSilent},
      {kRestartHW, kSilent},
      {kStartHWAgain, kSilent}}},
    {"Sio",
     {{kOpenHW, kSilent},
      {kSetHWLO, kSilent},
      {kStartHW, kSilent},
      {kDitherClick, kSilent},
      {kPreampClick, kSilent},
      {kCalibrateClick, kSilent},
      {kStopHW, kSilent},
      {kRestartHW, kSilent},
      {kInitHWWhileStreaming, kSilent},
      {kStartHWAgain, kSilent},
      {kCloseHWWhileStreaming, kSilent}}},
    {"GetInputData", {}},
    {"StartAsyncInput", {{kStartHW, kSilent}, {kRestartHW, kSilent}, {kStartHWAgain, kSilent}}},
    {"StopAsyncInput", {{kStopHW, kSilent}, {kInitHWWhileStreaming, kSilent}, {kCloseHWWhileStreaming, kSilent}}},
    {"EepromRead", {}},
    {"EepromWrite", {}},
    {"GetDLLVersion", {}},
};

inline const EntryCalls& CallsOf(const std::string& entry) {
  for (const EntryCalls& row : kCalls) {
    if (entry == row.entry) return row;
  }
  throw std::out_of_range(entry);
}

inline Seen SeenAt(const EntryCalls& row, Point point) {
  for (const auto& [at, seen] : row.calls) {
    if (at == point) return seen;
  }
  return kNotCalled;
}

enum class Mode { kMissing, kFailing };

// One cell of the matrix as a run found it.
struct Cell {
  std::string entry;
  Mode mode;
  Point point;
  Seen expected;
  std::vector<std::string> shown;
};

inline std::string Render(const std::vector<Cell>& cells) {
  static constexpr const char* kSymbols[] = {"-", ".", "M", "F"};
  std::string text = "Device faults, point by point (- not called, . silent, M bitstream message, F InitHW false):\n";
  char line[256];
  std::snprintf(line, sizeof line, "%-22s %-8s", "entry", "mode");
  text += line;
  for (int p = 0; p < kPointCount; ++p) text += " " + std::to_string(p % 10);
  text += "\n";
  std::map<std::pair<std::string, Mode>, std::string> rows;
  for (const Cell& cell : cells) {
    std::string& row = rows[{cell.entry, cell.mode}];
    if (row.empty()) {
      for (int p = 0; p < kPointCount; ++p) row += " -";
    }
    row[static_cast<std::size_t>(cell.point) * 2 + 1] = kSymbols[cell.expected][0];
  }
  for (const auto& [key, row] : rows) {
    std::snprintf(line, sizeof line, "%-22s %-8s", key.first.c_str(), key.second == Mode::kMissing ? "missing" : "failing");
    text += line + row + "\n";
  }
  text += "points: ";
  for (int p = 0; p < kPointCount; ++p) text += std::to_string(p) + " " + kPointNames[p] + (p + 1 < kPointCount ? ", " : "\n");
  return text;
}

// ---- The watchdog --------------------------------------------------------------------

// Fails the run when one step does not return within the bound: prints what
// was running and the steps before it, and aborts, since a hung step cannot
// be unwound.
class Watchdog {
 public:
  Watchdog(std::string what, std::chrono::seconds bound) : what_(std::move(what)), bound_(bound) {
    thread_ = std::thread([this] { Watch(); });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Begin(int step, std::string description) {
    std::lock_guard lock(mutex_);
    recent_.push_back("#" + std::to_string(step) + " " + std::move(description));
    if (recent_.size() > 24) recent_.pop_front();
    started_ = std::chrono::steady_clock::now();
    in_step_ = true;
  }
  void End() {
    std::lock_guard lock(mutex_);
    in_step_ = false;
  }
  std::string Recent() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& step : recent_) text += "  " + step + "\n";
    return text;
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      wake_.wait_for(lock, std::chrono::milliseconds(200));
      if (in_step_ && std::chrono::steady_clock::now() - started_ > bound_) {
        std::fprintf(stderr, "\nWATCHDOG: %s: a step did not return within %lld s. Last steps:\n", what_.c_str(),
                     static_cast<long long>(bound_.count()));
        for (const auto& step : recent_) std::fprintf(stderr, "  %s\n", step.c_str());
        std::fflush(stderr);
        std::abort();
      }
    }
  }

  const std::string what_;
  const std::chrono::seconds bound_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> recent_;
  std::chrono::steady_clock::time_point started_;
  bool in_step_ = false;
  bool stop_ = false;
  std::thread thread_;
};

// ---- Sanitizers ---------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace halvorn::reliability
