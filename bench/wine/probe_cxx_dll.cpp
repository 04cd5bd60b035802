// A trivial DLL built the way halvornusb.dll is (-static, libstdc++, posix
// threads), for load_cycle_bench: what the static runtime alone leaves
// behind per load. Built twice: as the toolchain gives it, and with the
// project's release of the runtime at unload (ports/win32/runtime_release.cpp).
// Exercise(what) uses the runtime's parts one by one.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::mutex g_mutex;
int g_counter = 0;

DWORD WINAPI EndsHoldingTheLibrary(void* library) {
  // The threads library now knows this thread.
  if (std::this_thread::get_id() != std::thread::id()) ++g_counter;
  // Long enough for the caller's FreeLibrary to come first.
  Sleep(20);
  FreeLibraryAndExitThread(static_cast<HMODULE>(library), 0);
}

}  // namespace

// Bits of `what`: 1 a std::thread started and joined, 2 a std::mutex locked,
// 8 a timed condition-variable wait that times out, 64 a std::call_once,
// 16 a thread of CreateThread that the threads library knows and that drops
// the last reference to this DLL as it ends (as the simulator's input thread
// does).
extern "C" __declspec(dllexport) int __stdcall Exercise(int what) {
  int result = 0;
  if (what & 1) {
    std::thread thread([] { ++g_counter; });
    thread.join();
    result |= 1;
  }
  if (what & 2) {
    std::lock_guard lock(g_mutex);
    ++g_counter;
    result |= 2;
  }
  if (what & 8) {
    std::mutex mutex;
    std::condition_variable condition;
    std::unique_lock lock(mutex);
    condition.wait_for(lock, std::chrono::milliseconds(1));
    result |= 8;
  }
  if (what & 64) {
    static std::once_flag once;
    std::call_once(once, [] { ++g_counter; });
    result |= 64;
  }
  if (what & 16) {
    HMODULE self = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Exercise), &self)) {
      if (HANDLE thread = CreateThread(nullptr, 0, &EndsHoldingTheLibrary, self, 0, nullptr)) {
        CloseHandle(thread);
        result |= 16;
      } else {
        FreeLibrary(self);
      }
    }
  }
  return result;
}
