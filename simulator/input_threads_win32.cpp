#include <windows.h>

#include "simulator/input_threads.h"

namespace halvorn::simulator {
namespace {

struct Body {
  void (*run)(void*) = nullptr;
  void* context = nullptr;
};

DWORD WINAPI InputThreadMain(void* argument) {
  const auto* body = static_cast<const Body*>(argument);
  body->run(body->context);
  return 0;
}

}  // namespace

struct InputThreads::Thread {
  HANDLE handle = nullptr;
  Body body;  // read by the thread, which is joined before the next launch
};

InputThreads::InputThreads() : thread_(std::make_unique<Thread>()) {}

InputThreads::~InputThreads() { Join(); }

bool InputThreads::Launch(void (*body)(void*), void* context) {
  thread_->body = {body, context};
  HANDLE handle = CreateThread(nullptr, 0, &InputThreadMain, &thread_->body, CREATE_SUSPENDED, nullptr);
  if (handle == nullptr) return false;
  // A USB driver's completion thread outranks the application's threads.
  SetThreadPriority(handle, THREAD_PRIORITY_HIGHEST);
  ResumeThread(handle);
  thread_->handle = handle;
  return true;
}

void InputThreads::Join() {
  if (thread_->handle == nullptr) return;
  WaitForSingleObject(thread_->handle, INFINITE);
  CloseHandle(thread_->handle);
  thread_->handle = nullptr;
}

std::uint64_t CurrentThreadToken() { return GetCurrentThreadId(); }

}  // namespace halvorn::simulator
