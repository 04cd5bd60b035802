// The soak: the real plug-in DLL streams at 2 MS/s from the simulated
// receiver's counting pattern, paced in real time, while it records, for as
// long as asked. Afterwards it reports the blocks the host lost, whether the
// recording is byte for byte the 16-bit form of the counting pairs, and what
// the plug-in cost in CPU time.
//
//   halvorn_soak.exe [seconds]      (default 30; exit status 0 when sound)
//
// The CPU measure. The plug-in works on two threads: its delivery thread
// (the host callback, then the recorder: 16-bit reduction and one file write
// per block), and the device library's input thread, inside TransferCallback
// (one copy of each transfer into the ring and a wake-up). The delivery
// thread is the plug-in's alone; its CPU time comes from GetThreadTimes, less
// the time spent in this host's own callback, which is timed. The input
// thread's time is the simulator generating the samples and the transfer
// callback together. Subtracting a run of the simulator on its own proved
// unreliable (the two differ by less than the run-to-run spread), so the
// input thread is reported whole: the plug-in's share lies between its
// delivery thread's and the two threads' sum. The transfer callback's own
// cost is the native streaming benchmark's.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/extio_plugin.h"
#include "simulator/counting_pattern.h"

namespace {

constexpr int kPairsPerBlock = 1024;
constexpr int kTwoMegaButton = 1010;
constexpr int kRecButton = 1022;
constexpr int kStopButton = 1021;
constexpr std::int32_t kLoHz = 7050000;
constexpr std::size_t kHeaderBytes = 90;

// ---- The host's callback ----------------------------------------------------------

struct HostCounts {
  std::atomic<std::uint64_t> blocks{0};
  std::atomic<std::uint64_t> missing_blocks{0};
  std::atomic<std::uint64_t> bad_blocks{0};
  std::atomic<std::uint64_t> next_pair{0};
  std::atomic<bool> started{false};
  std::atomic<DWORD> delivery_thread{0};
  // This callback's own time on the delivery thread, in counter ticks.
  std::atomic<std::uint64_t> callback_ticks{0};
};
HostCounts g_host;

// Every block's first and last pair: the two ends of a whole, ordered block
// of the counting pattern. The recording is checked byte for byte later.
void __cdecl HostCallback(int count, int status, float, void* data) {
  if (count < 0) return;
  LARGE_INTEGER begin;
  QueryPerformanceCounter(&begin);
  if (g_host.delivery_thread.load(std::memory_order_relaxed) == 0) g_host.delivery_thread = GetCurrentThreadId();
  const auto* block = static_cast<const std::uint8_t*>(data);
  const std::uint64_t first = halvorn::simulator::ReadCountingPair(block);
  const std::uint64_t last = halvorn::simulator::ReadCountingPair(block + (kPairsPerBlock - 1) * 6);
  if (count != kPairsPerBlock || status != 0 || last != first + kPairsPerBlock - 1 || first % kPairsPerBlock != 0) {
    g_host.bad_blocks.fetch_add(1, std::memory_order_relaxed);
  }
  if (g_host.started.exchange(true) && first != g_host.next_pair.load(std::memory_order_relaxed)) {
    const std::uint64_t expected = g_host.next_pair.load(std::memory_order_relaxed);
    if (first > expected) {
      g_host.missing_blocks.fetch_add((first - expected) / kPairsPerBlock, std::memory_order_relaxed);
    } else {
      g_host.bad_blocks.fetch_add(1, std::memory_order_relaxed);
    }
  }
  g_host.next_pair.store(first + kPairsPerBlock, std::memory_order_relaxed);
  g_host.blocks.fetch_add(1, std::memory_order_release);
  LARGE_INTEGER end;
  QueryPerformanceCounter(&end);
  g_host.callback_ticks.fetch_add(static_cast<std::uint64_t>(end.QuadPart - begin.QuadPart), std::memory_order_relaxed);
}

// ---- Threads and their CPU time ------------------------------------------------

std::set<DWORD> ThreadsOfThisProcess() {
  std::set<DWORD> threads;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) threads.insert(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  return threads;
}

std::uint64_t FileTimeTicks(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Kernel plus user time of a thread, in seconds; negative when unknown.
double ThreadCpuSeconds(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  if (thread == nullptr || !GetThreadTimes(thread, &created, &exited, &kernel, &user)) return -1.0;
  return static_cast<double>(FileTimeTicks(kernel) + FileTimeTicks(user)) * 1e-7;
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1.0;
  return static_cast<double>(FileTimeTicks(kernel) + FileTimeTicks(user)) * 1e-7;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

// ---- The panel -----------------------------------------------------------------

BOOL CALLBACK FindFrame(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char title[32] = {};
  GetWindowTextA(window, title, sizeof title);
  if (process == GetCurrentProcessId() && std::string(title) == "HALVORN SDR") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

HWND PanelControl(int id) {
  HWND frame = nullptr;
  EnumWindows(&FindFrame, reinterpret_cast<LPARAM>(&frame));
  return frame == nullptr ? nullptr : GetDlgItem(GetWindow(frame, GW_CHILD), id);
}

bool ClickPanel(int id) {
  const HWND control = PanelControl(id);
  if (control == nullptr || !IsWindowEnabled(control)) return false;
  SendMessageA(control, BM_CLICK, 0, 0);
  return true;
}

// ---- The recording ---------------------------------------------------------------

// The 16-bit form of a 24-bit component: divided by 256, rounded to nearest
// with halves upward, the largest kept at 32767.
std::int16_t Rounded16(std::uint32_t raw24) {
  raw24 &= 0xFFFFFFu;
  const std::int32_t value = raw24 >= 0x800000u ? static_cast<std::int32_t>(raw24) - 0x1000000 : static_cast<std::int32_t>(raw24);
  return static_cast<std::int16_t>(std::min((value + 128) >> 8, 32767));
}

struct RecordingCheck {
  std::vector<std::string> files;
  std::uint64_t data_bytes = 0;
  std::uint64_t pairs = 0;
  std::uint64_t wrong_pairs = 0;
  std::uint64_t skipped_blocks = 0;
  std::string trouble;
};

std::uint32_t U32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The recording's files in the order they were made: by the start time in
// their header, then by name length (a copy's name is longer).
std::vector<std::string> RecordingFiles(const std::string& directory) {
  struct Found {
    std::int64_t start;
    std::string name;
  };
  std::vector<Found> found;
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA((directory + "\\*.wav").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::ifstream in(directory + "\\" + data.cFileName, std::ios::binary);
      std::uint8_t header[kHeaderBytes] = {};
      in.read(reinterpret_cast<char*>(header), sizeof header);
      std::int64_t start = 0;
      for (int i = 7; i >= 0; --i) start = start << 8 | header[52 + i];
      found.push_back({start, data.cFileName});
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.start != b.start ? a.start < b.start
                              : a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
  });
  std::vector<std::string> names;
  for (const Found& file : found) names.push_back(file.name);
  return names;
}

// Every file finished (both sizes tell its length, 2 MS/s at 16 bits) and
// their pairs, one file after the other, the 16-bit form of consecutive
// counting pairs. At 16 bits a pair names its index only modulo 2^24, which
// is all the comparison needs below 2^31 pairs (18 minutes).
RecordingCheck CheckRecording(const std::string& directory) {
  RecordingCheck check;
  check.files = RecordingFiles(directory);
  if (check.files.empty()) {
    check.trouble = "no recording";
    return check;
  }
  bool have_next = false;
  std::uint32_t next = 0;  // counting index modulo 2^24
  std::vector<std::uint8_t> buffer(1 << 22);
  for (const std::string& name : check.files) {
    const std::string path = directory + "\\" + name;
    std::ifstream in(path, std::ios::binary);
    std::uint8_t header[kHeaderBytes] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    in.seekg(0, std::ios::end);
    const std::uint64_t length = static_cast<std::uint64_t>(in.tellg());
    in.seekg(static_cast<std::streamoff>(kHeaderBytes));
    if (length < kHeaderBytes || std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 82, "data", 4) != 0 ||
        U32(header + 4) != length - 8 || U32(header + 86) != length - kHeaderBytes || U32(header + 24) != 2000000 ||
        header[34] != 16 || U32(header + 48) != 4) {
      check.trouble = name + ": not a finished 2 MS/s recording of its length";
      return check;
    }
    std::uint64_t left = length - kHeaderBytes;
    check.data_bytes += left;
    if (left % (kPairsPerBlock * 4) != 0) {
      check.trouble = name + ": not whole blocks";
      return check;
    }
    while (left > 0) {
      const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(chunk));
      if (static_cast<std::size_t>(in.gcount()) != chunk) {
        check.trouble = name + ": short read";
        return check;
      }
      for (std::size_t at = 0; at < chunk; at += 4) {
        const std::uint8_t* pair = buffer.data() + at;
        const auto first = static_cast<std::int16_t>(pair[0] | pair[1] << 8);
        const auto second = static_cast<std::int16_t>(pair[2] | pair[3] << 8);
        if (!have_next || (check.pairs % kPairsPerBlock == 0 && Rounded16(next) != first)) {
          // The start, or a block that is not the next one: take its index
          // from its first component (block starts have 0 in their low byte).
          const std::uint32_t found = static_cast<std::uint32_t>(static_cast<std::int32_t>(first) * 256) & 0xFFFFFFu;
          if (have_next) check.skipped_blocks += ((found - next) & 0xFFFFFFu) / kPairsPerBlock;
          next = found;
          have_next = true;
        }
        if (first != Rounded16(next) || second != 0) ++check.wrong_pairs;
        next = (next + 1) & 0xFFFFFFu;
        ++check.pairs;
      }
      left -= chunk;
    }
  }
  return check;
}

void RemoveRecordings(const std::string& directory) {
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) DeleteFileA((directory + "\\" + data.cFileName).c_str());
    } while (FindNextFileA(search, &data));
    FindClose(search);
  }
  RemoveDirectoryA(directory.c_str());
}

