#include "host/call_guard.h"

#include <cstdio>

namespace halvorn::host {

CallGuard::CallGuard(int exit_status) : exit_status_(exit_status), thread_([this] { Run(); }) {}

CallGuard::~CallGuard() {
  stop_.store(true);
  thread_.join();
}

CallGuard::Scope CallGuard::Enter(const char* name, DWORD limit_ms) {
  limit_ms_.store(limit_ms);
  deadline_ms_.store(GetTickCount64() + limit_ms);
  call_.store(name);
  return Scope(*this);
}

void CallGuard::Leave() { call_.store(nullptr); }

void CallGuard::Run() {
  while (!stop_.load()) {
    Sleep(100);
    const char* call = call_.load();
    if (call == nullptr || GetTickCount64() < deadline_ms_.load()) continue;
    // Still the same call, and still not back.
    if (call_.load() != call) continue;
    std::fflush(stdout);
    std::fprintf(stderr, "extio_host: %s has not returned after %lu s: the plug-in hangs\n", call,
                 static_cast<unsigned long>(limit_ms_.load() / 1000));
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exit_status_));
  }
}

}  // namespace halvorn::host
