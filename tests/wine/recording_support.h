// Recording through the real DLL as a user does it: the panel's own "Rec" and
// "Stop" clicked in a current directory of the test's own, a copy of every
// block the host received, and the files left behind held against it. What
// a file must hold is the shared recording oracle's (tests/support).
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panel/control_ids.h"
#include "ports/sample_block.h"
#include "receiver/sample_rate_table.h"
#include "tests/support/host_block_capture.h"
#include "tests/support/recording_checks.h"
#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {

inline constexpr std::size_t kHeaderBytes = testing::kRecordingHeaderBytes;
inline constexpr int kTwoMegaRow = receiver::kTwoMegaSampleIndex;
inline constexpr std::int32_t kTestLoHz = 7050000;

using panel::kFileNameField;
using panel::kFileSizeField;
using panel::kFirstRateButton;
using panel::kRecButton;
using panel::kRecordingTimeField;
using panel::kStopButton;
using testing::HasFormat;
using testing::HoldsCountingRun;
using testing::HoldsRunOfHostBlocks;
using testing::HostBlockCapture;
using testing::IsFinished;
using testing::StoredBlockBytes;
using testing::StoredRecording;

// ---- Reading a recording back ---------------------------------------------

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The recording `name` in the current directory; null when it is missing or
// shorter than a header.
inline std::optional<StoredRecording> ReadRecording(const std::string& name) {
  return testing::LoadRecording(name, name);
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
    ASSERT_EQ(plugin_->StartHW(kTestLoHz), kBlockPairs);
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
