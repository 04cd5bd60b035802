// What repeated load cycles leave behind in the process, under Windows or
// Wine. Each kind of cycle runs N times in a fresh child process, which
// measures the process every K cycles; the parent prints the figures, the
// growth per 100 cycles of the first and the second half, and each kind's
// growth per cycle as a multiple of that of a trivial DLL linked as the
// project's DLLs are, without their release at unload ("cxx", run first, in
// the same run).
//
//   ninja -C build/windows load_cycle_bench
//   scripts/wine-session.sh scripts/wine-run build/windows/load_cycle_bench.exe
//       [--cycles N] [--every K] [kind...]          (N 400, K 50, all kinds)
//
// Kinds, each cycle ending only once the DLL has really been unloaded:
//   bare              a DLL with no runtime at all: Wine's loader alone
//   bare-exitthread   the same, with a thread that drops the last reference
//                     to it as it ends (FreeLibraryAndExitThread)
//   c                 a trivial C DLL: the mingw C start-up code only
//   cxx-load          LoadLibrary and FreeLibrary of a trivial DLL linked like
//                     the project's DLLs (-static, libstdc++, posix threads),
//                     without their release at unload
//   cxx               the same, with a std::thread joined and a std::mutex locked
//   cxx-released      cxx with the release at unload that both project DLLs
//                     link (ports/win32/runtime_release.cpp)
//   cxx-timedwait     cxx-released with a condition-variable wait that times out
//   cxx-callonce      cxx-released with a std::call_once
//   cxx-exitthread    cxx-released with a thread the threads library knows that
//                     drops the last reference as it ends
//   device-load       LoadLibrary and FreeLibrary of halvornusb.dll
//   device-open       the same with Open, FirmwareDownload and Close between
//   device-stream     the same with FpgaConfig, StartAsyncInput, a few
//                     transfers and StopAsyncInput too
//   plugin-startstop  StartHW, a few blocks, StopHW through ExtIO_halvorn.dll
//                     (loaded once; InitHW and OpenHW once)
//   plugin-nostream   InitHW, OpenHW, CloseHW
//   plugin            InitHW, OpenHW, StartHW, a few blocks, StopHW, CloseHW
//   plugin-reload     LoadLibrary and FreeLibrary of ExtIO_halvorn.dll itself
//
// Figures: ws = working set (RSS under Wine), commit = committed private
// virtual memory as VirtualQuery sees it, heap = bytes allocated in all
// heaps, handles = open handles, of them thr = thread handles, ev = events,
// sem = semaphores; threads = live threads, tls = the lowest free TLS index
// (a process has 1088; a threads library that cannot get one aborts).
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "device/device_abi.h"
#include "host/extio_plugin.h"
#include "receiver/sample_rate_table.h"

namespace {

using namespace halvorn;

struct Sample {
  long long cycles = 0;
  long long working_set = 0;
  long long committed = 0;
  long long heap = 0;
  long long handles = 0;
  long long thread_handles = 0;
  long long events = 0;
  long long semaphores = 0;
  long long threads = 0;
  long long modules = 0;
  long long tls = 0;
};

constexpr const char* kMemoryColumns[] = {"ws", "commit", "heap"};
long long Memory(const Sample& sample, int column) {
  switch (column) {
    case 0:
      return sample.working_set;
    case 1:
      return sample.committed;
    default:
      return sample.heap;
  }
}

long long CommittedPrivateBytes() {
  long long total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (auto* address = static_cast<unsigned char*>(nullptr); VirtualQuery(address, &info, sizeof info) == sizeof info;
       address = static_cast<unsigned char*>(info.BaseAddress) + info.RegionSize) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += static_cast<long long>(info.RegionSize);
    if (static_cast<unsigned char*>(info.BaseAddress) + info.RegionSize < address) break;
  }
  return total;
}

long long HeapBytes() {
  long long total = 0;
  HANDLE heaps[256];
  const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return total;
}

