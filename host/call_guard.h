// Ends the program when a call into the plug-in does not come back: a host
// that hangs together with the plug-in tells nobody what went wrong. A
// thread of its own watches the one call in progress and, past its limit,
// says which call hangs and ends the process with the given exit status
// (without unloading the plug-in, whose code may be what hangs).
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

namespace halvorn::host {

class CallGuard {
 public:
  explicit CallGuard(int exit_status);
  ~CallGuard();
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;

  class Scope {
   public:
    ~Scope() { guard_.Leave(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    friend class CallGuard;
    explicit Scope(CallGuard& guard) : guard_(guard) {}
    CallGuard& guard_;
  };

  // Watches the call `name` (a string literal) for at most `limit_ms`.
  [[nodiscard]] Scope Enter(const char* name, DWORD limit_ms);

 private:
  void Leave();
  void Run();

  const int exit_status_;
  std::atomic<const char*> call_{nullptr};
  std::atomic<ULONGLONG> deadline_ms_{0};
  std::atomic<DWORD> limit_ms_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace halvorn::host
