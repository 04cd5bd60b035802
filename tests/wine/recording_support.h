// Recording through the real DLL as a user does it: the panel's own "Rec" and
// "Stop" clicked in a current directory of the test's own, a copy of every
// block the host received, and readers of the files left behind. The readers
// and the 16-bit rounding here are written apart from the recorder's code, so
// that the two cannot share a mistake.
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panel/control_ids.h"
#include "simulator/counting_pattern.h"
#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {

inline constexpr int kPairsPerBlock = 1024;
inline constexpr int kHostPairBytes = 6;
inline constexpr std::size_t kHostBlockBytes = kPairsPerBlock * kHostPairBytes;
inline constexpr std::size_t kHeaderBytes = 90;
inline constexpr int kTwoMegaRow = 4;
inline constexpr std::int32_t kTestLoHz = 7050000;

using panel::kFileNameField;
using panel::kFileSizeField;
using panel::kFirstRateButton;
using panel::kRecButton;
using panel::kRecordingTimeField;
using panel::kStopButton;

// ---- What a recording must hold for what the host received ----------------

// The signed value of a 24-bit component, least significant byte first.
inline std::int32_t Component24(const std::uint8_t* bytes) {
  const std::uint32_t raw = bytes[0] | (bytes[1] << 8) | (static_cast<std::uint32_t>(bytes[2]) << 16);
  return raw >= 0x800000u ? static_cast<std::int32_t>(raw) - 0x1000000 : static_cast<std::int32_t>(raw);
}

// v / 256 rounded to the nearest integer, a half upward; the 128 largest
// components would give 32768 and are kept at 32767.
inline std::int16_t Rounded16(std::int32_t v) {
  const std::int32_t shifted = v + 128;
  const std::int32_t floor_quotient = shifted >= 0 ? shifted / 256 : -((-shifted + 255) / 256);
  return static_cast<std::int16_t>(std::min<std::int32_t>(floor_quotient, 32767));
}

inline int StoredPairBytes(int row) { return row == kTwoMegaRow ? 4 : 6; }
inline std::size_t StoredBlockBytes(int row) { return static_cast<std::size_t>(kPairsPerBlock) * StoredPairBytes(row); }

// The bytes a recording at `row` holds for one pair the host received.
inline void StorePair(const std::uint8_t* host_pair, int row, std::uint8_t* out) {
  if (row != kTwoMegaRow) {
    std::memcpy(out, host_pair, kHostPairBytes);
    return;
  }
  for (int component = 0; component < 2; ++component) {
    const auto value = static_cast<std::uint16_t>(Rounded16(Component24(host_pair + 3 * component)));
    out[2 * component] = static_cast<std::uint8_t>(value & 0xFF);
    out[2 * component + 1] = static_cast<std::uint8_t>(value >> 8);
  }
}

inline std::vector<std::uint8_t> StoreBlock(const std::uint8_t* host_block, int row) {
  std::vector<std::uint8_t> stored(StoredBlockBytes(row));
  for (int pair = 0; pair < kPairsPerBlock; ++pair) {
    StorePair(host_block + pair * kHostPairBytes, row, stored.data() + pair * StoredPairBytes(row));
  }
  return stored;
}

// ---- The blocks the host received -------------------------------------------

// Copies every block the host callback gets between Start and Stop, on the
// delivery thread, into memory set aside beforehand. One window per capture:
// its blocks are exactly the host's, in order, with none left out.
class HostBlockCapture {
 public:
  explicit HostBlockCapture(std::size_t capacity_blocks)
      : capacity_(capacity_blocks), bytes_(new std::uint8_t[capacity_blocks * kHostBlockBytes]) {}
  HostBlockCapture(const HostBlockCapture&) = delete;
  HostBlockCapture& operator=(const HostBlockCapture&) = delete;

  void Attach(host::CallbackRecorder& callback) { callback.SetBlockObserver(&HostBlockCapture::Observe, this); }
  void Start() { armed_.store(true, std::memory_order_release); }
  void Stop() { armed_.store(false, std::memory_order_release); }

  std::size_t blocks() const { return count_.load(std::memory_order_acquire); }
  bool overflowed() const { return overflowed_.load(std::memory_order_acquire); }
  const std::uint8_t* block(std::size_t index) const { return bytes_.get() + index * kHostBlockBytes; }

 private:
  static void Observe(const std::uint8_t* block, void* self_pointer) {
    auto& self = *static_cast<HostBlockCapture*>(self_pointer);
    if (!self.armed_.load(std::memory_order_acquire)) return;
    const std::size_t count = self.count_.load(std::memory_order_relaxed);
    if (count == self.capacity_) {
      self.overflowed_.store(true, std::memory_order_release);
      return;
    }
    std::memcpy(self.bytes_.get() + count * kHostBlockBytes, block, kHostBlockBytes);
    self.count_.store(count + 1, std::memory_order_release);
  }