// Wine keeps no handle count (GetProcessHandleCount gives 0), so the handles
// are found by value, with their object type; the table is filled from the
// bottom, and the search ends after a long run of free values.
void CountHandles(Sample& sample) {
  using QueryObject = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  if (query == nullptr) return;
  constexpr ULONG kObjectTypeInformation = 2;
  int free_run = 0;
  for (std::uintptr_t value = 4; free_run < 1024; value += 4) {
    alignas(8) unsigned char buffer[512];
    if (query(reinterpret_cast<HANDLE>(value), kObjectTypeInformation, buffer, sizeof buffer, nullptr) != 0) {
      ++free_run;
      continue;
    }
    free_run = 0;
    ++sample.handles;
    const auto* type = reinterpret_cast<const UNICODE_STRING*>(buffer);
    const std::wstring name(type->Buffer, type->Length / sizeof(wchar_t));
    if (name == L"Thread") ++sample.thread_handles;
    if (name == L"Event") ++sample.events;
    if (name == L"Semaphore") ++sample.semaphores;
  }
}

long long ThreadCount() {
  long long count = 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

Sample Measure(long long cycles) {
  Sample sample;
  sample.cycles = cycles;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    sample.working_set = static_cast<long long>(counters.WorkingSetSize);
  }
  sample.committed = CommittedPrivateBytes();
  sample.heap = HeapBytes();
  CountHandles(sample);
  sample.threads = ThreadCount();
  HMODULE modules[512];
  DWORD needed = 0;
  if (EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &needed)) {
    sample.modules = needed / sizeof(HMODULE);
  }
  const DWORD tls = TlsAlloc();
  sample.tls = tls == TLS_OUT_OF_INDEXES ? -1 : static_cast<long long>(tls);
  if (tls != TLS_OUT_OF_INDEXES) TlsFree(tls);
  return sample;
}

// ---- The child: one kind of cycle, N times ----

