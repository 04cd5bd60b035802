#include "ports/win32/module_door.h"

#include "ports/deadline.h"

#include <cstring>

// The templates, in module_door_thunks.S.
extern "C" {
extern const std::uint8_t halvorn_door_holding_begin[], halvorn_door_holding_end[];
extern const std::uint8_t halvorn_door_counted_begin[], halvorn_door_counted_end[];
extern const std::uint8_t halvorn_door_thread_begin[], halvorn_door_thread_end[];
extern const std::uint8_t halvorn_door_counted_step_out_begin[], halvorn_door_counted_step_out_end[];
extern const std::uint8_t halvorn_door_release_begin[], halvorn_door_release_end[];
extern const std::uint8_t halvorn_door_window_thread_begin[], halvorn_door_window_thread_end[];
extern const std::uint8_t halvorn_door_window_thread_last_steps[];
extern const std::uint8_t halvorn_door_holding_step_out_begin[], halvorn_door_holding_step_out_end[];
}

namespace halvorn::win {
namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kThunkAlignment = 16;
// Each template begins with `mov edx, imm32`: the record's address goes here.
constexpr std::size_t kRecordOperand = 1;

// The data page, in 32-bit words (see module_door_thunks.S).
enum HeaderWord : std::size_t {
  kCount = 0,
  kModule,
  kGetModuleHandleEx,
  kFreeLibrary,
  kExitThread,
  kSetEvent,
  kCloseHandle,
  kGetMessage,
  kTranslateMessage,
  kDispatchMessage,
  kDestroyWindow,
  kUnregisterClass,
  kWindowThreadSetup,
  kWindowThreadKeys,
  kInstance,
  kWindows,
  kWindowClasses = kWindows + 4,
  kWindowThreadLastSteps = kWindowClasses + 4,
  kHeaderWords = 24,
};
constexpr std::size_t kCleanupSlots = 4;
// The offsets module_door_thunks.S reads.
static_assert(kExitThread * 4 == 16 && kCloseHandle * 4 == 24 && kUnregisterClass * 4 == 44);
static_assert(kWindowThreadSetup * 4 == 48 && kInstance * 4 == 56 && kWindows * 4 == 60);
static_assert(kWindowClasses * 4 == 76 && kWindowThreadLastSteps * 4 == 92 && kHeaderWords * 4 == 96);
constexpr std::size_t kRecordWords = 4;
constexpr std::uint32_t kGone = 0x80000000u;

struct Template {
  const std::uint8_t* begin;
  const std::uint8_t* end;
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
};

constexpr Template kHolding{halvorn_door_holding_begin, halvorn_door_holding_end};
constexpr Template kCounted{halvorn_door_counted_begin, halvorn_door_counted_end};
constexpr Template kThread{halvorn_door_thread_begin, halvorn_door_thread_end};
constexpr Template kCountedStepOut{halvorn_door_counted_step_out_begin, halvorn_door_counted_step_out_end};
constexpr Template kRelease{halvorn_door_release_begin, halvorn_door_release_end};
constexpr Template kWindowThread{halvorn_door_window_thread_begin, halvorn_door_window_thread_end};
constexpr Template kHoldingStepOut{halvorn_door_holding_step_out_begin, halvorn_door_holding_step_out_end};

const Template& TemplateFor(ModuleDoor::Way way) {
  switch (way) {
    case ModuleDoor::Way::kHoldingTheModule: return kHolding;
    case ModuleDoor::Way::kCounted: return kCounted;
    case ModuleDoor::Way::kThreadStart: break;
  }
  return kThread;
}

std::size_t Aligned(std::size_t bytes) { return (bytes + kThunkAlignment - 1) & ~(kThunkAlignment - 1); }

std::uint32_t AddressOf(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

std::uint32_t Import(const char* library, const char* name) {
  return AddressOf(reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleA(library), name)));
}

}  // namespace