  const std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::atomic<bool> armed_{false};
  std::atomic<std::size_t> count_{0};
  std::atomic<bool> overflowed_{false};
};

// ---- Reading a recording back ---------------------------------------------

struct StoredRecording {
  std::string name;
  std::vector<std::uint8_t> bytes;

  std::uint16_t U16(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
  }
  std::uint32_t U32(std::size_t offset) const {
    return static_cast<std::uint32_t>(U16(offset)) | (static_cast<std::uint32_t>(U16(offset + 2)) << 16);
  }
  std::int64_t I64(std::size_t offset) const {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(U32(offset)) |
                                     (static_cast<std::uint64_t>(U32(offset + 4)) << 32));
  }
  std::string Code(std::size_t offset) const { return std::string(bytes.begin() + offset, bytes.begin() + offset + 4); }

  std::uint32_t riff_size() const { return U32(4); }
  std::uint32_t data_size() const { return U32(86); }
  std::uint32_t sample_rate() const { return U32(24); }
  std::uint16_t channels() const { return U16(22); }
  std::uint16_t block_align() const { return U16(32); }
  std::uint16_t bits_per_sample() const { return U16(34); }
  std::int32_t lo_hz() const { return static_cast<std::int32_t>(U32(44)); }
  std::int32_t sample_rate_index() const { return static_cast<std::int32_t>(U32(48)); }
  std::int64_t start_time_utc_s() const { return I64(52); }

  const std::uint8_t* data() const { return bytes.data() + kHeaderBytes; }
  std::size_t data_bytes() const { return bytes.size() - kHeaderBytes; }
};

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Null when the file is missing or shorter than a header.
inline std::optional<StoredRecording> ReadRecording(const std::string& name) {
  if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  StoredRecording recording{name, ReadWholeFile(name)};
  if (recording.bytes.size() < kHeaderBytes) return std::nullopt;
  return recording;
}

