#include "ports/win32/module_door.h"

#include <cstring>
#include <vector>

namespace halvorn::win {

// The door's memory: one page of code, written once when the door opens and
// then only executed, and one page of data. Addresses in the code are
// absolute: the thunks read their targets from the data page.
struct ModuleDoor::Layout {
  static constexpr std::size_t kPage = 4096;
  enum Slot : int {
    kCount = 0,  // threads inside; the top bit says closed
    kExitThread,
    kDefWindowProc,
    kCallNextHookEx,
    kWindowTarget,
    kDialogTarget,
    kHookTarget,
    kTwoArgumentTarget,
    kThreadTarget,
    kSlotCount,
  };
  enum Thunk : int { kWindow = 0, kDialog, kHook, kTwoArgument, kThread, kHostCall, kThunkCount };
  static constexpr std::uint32_t kClosed = 0x80000000u;
};

namespace {

using Layout = ModuleDoor::Layout;

// A little x86 (32-bit) machine code, written byte by byte.
class Emitter {
 public:
  explicit Emitter(std::vector<std::uint8_t>& out) : out_(out) {}

  void Bytes(std::initializer_list<std::uint8_t> bytes) { out_.insert(out_.end(), bytes); }
  void U32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  std::size_t Here() const { return out_.size(); }
  // A 32-bit relative jump target, filled in by Bind.
  std::size_t Rel32() {
    const std::size_t at = Here();
    U32(0);
    return at;
  }
  void Bind(std::size_t rel32_at) {
    const auto distance = static_cast<std::int32_t>(Here() - (rel32_at + 4));
    std::memcpy(out_.data() + rel32_at, &distance, 4);
  }

  // Comes in unless the door is closed; then jumps to the label Bind()s next.
  // Uses eax, ecx and edx, which every calling convention here leaves free.
  std::size_t EnterOrJump(std::uint32_t count) {
    Bytes({0xB9});  // mov ecx, count
    U32(count);
    const std::size_t retry = Here();
    Bytes({0x8B, 0x01, 0x85, 0xC0, 0x0F, 0x88});  // mov eax,[ecx]; test eax,eax; js closed
    const std::size_t closed = Rel32();
    Bytes({0x8D, 0x50, 0x01, 0xF0, 0x0F, 0xB1, 0x11});  // lea edx,[eax+1]; lock cmpxchg [ecx],edx
    Bytes({0x75, static_cast<std::uint8_t>(retry - (Here() + 2))});  // jne retry
    return closed;
  }
  void Leave(std::uint32_t count) {
    Bytes({0xF0, 0xFF, 0x0D});  // lock dec dword [count]
    U32(count);
  }
  // Pushes the caller's stack arguments again, last first.
  void PushArguments(int argument_bytes) {
    for (int i = 0; i < argument_bytes / 4; ++i) {
      Bytes({0xFF, 0x74, 0x24, static_cast<std::uint8_t>(argument_bytes)});  // push [esp+n]
    }
  }
  void CallThrough(std::uint32_t slot) {
    Bytes({0xFF, 0x15});  // call [slot]
    U32(slot);
  }
  void JumpThrough(std::uint32_t slot) {
    Bytes({0xFF, 0x25});  // jmp [slot]
    U32(slot);
  }
  void Return(int argument_bytes) {
    Bytes({0xC2, static_cast<std::uint8_t>(argument_bytes), 0x00});  // ret n
  }
  void ExitThreadThrough(std::uint32_t slot) {
    Bytes({0x6A, 0x00});  // push 0
    CallThrough(slot);
  }

 private:
  std::vector<std::uint8_t>& out_;
};

std::uint32_t AddressOf(const void* pointer) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer)); }

}  // namespace

