#include "ports/win32/module_door.h"

#include <cstring>

namespace halvorn::win {

// The door's memory: one page of code, written once when the door opens and
// then only executed, and one page of data the code reads by absolute address.
struct ModuleDoor::Layout {
  static constexpr std::size_t kPage = 4096;
  enum Slot : int {
    kCount = 0,  // counted threads inside; the top bit says the module has gone
    kReleasing,  // threads releasing their reference, perhaps unloading the module
    kModule,
    kGetModuleHandleEx,
    kFreeLibrary,
    kExitThread,
    kDefWindowProc,
    kCallNextHookEx,
    kFirstTarget,
  };
  static constexpr std::uint32_t kGone = 0x80000000u;
  static constexpr std::size_t kMostTargets = kPage / 4 - kFirstTarget;
};

namespace {

using Layout = ModuleDoor::Layout;

std::uint32_t AddressOf(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// A little x86 (32-bit) machine code, written byte by byte.
class Emitter {
 public:
  explicit Emitter(std::vector<std::uint8_t>& out) : out_(out) {}

  void Bytes(std::initializer_list<std::uint8_t> bytes) { out_.insert(out_.end(), bytes); }
  void U32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  std::size_t Here() const { return out_.size(); }
  // A 32-bit displacement to a label that Bind() places later.
  std::size_t Rel32() {
    const std::size_t at = Here();
    U32(0);
    return at;
  }
  void Bind(std::size_t rel32_at) {
    const auto distance = static_cast<std::int32_t>(Here() - (rel32_at + 4));
    std::memcpy(out_.data() + rel32_at, &distance, 4);
  }

  // Counts the thread in, unless the module has gone: then to the label
  // Bind()s next. Uses eax, ecx and edx, which every convention here leaves free.
  std::size_t CountInOrJump(std::uint32_t count) {
    Bytes({0xB9});  // mov ecx, count
    U32(count);
    const std::size_t retry = Here();
    Bytes({0x8B, 0x01, 0x85, 0xC0, 0x0F, 0x88});  // mov eax,[ecx]; test eax,eax; js gone
    const std::size_t gone = Rel32();
    Bytes({0x8D, 0x50, 0x01, 0xF0, 0x0F, 0xB1, 0x11});                 // lea edx,[eax+1]; lock cmpxchg [ecx],edx
    Bytes({0x75, static_cast<std::uint8_t>(retry - (Here() + 2))});  // jne retry
    return gone;
  }
  void CountOut(std::uint32_t count) {
    Bytes({0xF0, 0xFF, 0x0D});  // lock dec dword [count]
    U32(count);
  }
  // Pushes the caller's stack arguments again, last first, from esp.
  void PushArguments(int argument_bytes) {
    for (int i = 0; i < argument_bytes / 4; ++i) {
      Bytes({0xFF, 0x74, 0x24, static_cast<std::uint8_t>(argument_bytes)});  // push [esp+n]
    }
  }
  // The same from a frame pointer set up at entry.
  void PushArgumentsFromFrame(int argument_bytes) {
    for (int offset = 8 + argument_bytes - 4; offset >= 8; offset -= 4) {
      Bytes({0xFF, 0x75, static_cast<std::uint8_t>(offset)});  // push [ebp+offset]
    }
  }
  void PushSlot(std::uint32_t slot) {
    Bytes({0xFF, 0x35});  // push dword [slot]
    U32(slot);
  }
  void CallThrough(std::uint32_t slot) {
    Bytes({0xFF, 0x15});  // call [slot]
    U32(slot);
  }
  void JumpThrough(std::uint32_t slot) {
    Bytes({0xFF, 0x25});  // jmp [slot]
    U32(slot);
  }
  void Return(int argument_bytes) { Bytes({0xC2, static_cast<std::uint8_t>(argument_bytes), 0x00}); }
  void ExitThreadThrough(std::uint32_t slot) {
    Bytes({0x6A, 0x00});  // push 0
    CallThrough(slot);
  }

 private:
  std::vector<std::uint8_t>& out_;
};

}  // namespace

std::unique_ptr<ModuleDoor> ModuleDoor::Open(HMODULE module, const std::vector<Entry>& entries) {
#if defined(_WIN64)
  return nullptr;  // the door's code is 32-bit
#else
  if (entries.size() > Layout::kMostTargets) return nullptr;
  auto* memory = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, 2 * Layout::kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (memory == nullptr) return nullptr;
  std::unique_ptr<ModuleDoor> door(new ModuleDoor(memory));

  auto* slots = reinterpret_cast<std::uint32_t*>(memory + Layout::kPage);
  const auto slot = [slots](std::size_t index) { return AddressOf(&slots[index]); };
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const HMODULE user = GetModuleHandleA("user32.dll");
  slots[Layout::kModule] = AddressOf(module);
  slots[Layout::kGetModuleHandleEx] = AddressOf(reinterpret_cast<void*>(GetProcAddress(kernel, "GetModuleHandleExA")));
  slots[Layout::kFreeLibrary] = AddressOf(reinterpret_cast<void*>(GetProcAddress(kernel, "FreeLibrary")));
  slots[Layout::kExitThread] = AddressOf(reinterpret_cast<void*>(GetProcAddress(kernel, "ExitThread")));
  slots[Layout::kDefWindowProc] = AddressOf(reinterpret_cast<void*>(GetProcAddress(user, "DefWindowProcA")));
  slots[Layout::kCallNextHookEx] = AddressOf(reinterpret_cast<void*>(GetProcAddress(user, "CallNextHookEx")));
  const std::uint32_t count = slot(Layout::kCount);

  std::vector<std::uint8_t> code;
  Emitter out(code);
  const auto when_gone = [&](const Entry& entry) {
    switch (entry.when_gone) {
      case WhenGone::kDefaultWindowProcedure: out.JumpThrough(slot(Layout::kDefWindowProc)); break;
      case WhenGone::kNextHook:
        out.PushArguments(entry.argument_bytes);
        out.Bytes({0x6A, 0x00});  // push 0: no hook handle is needed
        out.CallThrough(slot(Layout::kCallNextHookEx));
        out.Return(entry.argument_bytes);
        break;
      case WhenGone::kReturn:
        out.Bytes({0xB8});  // mov eax, result
        out.U32(entry.result_when_gone);
        out.Return(entry.argument_bytes);
        break;
    }
  };

  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    const std::uint32_t target = slot(Layout::kFirstTarget + i);
    slots[Layout::kFirstTarget + i] = AddressOf(entry.target);
    door->ways_in_.emplace_back(entry.target, memory + out.Here());
    switch (entry.way) {
      case Way::kHoldingTheModule: {
        out.Bytes({0x55, 0x89, 0xE5, 0x83, 0xEC, 0x04});  // push ebp; mov ebp,esp; sub esp,4
        out.Bytes({0x8D, 0x45, 0xFC, 0x50});              // lea eax,[ebp-4]; push eax
        out.PushSlot(slot(Layout::kModule));
        out.Bytes({0x6A, 0x04});  // push GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
        out.CallThrough(slot(Layout::kGetModuleHandleEx));
        out.Bytes({0x85, 0xC0, 0x0F, 0x84});  // test eax,eax; jz gone
        const std::size_t gone = out.Rel32();
        out.PushArgumentsFromFrame(entry.argument_bytes);
        out.CallThrough(target);
        out.Bytes({0x50, 0xFF, 0x75, 0xFC});  // push eax; push [ebp-4]
        out.Bytes({0xF0, 0xFF, 0x05});        // lock inc dword [releasing]
        out.U32(slot(Layout::kReleasing));
        out.CallThrough(slot(Layout::kFreeLibrary));
        out.Bytes({0xF0, 0xFF, 0x0D});  // lock dec dword [releasing]
        out.U32(slot(Layout::kReleasing));
        out.Bytes({0x58, 0x89, 0xEC, 0x5D});  // pop eax; mov esp,ebp; pop ebp
        out.Return(entry.argument_bytes);
        out.Bind(gone);
        out.Bytes({0x89, 0xEC, 0x5D});  // mov esp,ebp; pop ebp
        when_gone(entry);
        break;
      }
      case Way::kCounted: {
        const std::size_t gone = out.CountInOrJump(count);
        out.PushArguments(entry.argument_bytes);
        out.CallThrough(target);
        out.CountOut(count);
        out.Return(entry.argument_bytes);
        out.Bind(gone);
        when_gone(entry);
        break;
      }
      case Way::kThreadStart: {
        // Its last instructions are the door's, never the module's.
        const std::size_t gone = out.CountInOrJump(count);
        out.PushArguments(entry.argument_bytes);
        out.CallThrough(target);
        out.CountOut(count);
        out.Bind(gone);
        out.ExitThreadThrough(slot(Layout::kExitThread));
        break;
      }
    }
  }

