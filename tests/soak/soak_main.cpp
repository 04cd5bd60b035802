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
#include "host/halvorn_panel.h"
#include "panel/control_ids.h"
#include "ports/sample_block.h"
#include "receiver/sample_rate_table.h"
#include "tests/support/counting_host.h"
#include "tests/support/recording_oracle.h"
#include "tests/support/stored_form.h"

namespace {

using halvorn::kBlockPairs;
using halvorn::testing::CountingHost;
constexpr int kTwoMegaRow = halvorn::receiver::kTwoMegaSampleIndex;
constexpr std::int32_t kLoHz = 7050000;

// ---- The host's callback ----------------------------------------------------------

// The delivery thread, and the host callback's own time on it in counter
// ticks: what the plug-in's share leaves out.
std::atomic<DWORD> g_delivery_thread{0};
std::atomic<std::uint64_t> g_callback_ticks{0};

// The counting host, timed.
void __cdecl HostCallback(int count, int status, float iq_offset, void* data) {
  LARGE_INTEGER begin;
  QueryPerformanceCounter(&begin);
  if (count >= 0 && g_delivery_thread.load(std::memory_order_relaxed) == 0) g_delivery_thread = GetCurrentThreadId();
  CountingHost::Callback(count, status, iq_offset, data);
  LARGE_INTEGER end;
  QueryPerformanceCounter(&end);
  if (count >= 0) {
    g_callback_ticks.fetch_add(static_cast<std::uint64_t>(end.QuadPart - begin.QuadPart), std::memory_order_relaxed);
  }
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

// ---- The recording ---------------------------------------------------------------

struct RecordingCheck {
  std::vector<std::string> files;
  std::uint64_t data_bytes = 0;
  std::uint64_t pairs = 0;
  std::uint64_t skipped_blocks = 0;
  std::string trouble;
};

// Every file finished at 2 MS/s and of whole blocks, and their blocks, one
// file after the other in the order they were made, the stored counting
// pattern without a gap: read in pieces, since files reach 4 GiB.
RecordingCheck CheckRecording(const std::string& directory) {
  namespace testing = halvorn::testing;
  RecordingCheck check;
  check.files = testing::InOrderOfMaking(directory, testing::RecordingFilesIn(directory));
  if (check.files.empty()) {
    check.trouble = "no recording";
    return check;
  }
  testing::StoredCountingFollower follower;
  const std::size_t block_bytes = testing::StoredBlockBytes(kTwoMegaRow);
  std::vector<std::uint8_t> buffer(1024 * block_bytes);
  for (const std::string& name : check.files) {
    std::ifstream in(directory + "\\" + name, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto length = static_cast<std::uint64_t>(in.tellg());
    in.seekg(0);
    std::vector<std::uint8_t> header(testing::kRecordingHeaderBytes);
    in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
    const auto recording = testing::StoredRecording::Header(name, std::move(header), length);
    check.trouble = testing::LayoutProblem(recording);
    if (check.trouble.empty() && recording.row() != kTwoMegaRow) check.trouble = name + ": not recorded at 2 MS/s";
    if (check.trouble.empty() && recording.data_bytes() % block_bytes != 0) check.trouble = name + ": not whole blocks";
    if (!check.trouble.empty()) return check;
    check.data_bytes += recording.data_bytes();
    follower.BeginFile(kTwoMegaRow);
    for (std::uint64_t left = recording.data_bytes(); left > 0;) {
      const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(chunk));
      if (static_cast<std::size_t>(in.gcount()) != chunk) {
        check.trouble = name + ": short read";
        return check;
      }
      for (std::size_t at = 0; at < chunk; at += block_bytes) {
        const std::string problem = follower.Follow(buffer.data() + at, kBlockPairs);
        if (!problem.empty()) {
          check.trouble = name + ": " + problem;
          return check;
        }
      }
      left -= chunk;
    }
  }
  check.pairs = follower.pairs();
  check.skipped_blocks = follower.skipped_pairs() / kBlockPairs;
  if (follower.restarts() != 0) check.trouble = "the stream starts again inside the recording";
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
  CountingHost& host = CountingHost::Instance();
  host.set_check_counting(true);
  plugin->SetCallback(&HostCallback);
  const auto panel = halvorn::host::HalvornPanel::Await(plugin->module(), 10000);
  if (!panel) return Fail("the plug-in shows no panel");
  std::string why;
  const auto click = [&](int id, const char* what) {
    if (panel->Click(id, &why)) return true;
    std::printf("soak: FAILED: the panel's %s button %s\n", what, why.c_str());
    return false;
  };
  if (!click(halvorn::panel::RateButtonFor(kTwoMegaRow), "2 MS/s")) return 1;
  const std::int32_t rate_hz = halvorn::receiver::kSampleRateTable[kTwoMegaRow].rate_hz;
  if (plugin->GetHWSR() != rate_hz) return Fail("GetHWSR is not the 2 MS/s rate after the 2 MS/s button");

  const std::set<DWORD> threads_before = ThreadsOfThisProcess();
  if (plugin->StartHW(kLoHz) != kBlockPairs) return Fail("StartHW");
  for (int waited = 0; host.blocks() == 0 && waited < 5000; waited += 10) halvorn::host::PumpMessagesFor(10);
  if (host.blocks() == 0) return Fail("no block in 5 s");
  std::vector<HANDLE> input_threads;
  HANDLE delivery = OpenThread(THREAD_QUERY_INFORMATION, FALSE, g_delivery_thread.load());
  for (DWORD id : ThreadsOfThisProcess()) {
    if (!threads_before.count(id) && id != g_delivery_thread.load()) {
      input_threads.push_back(OpenThread(THREAD_QUERY_INFORMATION, FALSE, id));
    }
  }
  if (!click(halvorn::panel::kRecButton, "Rec")) return 1;

  std::printf("soak: %.0f s at 2 MS/s, recording into %s\n", seconds, recordings.c_str());
  const std::uint64_t blocks_before = host.blocks();
  const std::uint64_t callback_ticks_before = g_callback_ticks.load();
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
  const std::uint64_t blocks = host.blocks() - blocks_before;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const double callback_seconds =
      static_cast<double>(g_callback_ticks.load() - callback_ticks_before) / static_cast<double>(frequency.QuadPart);

  if (!click(halvorn::panel::kStopButton, "Stop")) return 1;
  plugin->StopHW();
  const double wall = Seconds(from, to);
  plugin->CloseHW();
  plugin.reset();

  const RecordingCheck recording = CheckRecording(recordings);
  const double expected_blocks = wall * rate_hz / kBlockPairs;
  const double delivery_share = (delivery_after - delivery_before - callback_seconds) / wall;
  const double input_share = (input_after - input_before) / wall;

  const std::vector<std::string> faults = host.faults();
  std::printf("host: %" PRIu64 " blocks in %.1f s (%.0f expected at 2 MS/s), %" PRIu64 " dropped, %zu faults%s%s\n",
              blocks, wall, expected_blocks, host.missing_pairs() / kBlockPairs, faults.size(),
              faults.empty() ? "" : ", the first: ", faults.empty() ? "" : faults.front().c_str());
  std::printf("recording: %zu file(s), %" PRIu64 " bytes, %" PRIu64 " pairs, %" PRIu64 " blocks skipped%s%s\n",
              recording.files.size(), recording.data_bytes, recording.pairs, recording.skipped_blocks,
              recording.trouble.empty() ? "" : ", ", recording.trouble.c_str());
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
  if (host.missing_pairs() != 0) problem("the host lost blocks");
  if (!faults.empty()) problem("the host received malformed, torn or disordered blocks");
  if (static_cast<double>(blocks) < expected_blocks * 0.95) problem("the stream fell behind real time");
  if (!recording.trouble.empty() || recording.skipped_blocks != 0) {
    problem("the recording is not byte-exact");
  }
  // The recording spans the whole soak: at least the blocks the host got after Rec.
  if (recording.pairs < blocks * kBlockPairs) problem("the recording is shorter than the stream");
  if (delivery_share < 0 || input_threads.empty()) std::printf("soak: the CPU times could not all be read\n");
  if (sound) {
    RemoveRecordings(recordings);
    std::printf("soak: passed\n");
  } else {
    std::printf("soak: recordings kept in %s\n", recordings.c_str());
  }
  return sound ? 0 : 1;
}