template <typename Fn>
Fn Entry(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::atomic<long> g_blocks{0};

void __cdecl CountBlocks(int count, int, float, void*) {
  if (count > 0) g_blocks.fetch_add(1, std::memory_order_relaxed);
}

bool __stdcall CountTransfer(std::uint8_t*, void*) {
  g_blocks.fetch_add(1, std::memory_order_relaxed);
  return true;
}

// Serves the plug-in's windows while the stream brings `blocks` more.
bool AwaitBlocks(long blocks, bool pump) {
  const long target = g_blocks.load() + blocks;
  const ULONGLONG deadline = GetTickCount64() + 3000;
  while (g_blocks.load() < target) {
    if (GetTickCount64() >= deadline) return false;
    if (pump) {
      host::PumpMessagesFor(2);
    } else {
      Sleep(2);
    }
  }
  return true;
}

// The simulator's input thread holds its library until it has ended: a cycle
// is one load only once the library has really gone.
bool AwaitUnload(const char* library, bool pump) {
  const ULONGLONG deadline = GetTickCount64() + 3000;
  while (GetModuleHandleA(library) != nullptr) {
    if (GetTickCount64() >= deadline) {
      std::fprintf(stderr, "load_cycle_bench: %s still loaded 3 s after its release\n", library);
      return false;
    }
    if (pump) {
      host::PumpMessagesFor(1);
    } else {
      Sleep(1);
    }
  }
  return true;
}

class Cycle {
 public:
  virtual ~Cycle() = default;
  virtual bool Prepare() { return true; }
  virtual bool Run() = 0;
  // Between samples, with the cycles settled.
  virtual void Settle() {}
};

class PluginCycle final : public Cycle {
 public:
  enum class Steps { kFull, kNoStream, kStartStop };
  explicit PluginCycle(Steps steps) : steps_(steps) {}
  ~PluginCycle() override {
    if (steps_ == Steps::kStartStop && plugin_) plugin_->CloseHW();
  }

  bool Prepare() override {
    std::string error;
    plugin_ = host::ExtIoPlugin::Load(host::ProgramDirectory() + "ExtIO_halvorn.dll", &error);
    if (!plugin_) {
      std::fprintf(stderr, "load_cycle_bench: %s\n", error.c_str());
      return false;
    }
    plugin_->SetCallback(&CountBlocks);
    return steps_ != Steps::kStartStop || Bring();
  }

  bool Run() override {
    if (steps_ != Steps::kStartStop && !Bring()) return false;
    if (steps_ != Steps::kNoStream) {
      if (plugin_->StartHW(7050000) <= 0) return Fail("StartHW");
      if (!AwaitBlocks(4, true)) return Fail("no blocks");
      plugin_->StopHW();
    }
    if (steps_ != Steps::kStartStop) {
      if (!plugin_->CloseHW()) return Fail("CloseHW");
      if (!AwaitUnload(device::kLibraryName, true)) return false;
    }
    host::PumpMessagesFor(0);
    return true;
  }

  void Settle() override { host::PumpMessagesFor(50); }

 private:
  bool Bring() {
    char name[64], model[64];
    int type = 0;
    if (!plugin_->InitHW(name, model, &type)) return Fail("InitHW");
    if (!plugin_->OpenHW()) return Fail("OpenHW");
    return true;
  }
  static bool Fail(const char* what) {
    std::fprintf(stderr, "load_cycle_bench: %s failed\n", what);
    return false;
  }

  Steps steps_;
  std::unique_ptr<host::ExtIoPlugin> plugin_;
};

// A host that unloads the plug-in and loads it again (on a rate change, or
// for each new client).
class PluginReloadCycle final : public Cycle {
 public:
  bool Run() override {
    std::string error;
    auto plugin = host::ExtIoPlugin::Load(host::ProgramDirectory() + "ExtIO_halvorn.dll", &error);
    if (!plugin) {
      std::fprintf(stderr, "load_cycle_bench: %s\n", error.c_str());
      return false;
    }
    host::PumpMessagesFor(0);
    if (!plugin->Unload()) return false;
    return AwaitUnload("ExtIO_halvorn.dll", true);
  }
};

class DeviceCycle final : public Cycle {
 public:
  enum class Steps { kLoad, kOpen, kStream };
  explicit DeviceCycle(Steps steps) : steps_(steps) {}

  bool Run() override {
    const std::string path = host::ProgramDirectory() + device::kLibraryName;
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) return Fail("LoadLibrary");
    bool ok = true;
    if (steps_ != Steps::kLoad) {
      const auto open = Entry<device::OpenFn>(library, "Open");
      const auto close = Entry<device::CloseFn>(library, "Close");
      const auto firmware = Entry<device::FirmwareDownloadFn>(library, "FirmwareDownload");
      ok = open && close && firmware && open() && firmware(nullptr) == 0;
      if (ok && steps_ == Steps::kStream) ok = Stream(library);
      if (close) close();
    }
    if (!FreeLibrary(library)) return Fail("FreeLibrary");
    return (ok || Fail("the device's calls")) && AwaitUnload(device::kLibraryName, false);
  }

 private:
  static bool Stream(HMODULE library) {
    const auto fpga = Entry<device::FpgaConfigFn>(library, "FpgaConfig");
    const auto start = Entry<device::StartAsyncInputFn>(library, "StartAsyncInput");
    const auto stop = Entry<device::StopAsyncInputFn>(library, "StopAsyncInput");
    if (!fpga || !start || !stop) return false;
    const receiver::SampleRateRow& row = receiver::kSampleRateTable[receiver::kTwoMegaSampleIndex];
    if (fpga(row.bitstream_name, row.descriptor) != 0) return false;
    if (!start(row.bytes_per_transfer(), &CountTransfer, 0)) return false;
    const bool flowed = AwaitBlocks(3, false);
    stop();
    return flowed;
  }
  static bool Fail(const char* what) {
    std::fprintf(stderr, "load_cycle_bench: %s failed (%lu)\n", what, GetLastError());
    return false;
  }

  Steps steps_;
};