std::unique_ptr<ModuleDoor> ModuleDoor::Open(HMODULE module, const std::vector<Entry>& entries) {
#if defined(_WIN64)
  return nullptr;  // the templates are 32-bit code
#else
  std::size_t code_bytes = Aligned(kCountedStepOut.size()) + Aligned(kRelease.size()) +
                           Aligned(kWindowThread.size()) + Aligned(kHoldingStepOut.size());
  for (const Entry& entry : entries) code_bytes += Aligned(TemplateFor(entry.way).size());
  const std::size_t records = entries.size() + 1;  // the entries' and the library release's
  if ((kHeaderWords + records * kRecordWords) * 4 > kPage) return nullptr;
  const std::size_t data_offset = (code_bytes + kPage - 1) / kPage * kPage;

  auto* memory = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, data_offset + kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (memory == nullptr) return nullptr;
  std::unique_ptr<ModuleDoor> door(new ModuleDoor(memory));
  door->data_offset_ = data_offset;

  std::uint32_t* words = door->header();
  words[kModule] = AddressOf(module);
  words[kGetModuleHandleEx] = Import("kernel32.dll", "GetModuleHandleExA");
  words[kFreeLibrary] = Import("kernel32.dll", "FreeLibrary");
  words[kExitThread] = Import("kernel32.dll", "ExitThread");
  words[kSetEvent] = Import("kernel32.dll", "SetEvent");
  words[kCloseHandle] = Import("kernel32.dll", "CloseHandle");
  words[kGetMessage] = Import("user32.dll", "GetMessageA");
  words[kTranslateMessage] = Import("user32.dll", "TranslateMessage");
  words[kDispatchMessage] = Import("user32.dll", "DispatchMessageA");
  words[kDestroyWindow] = Import("user32.dll", "DestroyWindow");
  words[kUnregisterClass] = Import("user32.dll", "UnregisterClassA");
  words[kInstance] = AddressOf(module);

  std::size_t code_at = 0;
  const auto place = [&](const Template& thunk, const std::uint32_t* record) {
    std::uint8_t* at = memory + code_at;
    std::memcpy(at, thunk.begin, thunk.size());
    const std::uint32_t operand = AddressOf(record);
    std::memcpy(at + kRecordOperand, &operand, sizeof operand);
    code_at += Aligned(thunk.size());
    return static_cast<void*>(at);
  };

  std::uint32_t* record = words + kHeaderWords;
  for (const Entry& entry : entries) {
    record[0] = AddressOf(entry.target);
    record[1] = static_cast<std::uint32_t>(entry.argument_bytes);
    record[2] = entry.answer_when_gone;
    record[3] = AddressOf(entry.stand_in_when_gone);
    door->ways_in_.emplace_back(entry.target, place(TemplateFor(entry.way), record));
    record += kRecordWords;
  }
  door->counted_step_out_ = reinterpret_cast<StepOut>(place(kCountedStepOut, words));
  door->window_step_out_ = reinterpret_cast<StepOut>(place(kHoldingStepOut, words));
  door->window_thread_ = place(kWindowThread, words);
  words[kWindowThreadLastSteps] =
      AddressOf(static_cast<std::uint8_t*>(door->window_thread_) +
                (halvorn_door_window_thread_last_steps - halvorn_door_window_thread_begin));
  door->release_record_ = record;
  door->release_ = place(kRelease, record);

  DWORD previous = 0;
  if (!VirtualProtect(memory, data_offset, PAGE_EXECUTE_READ, &previous)) return nullptr;
  FlushInstructionCache(GetCurrentProcess(), memory, data_offset);
  return door;
#endif
}

std::uint32_t* ModuleDoor::header() const { return reinterpret_cast<std::uint32_t*>(memory_ + data_offset_); }

const void* ModuleDoor::Find(const void* target) const {
  for (const auto& [known, thunk] : ways_in_) {
    if (known == target) return thunk;
  }
  return target;
}

LPTHREAD_START_ROUTINE ModuleDoor::WindowThreadStart(const void* setup, const void* keys) {
  header()[kWindowThreadSetup] = AddressOf(Find(setup));
  header()[kWindowThreadKeys] = AddressOf(Find(keys));
  return reinterpret_cast<LPTHREAD_START_ROUTINE>(window_thread_);
}

bool ModuleDoor::Replace(std::size_t first, std::size_t count, std::uint32_t old, std::uint32_t value) {
  for (std::size_t i = first; i < first + count; ++i) {
    if (header()[i] == old) {
      header()[i] = value;
      return true;
    }
  }
  return false;
}

void ModuleDoor::RecordWindow(HWND window) { Replace(kWindows, kCleanupSlots, 0, AddressOf(window)); }
void ModuleDoor::ForgetWindow(HWND window) { Replace(kWindows, kCleanupSlots, AddressOf(window), 0); }
void ModuleDoor::RecordWindowClass(ATOM atom) { Replace(kWindowClasses, kCleanupSlots, 0, atom); }
void ModuleDoor::ForgetWindowClass(ATOM atom) { Replace(kWindowClasses, kCleanupSlots, atom, 0); }

bool ModuleDoor::ReleaseAfterUnload(const LibraryRelease& release) {
  release_record_[0] = AddressOf(release.stop_input);
  release_record_[1] = AddressOf(release.close);
  release_record_[2] = AddressOf(release.library);
  release_record_[3] = AddressOf(release.done);
  // Held by the loader until the unload is over; the thread does not enter
  // the module, so nothing waits for it.
  const HANDLE thread =
      CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(release_), nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  return true;
}

bool ModuleDoor::Close(DWORD timeout_ms, void (*meanwhile)()) {
  auto* count = reinterpret_cast<volatile LONG*>(&header()[kCount]);
  const bool shut = PollUntil(
      timeout_ms, [count] { return InterlockedCompareExchange(count, static_cast<LONG>(kGone), 0) == 0; },
      [meanwhile] {
        if (meanwhile != nullptr) meanwhile();
      });
  // A counted thread still inside will not come out in time: shut all the
  // same, so nothing new comes in.
  if (!shut) InterlockedOr(count, static_cast<LONG>(kGone));
  return shut;
}

}  // namespace halvorn::win