  // A thread of the module's own calling the host: counted out while in the
  // host, back in only through the door. The frame pointer restores the
  // stack whatever the callee took off it.
  door->host_call_ = memory + out.Here();
  out.Bytes({0x55, 0x89, 0xE5});  // push ebp; mov ebp,esp
  out.CountOut(count);
  out.Bytes({0xFF, 0x75, 0x18, 0xFF, 0x75, 0x14, 0xFF, 0x75, 0x10, 0xFF, 0x75, 0x0C});  // push [ebp+24..12]
  out.Bytes({0xFF, 0x55, 0x08, 0x89, 0xEC});                                          // call [ebp+8]; mov esp,ebp
  const std::size_t gone = out.CountInOrJump(count);
  out.Bytes({0x5D, 0xC3});  // pop ebp; ret
  out.Bind(gone);
  out.ExitThreadThrough(slot(Layout::kExitThread));

  DWORD previous = 0;
  if (code.size() > Layout::kPage) return nullptr;
  std::memcpy(memory, code.data(), code.size());
  if (!VirtualProtect(memory, Layout::kPage, PAGE_EXECUTE_READ, &previous)) return nullptr;
  FlushInstructionCache(GetCurrentProcess(), memory, Layout::kPage);
  return door;
#endif
}

ModuleDoor::~ModuleDoor() {
  if (!keep_) VirtualFree(memory_, 0, MEM_RELEASE);
}

const void* ModuleDoor::Find(const void* target) const {
  for (const auto& [known, thunk] : ways_in_) {
    if (known == target) return thunk;
  }
  return target;
}

bool ModuleDoor::Close(DWORD timeout_ms, void (*meanwhile)()) {
  auto* count = reinterpret_cast<volatile LONG*>(memory_ + Layout::kPage + 4 * Layout::kCount);
  auto* releasing = reinterpret_cast<volatile LONG*>(memory_ + Layout::kPage + 4 * Layout::kReleasing);
  // A thread whose release unloads the module (this one, perhaps) comes back
  // to the door from FreeLibrary.
  if (*releasing != 0) keep_ = true;
  const DWORD started = GetTickCount();
  for (;;) {
    if (InterlockedCompareExchange(count, static_cast<LONG>(Layout::kGone), 0) == 0) return true;
    if (GetTickCount() - started >= timeout_ms) break;
    if (meanwhile != nullptr) meanwhile();
    Sleep(1);
  }
  // A counted thread is still inside and will not come out in time: shut all
  // the same, so nothing new comes in, and the memory stays for that thread.
  InterlockedOr(count, static_cast<LONG>(Layout::kGone));
  keep_ = true;
  return false;
}

}  // namespace halvorn::win