class ProbeCycle final : public Cycle {
 public:
  ProbeCycle(const char* dll, int exercise) : dll_(dll), exercise_(exercise) {}

  bool Run() override {
    const std::string path = host::ProgramDirectory() + dll_;
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) {
      std::fprintf(stderr, "load_cycle_bench: %s: %s\n", dll_, host::SystemErrorText(GetLastError()).c_str());
      return false;
    }
    if (exercise_ != 0) {
      using ExerciseFn = int(__stdcall*)(int);
      const auto exercise = Entry<ExerciseFn>(library, "Exercise");
      if (exercise == nullptr || exercise(exercise_) != exercise_) {
        std::fprintf(stderr, "load_cycle_bench: %s did not do its exercise\n", dll_);
        FreeLibrary(library);
        return false;
      }
    }
    return FreeLibrary(library) != 0 && AwaitUnload(dll_, false);
  }

 private:
  const char* dll_;
  int exercise_;
};

std::unique_ptr<Cycle> MakeCycle(const std::string& kind) {
  using P = PluginCycle::Steps;
  using D = DeviceCycle::Steps;
  if (kind == "bare") return std::make_unique<ProbeCycle>("probe_bare_dll.dll", 1);
  if (kind == "bare-exitthread") return std::make_unique<ProbeCycle>("probe_bare_dll.dll", 16);
  if (kind == "c") return std::make_unique<ProbeCycle>("probe_c_dll.dll", 1);
  if (kind == "cxx-load") return std::make_unique<ProbeCycle>("probe_cxx_dll.dll", 0);
  if (kind == "cxx") return std::make_unique<ProbeCycle>("probe_cxx_dll.dll", 1 | 2);
  if (kind == "cxx-released") return std::make_unique<ProbeCycle>("probe_cxx_released_dll.dll", 1 | 2);
  if (kind == "cxx-timedwait") return std::make_unique<ProbeCycle>("probe_cxx_released_dll.dll", 1 | 2 | 8);
  if (kind == "cxx-callonce") return std::make_unique<ProbeCycle>("probe_cxx_released_dll.dll", 1 | 2 | 64);
  if (kind == "cxx-exitthread") return std::make_unique<ProbeCycle>("probe_cxx_released_dll.dll", 1 | 2 | 16);
  if (kind == "device-load") return std::make_unique<DeviceCycle>(D::kLoad);
  if (kind == "device-open") return std::make_unique<DeviceCycle>(D::kOpen);
  if (kind == "device-stream") return std::make_unique<DeviceCycle>(D::kStream);
  if (kind == "plugin-startstop") return std::make_unique<PluginCycle>(P::kStartStop);
  if (kind == "plugin-nostream") return std::make_unique<PluginCycle>(P::kNoStream);
  if (kind == "plugin") return std::make_unique<PluginCycle>(P::kFull);
  if (kind == "plugin-reload") return std::make_unique<PluginReloadCycle>();
  return nullptr;
}

const char* const kKinds[] = {"bare",
                              "bare-exitthread",
                              "c",
                              "cxx-load",
                              "cxx",
                              "cxx-released",
                              "cxx-timedwait",
                              "cxx-callonce",
                              "cxx-exitthread",
                              "device-load",
                              "device-open",
                              "device-stream",
                              "plugin-startstop",
                              "plugin-nostream",
                              "plugin",
                              "plugin-reload"};
// The trivial DLL linked as the project's DLLs are, without their release at
// unload, with a thread and a mutex.
constexpr const char* kBaseline = "cxx";

constexpr const char* kSampleFormat = "S %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld %lld\n";

void PrintSample(const Sample& s) {
  std::printf(kSampleFormat, s.cycles, s.working_set, s.committed, s.heap, s.handles, s.thread_handles, s.events,
              s.semaphores, s.threads, s.modules, s.tls);
  std::fflush(stdout);
}