// A finished file: the chunk layout a WAV reader walks, and both sizes
// telling the file's true length.
inline ::testing::AssertionResult IsFinished(const StoredRecording& recording) {
  if (recording.Code(0) != "RIFF" || recording.Code(8) != "WAVE" || recording.Code(12) != "fmt " ||
      recording.Code(36) != "rcvr" || recording.Code(82) != "data") {
    return ::testing::AssertionFailure() << recording.name << ": not the recording layout";
  }
  const std::size_t length = recording.bytes.size();
  if (recording.riff_size() != length - 8 || recording.data_size() != length - kHeaderBytes) {
    return ::testing::AssertionFailure() << recording.name << ": RIFF size " << recording.riff_size()
                                         << " and data size " << recording.data_size() << " for a file of " << length
                                         << " bytes";
  }
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult HasFormat(const StoredRecording& recording, int row, std::uint32_t rate_hz) {
  const std::uint16_t bits = row == kTwoMegaRow ? 16 : 24;
  const std::uint16_t align = bits / 8 * 2;
  if (recording.U16(20) != 1 || recording.channels() != 2 || recording.sample_rate() != rate_hz ||
      recording.bits_per_sample() != bits || recording.block_align() != align || recording.U32(28) != rate_hz * align ||
      recording.sample_rate_index() != row) {
    return ::testing::AssertionFailure() << recording.name << ": format " << recording.U16(20) << ", "
                                         << recording.channels() << " channels, " << recording.sample_rate() << " Hz, "
                                         << recording.bits_per_sample() << " bits, align " << recording.block_align()
                                         << ", row " << recording.sample_rate_index();
  }
  return ::testing::AssertionSuccess();
}

// Whole blocks only, each the stored form of the counting pair that follows
// the one before it: no pair lost, repeated or torn. `first_pair` receives
// the counting index of the first pair.
inline ::testing::AssertionResult HoldsCountingRun(const StoredRecording& recording, int row,
                                                   std::uint64_t* first_pair = nullptr) {
  const std::size_t pair_bytes = StoredPairBytes(row);
  if (recording.data_bytes() % StoredBlockBytes(row) != 0) {
    return ::testing::AssertionFailure() << recording.name << ": " << recording.data_bytes()
                                         << " data bytes are not whole blocks of " << StoredBlockBytes(row);
  }
  const std::size_t pairs = recording.data_bytes() / pair_bytes;
  if (pairs == 0) return ::testing::AssertionSuccess();
  // At 2 MS/s the rounded components name the first pair only to within a
  // block, and only below 2^24 pairs (8 s of streaming): the second
  // component's 16 bits lose the index's upper part. The start is the block
  // near that value whose stored first pair is the one read back.
  std::uint64_t start = 0;
  if (row != kTwoMegaRow) {
    start = simulator::ReadCountingPair(recording.data());
  } else {
    constexpr std::uint64_t kIndexRange = 1u << 24;
    const std::uint64_t nearby =
        (static_cast<std::uint64_t>(recording.U16(kHeaderBytes)) << 8) / kPairsPerBlock * kPairsPerBlock;
    bool found = false;
    for (const std::uint64_t candidate : {nearby + kIndexRange - kPairsPerBlock, nearby, nearby + kPairsPerBlock}) {
      std::uint8_t host_pair[kHostPairBytes];
      std::uint8_t stored[4];
      simulator::WriteCountingPair(candidate % kIndexRange, host_pair);
      StorePair(host_pair, row, stored);
      if (!found && std::memcmp(stored, recording.data(), sizeof stored) == 0) {
        start = candidate % kIndexRange;
        found = true;
      }
    }
    if (!found) return ::testing::AssertionFailure() << recording.name << ": the first pair is no counting pair";
  }
  std::uint8_t host_pair[kHostPairBytes];
  std::uint8_t expected[kHostPairBytes];
  for (std::size_t i = 0; i < pairs; ++i) {
    simulator::WriteCountingPair(start + i, host_pair);
    StorePair(host_pair, row, expected);
    if (std::memcmp(expected, recording.data() + i * pair_bytes, pair_bytes) != 0) {
      return ::testing::AssertionFailure() << recording.name << ": pair " << i << " of " << pairs
                                           << " is not the stored form of counting pair " << start + i;
    }
  }
  if (first_pair != nullptr) *first_pair = start;
  return ::testing::AssertionSuccess();
}

// The file's blocks are, in order and without a gap, the stored forms of
// blocks the host received in a row. `first_block` receives the index in the
// capture of the host block the file starts with.
inline ::testing::AssertionResult HoldsRunOfHostBlocks(const StoredRecording& recording, int row,
                                                       const HostBlockCapture& capture,
                                                       std::size_t* first_block = nullptr) {
  const std::size_t block_bytes = StoredBlockBytes(row);
  if (recording.data_bytes() % block_bytes != 0) {
    return ::testing::AssertionFailure() << recording.name << ": " << recording.data_bytes()
                                         << " data bytes are not whole blocks of " << block_bytes;
  }
  if (capture.overflowed()) return ::testing::AssertionFailure() << "the host capture overflowed";
  const std::size_t blocks = recording.data_bytes() / block_bytes;
  const std::size_t captured = capture.blocks();
  if (blocks == 0) return ::testing::AssertionSuccess();
  std::uint8_t first_pair[kHostPairBytes];
  for (std::size_t start = 0; start + blocks <= captured; ++start) {
    // A cheap look at the first pair before the whole run is compared.
    StorePair(capture.block(start), row, first_pair);
    if (std::memcmp(first_pair, recording.data(), StoredPairBytes(row)) != 0) continue;
    std::size_t same = 0;
    while (same < blocks && StoreBlock(capture.block(start + same), row) ==
                                std::vector<std::uint8_t>(recording.data() + same * block_bytes,
                                                          recording.data() + (same + 1) * block_bytes)) {
      ++same;
    }
    if (same == blocks) {
      if (first_block != nullptr) *first_block = start;
      return ::testing::AssertionSuccess();
    }
  }
  return ::testing::AssertionFailure() << recording.name << ": its " << blocks << " blocks are no run of the "
                                       << captured << " blocks the host received";
}

// ---- Names -----------------------------------------------------------------

inline std::int64_t UtcNow() { return _time64(nullptr); }

// The recording name for a start at `utc_seconds`, made with the C runtime's
// own UTC conversion and formatting.
inline std::string UtcRecordingName(std::int64_t utc_seconds) {
  const __time64_t time = utc_seconds;
  const std::tm* parts = _gmtime64(&time);
  if (parts == nullptr) return {};
  char text[64] = {};
  std::strftime(text, sizeof text, "%a %b %d %H-%M-%S %Y.wav", parts);
  return text;
}

// `name` is the plain recording name of a second from `from` to `to`.
inline ::testing::AssertionResult IsRecordingNameBetween(const std::string& name, std::int64_t from, std::int64_t to) {
  for (std::int64_t second = from; second <= to; ++second) {
    if (name == UtcRecordingName(second)) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "\"" << name << "\" is not the name of a UTC second from \""
                                       << UtcRecordingName(from) << "\" to \"" << UtcRecordingName(to) << "\"";
}

// ---- Directories -------------------------------------------------------------

inline void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(child);
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

// The names of the files in `directory` that match `pattern`, sorted.
inline std::vector<std::string> FilesIn(const std::string& directory, const char* pattern = "*.wav") {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((directory + "\\" + pattern).c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string CurrentDirectory() {
  char path[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, path);
  return path;
}

// The Unix path Wine keeps `windows_path` at; empty outside Wine.
inline std::string UnixPathOf(const std::string& windows_path) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  const auto to_unix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return {};
  WCHAR wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, windows_path.c_str(), -1, wide, MAX_PATH);
  char* unix_path = to_unix(wide);
  if (unix_path == nullptr) return {};
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

// A fresh directory made the current one for the test's life; it is removed
// with everything in it afterwards, unless kept (a failed test keeps it).
class ScratchDirectory {
 public:
  explicit ScratchDirectory(std::string path) : path_(std::move(path)), previous_(CurrentDirectory()) {
    RemoveTree(path_);
    created_ = CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
    entered_ = created_ && SetCurrentDirectoryA(path_.c_str()) != FALSE;
  }
  ~ScratchDirectory() {
    SetCurrentDirectoryA(previous_.c_str());
    if (!keep_) RemoveTree(path_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  bool ready() const { return entered_; }
  const std::string& path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  std::string previous_;
  bool created_ = false;
  bool entered_ = false;
  bool keep_ = false;
};

// ---- The fixture -------------------------------------------------------------

class RecordingTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Parameterised tests have slashes in their names.
    std::string test = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(test.begin(), test.end(), '/', '_');
    scratch_ = std::make_unique<ScratchDirectory>(std::string(temp) + "halvorn-recordings-" +
                                                  std::to_string(GetCurrentProcessId()) + "-" + test);
    ASSERT_TRUE(scratch_->ready()) << scratch_->path();
  }

  void TearDown() override {
    // Unloading stops the stream, so nothing reaches the capture afterwards.
    PanelTest::TearDown();
    callback_.SetBlockObserver(nullptr, nullptr);
    callback_.set_check_counting(false);
    capture_.reset();
    retired_captures_.clear();
    if (scratch_ && HasFailure()) {
      scratch_->Keep();
      std::printf("recordings kept in %s\n", scratch_->path().c_str());
    }
    scratch_.reset();
  }

  // A click as a user makes one: only on a control that is enabled.
  void ClickAsUser(int id) {
    const HWND control = Control(id);
    ASSERT_NE(control, nullptr) << id;
    ASSERT_TRUE(IsWindowEnabled(control)) << "no user can click " << id << ", it is disabled";
    SendMessageA(control, BM_CLICK, 0, 0);
  }

  std::string FieldText(int id) const {
    char text[256] = {};
    GetDlgItemTextA(Dialog(), id, text, sizeof text);
    return text;
  }

  // "Rec"; the name the file-name field then shows.
  std::string ClickRec() {
    ClickAsUser(kRecButton);
    return FieldText(kFileNameField);
  }
  void ClickStop() { ClickAsUser(kStopButton); }

  // InitHW, OpenHW, SetCallback, and the rate button of `row`.
  void OpenAtRow(int row) {
    ASSERT_NO_FATAL_FAILURE(OpenReceiver());
    if (row != 0) {
      ASSERT_NO_FATAL_FAILURE(ClickAsUser(kFirstRateButton + row));
    }
  }

  // StartHW with the simulator sending `source`, paced as `pacing` says; the
  // host follows the counting pattern when that is what is sent.
  void StartStream(const char* source, const char* pacing) {
    SetSimulator("HALVORNSIM_SOURCE", source);
    SetSimulator("HALVORNSIM_PACING", pacing);
    callback_.set_check_counting(std::string(source) == "counting");
    ASSERT_EQ(plugin_->StartHW(kTestLoHz), kPairsPerBlock);
  }

  // Starts copying what the host receives and waits for the first block, so
  // that any block the recorder may get from now on reached the copy first
  // (the host gets each block before the recorder does).
  void StartCapture(std::size_t capacity_blocks) {
    // A capture replaced while streaming may still be in the delivery
    // thread's hands: it lives on until the test ends.
    if (capture_) retired_captures_.push_back(std::move(capture_));
    capture_ = std::make_unique<HostBlockCapture>(capacity_blocks);
    capture_->Attach(callback_);
    capture_->Start();
    ASSERT_TRUE(PumpUntil([&] { return capture_->blocks() > 0; }, 10000)) << "the host receives no blocks";
  }

  std::vector<int> StatusesSince(std::size_t mark) const {
    const std::vector<int> all = Statuses();
    return std::vector<int>(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark, all.size())), all.end());
  }

  std::unique_ptr<ScratchDirectory> scratch_;
  std::unique_ptr<HostBlockCapture> capture_;
  std::vector<std::unique_ptr<HostBlockCapture>> retired_captures_;
};

}  // namespace halvorn::wine_tests