int Fail(const char* what) {
  std::printf("soak: FAILED: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
  if (seconds <= 0) return Fail("the duration must be a positive number of seconds");
  setvbuf(stdout, nullptr, _IONBF, 0);

  SetEnvironmentVariableA("HALVORNSIM_SOURCE", "counting");
  SetEnvironmentVariableA("HALVORNSIM_PACING", "realtime");
  for (const char* cleared : {"HALVORNSIM_FAIL", "HALVORNSIM_MISSING", "HALVORNSIM_JOURNAL", "HALVORNSIM_STAMP"}) {
    SetEnvironmentVariableA(cleared, nullptr);
  }
  // The DLLs are one level above this program, as beside a host program.
  const std::string build = halvorn::host::ProgramDirectory() + "..\\";
  SetDllDirectoryA(build.c_str());
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string recordings = std::string(temp) + "halvorn-soak-" + std::to_string(GetCurrentProcessId());
  RemoveRecordings(recordings);
  CreateDirectoryA(recordings.c_str(), nullptr);
  // The plug-in records into the host's current directory.
  if (!SetCurrentDirectoryA(recordings.c_str())) return Fail("cannot enter the recordings directory");

  std::string error;
  auto plugin = halvorn::host::ExtIoPlugin::Load(build + "ExtIO_halvorn.dll", &error);
  if (!plugin) return Fail(error.c_str());
  char name[64] = {};
  char model[64] = {};
  int type = 0;
  if (!plugin->InitHW(name, model, &type)) return Fail("InitHW");
  plugin->OpenHW();
  plugin->SetCallback(&HostCallback);
  halvorn::host::PumpMessagesFor(100);
  if (!ClickPanel(kTwoMegaButton)) return Fail("the panel's 2 MS/s button");
  if (plugin->GetHWSR() != 2000000) return Fail("GetHWSR is not 2000000 after the 2 MS/s button");

  const std::set<DWORD> threads_before = ThreadsOfThisProcess();
  if (plugin->StartHW(kLoHz) != kPairsPerBlock) return Fail("StartHW");
  for (int waited = 0; g_host.blocks.load() == 0 && waited < 5000; waited += 10) halvorn::host::PumpMessagesFor(10);
  if (g_host.blocks.load() == 0) return Fail("no block in 5 s");
  std::vector<HANDLE> input_threads;
  HANDLE delivery = OpenThread(THREAD_QUERY_INFORMATION, FALSE, g_host.delivery_thread.load());
  for (DWORD id : ThreadsOfThisProcess()) {
    if (!threads_before.count(id) && id != g_host.delivery_thread.load()) {
      input_threads.push_back(OpenThread(THREAD_QUERY_INFORMATION, FALSE, id));
    }
  }
  if (!ClickPanel(kRecButton)) return Fail("the panel's Rec button");

  std::printf("soak: %.0f s at 2 MS/s, recording into %s\n", seconds, recordings.c_str());
  const std::uint64_t blocks_before = g_host.blocks.load();
  const std::uint64_t callback_ticks_before = g_host.callback_ticks.load();
  const double delivery_before = ThreadCpuSeconds(delivery);
  double input_before = 0;
  for (HANDLE thread : input_threads) input_before += std::max(0.0, ThreadCpuSeconds(thread));
  const double process_before = ProcessCpuSeconds();
  const LARGE_INTEGER from = Now();
  // The host's message loop, as the panel's timer and buttons need it.
  for (double elapsed = 0; elapsed < seconds; elapsed = Seconds(from, Now())) {
    halvorn::host::PumpMessagesFor(static_cast<DWORD>(std::min(1000.0, (seconds - elapsed) * 1000) + 1));
  }
  const LARGE_INTEGER to = Now();
  const double delivery_after = ThreadCpuSeconds(delivery);
  double input_after = 0;
  for (HANDLE thread : input_threads) input_after += std::max(0.0, ThreadCpuSeconds(thread));
  const double process_after = ProcessCpuSeconds();
  const std::uint64_t blocks = g_host.blocks.load() - blocks_before;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const double callback_seconds = static_cast<double>(g_host.callback_ticks.load() - callback_ticks_before) /
                                  static_cast<double>(frequency.QuadPart);

  if (!ClickPanel(kStopButton)) return Fail("the panel's Stop button");
  plugin->StopHW();
  const double wall = Seconds(from, to);
  plugin->CloseHW();
  plugin.reset();

  const RecordingCheck recording = CheckRecording(recordings);
  const double expected_blocks = wall * 2000000.0 / kPairsPerBlock;
  const double delivery_share = (delivery_after - delivery_before - callback_seconds) / wall;
  const double input_share = (input_after - input_before) / wall;

  std::printf("host: %" PRIu64 " blocks in %.1f s (%.0f expected at 2 MS/s), %" PRIu64 " dropped, %" PRIu64
              " malformed or out of order\n",
              blocks, wall, expected_blocks, g_host.missing_blocks.load(), g_host.bad_blocks.load());
  std::printf("recording: %zu file(s), %" PRIu64 " bytes, %" PRIu64 " pairs, %" PRIu64 " not the 16-bit counting pair, %" PRIu64
              " blocks skipped%s%s\n",
              recording.files.size(), recording.data_bytes, recording.pairs, recording.wrong_pairs,
              recording.skipped_blocks, recording.trouble.empty() ? "" : ", ", recording.trouble.c_str());
  std::printf("cpu (share of one core): delivery thread %.2f %% (host callback of %.2f %% taken out), input thread "
              "(simulator and transfer callback) %.2f %%; plug-in between %.2f %% and %.2f %%; whole process %.2f %%\n",
              100 * delivery_share, 100 * callback_seconds / wall, 100 * input_share, 100 * delivery_share,
              100 * (delivery_share + input_share), 100 * (process_after - process_before) / wall);
  if (delivery != nullptr) CloseHandle(delivery);
  for (HANDLE thread : input_threads) CloseHandle(thread);

  bool sound = true;
  const auto problem = [&sound](const char* what) {
    std::printf("soak: FAILED: %s\n", what);
    sound = false;
  };
  if (g_host.missing_blocks.load() != 0) problem("the host lost blocks");
  if (g_host.bad_blocks.load() != 0) problem("the host received torn or disordered blocks");
  if (static_cast<double>(blocks) < expected_blocks * 0.95) problem("the stream fell behind real time");
  if (!recording.trouble.empty() || recording.wrong_pairs != 0 || recording.skipped_blocks != 0) {
    problem("the recording is not byte-exact");
  }
  // The recording spans the whole soak: at least the blocks the host got after Rec.
  if (recording.pairs < blocks * kPairsPerBlock) problem("the recording is shorter than the stream");
  if (delivery_share < 0 || input_threads.empty()) std::printf("soak: the CPU times could not all be read\n");
  if (sound) {
    RemoveRecordings(recordings);
    std::printf("soak: passed\n");
  } else {
    std::printf("soak: recordings kept in %s\n", recordings.c_str());
  }
  return sound ? 0 : 1;
}