int RunChild(const std::string& kind, long long cycles, long long every) {
  SetEnvironmentVariableA("HALVORNSIM_SOURCE", "blocks");
  std::unique_ptr<Cycle> cycle = MakeCycle(kind);
  if (!cycle || !cycle->Prepare()) return 2;
  // One cycle before the first sample: whatever a first load sets up for good.
  if (!cycle->Run()) return 2;
  cycle->Settle();
  PrintSample(Measure(0));
  for (long long done = 1; done <= cycles; ++done) {
    if (!cycle->Run()) {
      std::fprintf(stderr, "load_cycle_bench: %s stopped at cycle %lld\n", kind.c_str(), done);
      return 2;
    }
    if (done % every == 0 || done == cycles) {
      cycle->Settle();
      PrintSample(Measure(done));
    }
  }
  return 0;
}

// ---- The parent: one child per kind ----

// The samples of one child, and how it ended.
struct Run {
  std::vector<Sample> samples;
  DWORD exit_code = 1;
  bool complete(long long cycles) const {
    return exit_code == 0 && !samples.empty() && samples.back().cycles == cycles;
  }
};

Run RunKind(const std::string& kind, long long cycles, long long every) {
  Run run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 0)) return run;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string command =
      "\"" + std::string(program) + "\" --child " + kind + " " + std::to_string(cycles) + " " + std::to_string(every);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(write);
  if (!started) {
    CloseHandle(read);
    return run;
  }
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
  CloseHandle(read);
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &run.exit_code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    Sample s;
    if (std::sscanf(output.c_str() + at, kSampleFormat, &s.cycles, &s.working_set, &s.committed, &s.heap, &s.handles,
                    &s.thread_handles, &s.events, &s.semaphores, &s.threads, &s.modules, &s.tls) == 11) {
      run.samples.push_back(s);
    }
    at = end + 1;
  }
  return run;
}

double KiB(long long bytes) { return static_cast<double>(bytes) / 1024.0; }

const Sample& At(const std::vector<Sample>& samples, long long cycles) {
  for (const Sample& s : samples) {
    if (s.cycles >= cycles) return s;
  }
  return samples.back();
}

// Memory growth in bytes per cycle over the second half, when a first
// settling of the process is over.
double PerCycle(const std::vector<Sample>& samples, int column) {
  const Sample& middle = At(samples, samples.back().cycles / 2);
  const Sample& last = samples.back();
  if (last.cycles <= middle.cycles) return 0;
  return static_cast<double>(Memory(last, column) - Memory(middle, column)) /
         static_cast<double>(last.cycles - middle.cycles);
}

// Objects left per cycle over the whole run.
double CountPerCycle(const std::vector<Sample>& samples, long long Sample::*count) {
  const Sample& first = samples.front();
  const Sample& last = samples.back();
  if (last.cycles <= first.cycles) return 0;
  return static_cast<double>(last.*count - first.*count) / static_cast<double>(last.cycles - first.cycles);
}

