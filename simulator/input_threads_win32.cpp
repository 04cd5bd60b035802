#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "simulator/input_threads.h"

namespace halvorn::simulator {
namespace {

struct Launched {
  void (*body)(void*);
  void* context;
  HMODULE library;  // the reference this thread holds
};

DWORD WINAPI InputThreadMain(void* argument) {
  const Launched launched = *static_cast<Launched*>(argument);
  delete static_cast<Launched*>(argument);
  launched.body(launched.context);
  // Drops the thread's reference and ends it without returning into code
  // that the release may have unmapped.
  FreeLibraryAndExitThread(launched.library, 0);
}

// The threads library looks its clock up on the first timed wait, which takes
// the loader's lock. The input thread makes its timed waits holding the
// input's mutex, which a stop waits for; a stop inside an unload holds the
// loader's lock. One wait here, before any input thread exists, does the
// lookup, so no input thread ever needs that lock.
void LookUpTheClock() {
  std::mutex mutex;
  std::condition_variable condition;
  std::unique_lock lock(mutex);
  condition.wait_until(lock, std::chrono::steady_clock::now());
}

}  // namespace

// Nothing to keep: every thread holds the library itself.
struct InputThreads::Threads {};

InputThreads::InputThreads() = default;
InputThreads::~InputThreads() = default;

bool InputThreads::Launch(void (*body)(void*), void* context) {
  static std::once_flag clock_looked_up;
  std::call_once(clock_looked_up, &LookUpTheClock);
  HMODULE library = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&InputThreadMain), &library)) {
    return false;
  }
  auto* launched = new (std::nothrow) Launched{body, context, library};
  if (launched == nullptr) {
    FreeLibrary(library);
    return false;
  }
  HANDLE thread = CreateThread(nullptr, 0, &InputThreadMain, launched, CREATE_SUSPENDED, nullptr);
  if (thread == nullptr) {
    delete launched;
    FreeLibrary(library);
    return false;
  }
  // A USB driver's completion thread outranks the application's threads.
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  ResumeThread(thread);
  CloseHandle(thread);
  return true;
}

std::uint64_t CurrentThreadToken() { return GetCurrentThreadId(); }

}  // namespace halvorn::simulator