std::unique_ptr<ModuleDoor> ModuleDoor::Open() {
#if defined(_WIN64)
  return nullptr;  // the thunks are 32-bit code
#else
  auto* memory = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, 2 * Layout::kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (memory == nullptr) return nullptr;
  std::unique_ptr<ModuleDoor> door(new ModuleDoor(memory));

  auto* slots = reinterpret_cast<std::uint32_t*>(memory + Layout::kPage);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const HMODULE user = GetModuleHandleA("user32.dll");
  slots[Layout::kExitThread] = AddressOf(reinterpret_cast<void*>(GetProcAddress(kernel, "ExitThread")));
  slots[Layout::kDefWindowProc] = AddressOf(reinterpret_cast<void*>(GetProcAddress(user, "DefWindowProcA")));
  slots[Layout::kCallNextHookEx] = AddressOf(reinterpret_cast<void*>(GetProcAddress(user, "CallNextHookEx")));
  const auto slot = [slots](int index) { return AddressOf(&slots[index]); };
  const std::uint32_t count = slot(Layout::kCount);

  std::vector<std::uint8_t> code;
  Emitter out(code);
  std::uint32_t* entries = reinterpret_cast<std::uint32_t*>(memory + Layout::kPage) + Layout::kSlotCount;

  // Window and dialog procedures and the message hook: stdcall, forwarded
  // while open; closed, the default takes the message.
  const auto procedure = [&](int thunk, int target, int argument_bytes, auto&& when_closed) {
    entries[thunk] = AddressOf(memory) + static_cast<std::uint32_t>(out.Here());
    const std::size_t closed = out.EnterOrJump(count);
    out.PushArguments(argument_bytes);
    out.CallThrough(slot(target));
    out.Leave(count);
    out.Return(argument_bytes);
    out.Bind(closed);
    when_closed();
  };
  procedure(Layout::kWindow, Layout::kWindowTarget, 16, [&] { out.JumpThrough(slot(Layout::kDefWindowProc)); });
  procedure(Layout::kDialog, Layout::kDialogTarget, 16, [&] {
    out.Bytes({0x31, 0xC0});  // xor eax, eax
    out.Return(16);
  });
  procedure(Layout::kHook, Layout::kHookTarget, 12, [&] {
    out.PushArguments(12);
    out.Bytes({0x6A, 0x00});  // push 0: no hook handle is needed
    out.CallThrough(slot(Layout::kCallNextHookEx));
    out.Return(12);
  });
  procedure(Layout::kTwoArgument, Layout::kTwoArgumentTarget, 8, [&] {
    out.Bytes({0xB8, 0x01, 0x00, 0x00, 0x00});  // mov eax, 1
    out.Return(8);
  });

  // A thread of the module's own: comes in, runs, leaves, and ends here, so
  // its last instructions are never the module's.
  entries[Layout::kThread] = AddressOf(memory) + static_cast<std::uint32_t>(out.Here());
  {
    const std::size_t closed = out.EnterOrJump(count);
    out.PushArguments(4);
    out.CallThrough(slot(Layout::kThreadTarget));
    out.Leave(count);
    out.Bind(closed);
    out.ExitThreadThrough(slot(Layout::kExitThread));
  }

  // The module's own thread calling the host: outside while in the host, and
  // back in only through the door. The frame pointer restores the stack
  // whatever the callee took off it.
  entries[Layout::kHostCall] = AddressOf(memory) + static_cast<std::uint32_t>(out.Here());
  {
    out.Bytes({0x55, 0x89, 0xE5});  // push ebp; mov ebp, esp
    out.Leave(count);
    out.Bytes({0xFF, 0x75, 0x18, 0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF, 0x75, 0x0C});  // push [ebp+24..12]
    out.Bytes({0xFF, 0x55, 0x08});  // call [ebp+8]
    out.Bytes({0x89, 0xEC});        // mov esp, ebp
    const std::size_t closed = out.EnterOrJump(count);
    out.Bytes({0x5D, 0xC3});  // pop ebp; ret
    out.Bind(closed);
    out.ExitThreadThrough(slot(Layout::kExitThread));
  }

  std::memcpy(memory, code.data(), code.size());
  DWORD previous = 0;
  if (code.size() > Layout::kPage || !VirtualProtect(memory, Layout::kPage, PAGE_EXECUTE_READ, &previous)) {
    return nullptr;
  }
  FlushInstructionCache(GetCurrentProcess(), memory, Layout::kPage);
  return door;
#endif
}

ModuleDoor::ModuleDoor(std::uint8_t* memory) : memory_(memory) {}

ModuleDoor::~ModuleDoor() {
  if (!keep_) VirtualFree(memory_, 0, MEM_RELEASE);
}

std::uint32_t* ModuleDoor::Slot() { return reinterpret_cast<std::uint32_t*>(memory_ + Layout::kPage); }

namespace {

template <typename Function>
Function Thunk(std::uint32_t* slots, int thunk) {
  return reinterpret_cast<Function>(static_cast<std::uintptr_t>(slots[Layout::kSlotCount + thunk]));
}

}  // namespace

WNDPROC ModuleDoor::WindowProcedure(WNDPROC target) {
  Slot()[Layout::kWindowTarget] = AddressOf(reinterpret_cast<void*>(target));
  return Thunk<WNDPROC>(Slot(), Layout::kWindow);
}

DLGPROC ModuleDoor::DialogProcedure(DLGPROC target) {
  Slot()[Layout::kDialogTarget] = AddressOf(reinterpret_cast<void*>(target));
  return Thunk<DLGPROC>(Slot(), Layout::kDialog);
}

HOOKPROC ModuleDoor::MessageHook(HOOKPROC target) {
  Slot()[Layout::kHookTarget] = AddressOf(reinterpret_cast<void*>(target));
  return Thunk<HOOKPROC>(Slot(), Layout::kHook);
}

void* ModuleDoor::TwoArgumentEntry(void* target) {
  Slot()[Layout::kTwoArgumentTarget] = AddressOf(target);
  return Thunk<void*>(Slot(), Layout::kTwoArgument);
}

LPTHREAD_START_ROUTINE ModuleDoor::ThreadStart(LPTHREAD_START_ROUTINE target) {
  Slot()[Layout::kThreadTarget] = AddressOf(reinterpret_cast<void*>(target));
  return Thunk<LPTHREAD_START_ROUTINE>(Slot(), Layout::kThread);
}

void* ModuleDoor::HostCall() { return Thunk<void*>(Slot(), Layout::kHostCall); }

bool ModuleDoor::Close(DWORD timeout_ms, void (*meanwhile)()) {
  auto* count = reinterpret_cast<volatile LONG*>(&Slot()[Layout::kCount]);
  const DWORD started = GetTickCount();
  for (;;) {
    if (InterlockedCompareExchange(count, static_cast<LONG>(Layout::kClosed), 0) == 0) return true;
    if (GetTickCount() - started >= timeout_ms) break;
    if (meanwhile != nullptr) meanwhile();
    Sleep(1);
  }
  // Someone is still inside and will not come out in time: closed all the
  // same, so nothing new comes in, and the memory stays for whoever leaves.
  InterlockedOr(count, static_cast<LONG>(Layout::kClosed));
  keep_ = true;
  return false;
}

}  // namespace halvorn::win