void PrintRun(const std::string& kind, long long cycles, const Run& run) {
  std::printf("%s, %lld cycles\n", kind.c_str(), cycles);
  if (!run.complete(cycles)) {
    // abort() ends a process with 3: the threads library aborts when no TLS
    // index is left for it.
    std::printf("  FAILED: the child ended with exit code %lu after %lld cycles\n", run.exit_code,
                run.samples.empty() ? 0LL : run.samples.back().cycles);
  }
  std::printf("  %6s %8s %8s %8s %7s %5s %5s %5s %7s %7s %5s\n", "cycle", "ws KiB", "commit", "heap", "handles", "thr",
              "ev", "sem", "threads", "modules", "tls");
  for (const Sample& s : run.samples) {
    std::printf("  %6lld %8.0f %8.0f %8.0f %7lld %5lld %5lld %5lld %7lld %7lld %5lld\n", s.cycles, KiB(s.working_set),
                KiB(s.committed), KiB(s.heap), s.handles, s.thread_handles, s.events, s.semaphores, s.threads,
                s.modules, s.tls);
  }
  if (run.samples.size() < 2) return;
  const Sample& first = run.samples.front();
  const Sample& middle = At(run.samples, run.samples.back().cycles / 2);
  const Sample& last = run.samples.back();
  for (int column = 0; column < 3; ++column) {
    const auto per100 = [&](const Sample& from, const Sample& to) {
      return KiB(Memory(to, column) - Memory(from, column)) * 100.0 /
             static_cast<double>(std::max(1LL, to.cycles - from.cycles));
    };
    std::printf("  %-6s growth per 100 cycles: first half %8.1f KiB, second half %8.1f KiB\n", kMemoryColumns[column],
                per100(first, middle), per100(middle, last));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
    return RunChild(argv[2], std::atoll(argv[3]), std::max(1LL, std::atoll(argv[4])));
  }
  long long cycles = 400, every = 50;
  std::vector<std::string> kinds;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--cycles" && i + 1 < argc) {
      cycles = std::atoll(argv[++i]);
    } else if (argument == "--every" && i + 1 < argc) {
      every = std::atoll(argv[++i]);
    } else if (MakeCycle(argument)) {
      kinds.push_back(argument);
    } else {
      std::fprintf(stderr, "usage: load_cycle_bench.exe [--cycles N] [--every K] [kind...]\n");
      return 2;
    }
  }
  if (cycles < 2 || every < 1) return 2;
  if (kinds.empty()) kinds.assign(std::begin(kKinds), std::end(kKinds));
  // The baseline runs first, in the same run as the others.
  if (std::find(kinds.begin(), kinds.end(), kBaseline) == kinds.end()) kinds.insert(kinds.begin(), kBaseline);

  std::vector<std::pair<std::string, Run>> runs;
  for (const std::string& kind : kinds) {
    Run run = RunKind(kind, cycles, every);
    PrintRun(kind, cycles, run);
    std::fflush(stdout);
    runs.emplace_back(kind, std::move(run));
  }

  std::printf(
      "\nPer cycle: memory over the second half (bytes), objects over the whole run,\n"
      "and memory as a multiple of the trivial DLL without the release at unload (%s)\n",
      kBaseline);
  std::printf("  %-17s %8s %8s %8s %8s %6s %6s %6s %6s %9s %9s %9s\n", "kind", "ws", "commit", "heap", "handles", "thr",
              "ev", "sem", "tls", "ws x", "commit x", "heap x");
  const Run* baseline = nullptr;
  for (const auto& [kind, run] : runs) {
    if (kind == kBaseline && run.samples.size() >= 2) baseline = &run;
  }
  for (const auto& [kind, run] : runs) {
    if (run.samples.size() < 2) continue;
    std::printf("  %-17s %8.0f %8.0f %8.0f %8.2f %6.2f %6.2f %6.2f %6.2f", kind.c_str(), PerCycle(run.samples, 0),
                PerCycle(run.samples, 1), PerCycle(run.samples, 2), CountPerCycle(run.samples, &Sample::handles),
                CountPerCycle(run.samples, &Sample::thread_handles), CountPerCycle(run.samples, &Sample::events),
                CountPerCycle(run.samples, &Sample::semaphores), CountPerCycle(run.samples, &Sample::tls));
    for (int column = 0; column < 3; ++column) {
      const double base = baseline != nullptr ? PerCycle(baseline->samples, column) : 0;
      // Below 16 bytes a cycle the baseline is flat: a ratio would show noise.
      if (base >= 16) {
        std::printf(" %9.2f", PerCycle(run.samples, column) / base);
      } else {
        std::printf(" %9s", "-");
      }
    }
    std::printf("%s\n", run.complete(cycles) ? "" : "  (incomplete)");
  }
  return 0;
}
