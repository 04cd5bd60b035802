#include "plugin/win32/win32_module.h"

#include <atomic>
#include <string>

#include "panel/win32/message_box.h"
#include "streaming/stream_resources_win32.h"

namespace halvorn {
namespace {

std::atomic<Win32Module*> g_module{nullptr};
// Entry points under way, and how many of them this thread is inside (an
// unload from inside one cannot wait for that one).
std::atomic<int> g_entry_calls{0};
thread_local int t_entry_depth = 0;

// How long an unload waits for entry points and window procedures under way.
constexpr DWORD kUnloadWaitMs = 5000;

// The folder the plug-in was loaded from, without a trailing separator.
std::string FolderOf(HINSTANCE instance) {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(instance, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};
  std::string folder(path, length);
  const std::size_t separator = folder.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : folder.substr(0, separator);
}

// While an unload waits for other threads: the messages they send to this
// thread are handled, and the plug-in's message boxes they show are closed.
void LetOthersFinish() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  panel::CloseOpenMessages();
}

}  // namespace

Win32Module::Win32Module(HINSTANCE instance)
    : door_(win::ModuleDoor::Open()),
      loader_(device::MakePlatformLibraryLoader(FolderOf(instance).c_str())),
      stream_resources_(streaming::MakeWin32StreamResources(door_.get())),
      ui_(application_, work_),
      module_(std::make_unique<Module>(ModulePlatform{*loader_, *stream_resources_, ui_, ui_})),
      application_(instance, door_.get(), module_->panel(), work_) {}

Win32Module::~Win32Module() {
  // Entry points under way on other threads finish first.
  const DWORD started = GetTickCount();
  while (g_entry_calls.load() > t_entry_depth && GetTickCount() - started < kUnloadWaitMs) {
    LetOthersFinish();
    Sleep(1);
  }
  // The delivery thread leaves, or stays in the host's callback, outside.
  module_->stream().StopAsyncProcessing();
  application_.Stop();
  if (door_) {
    if (application_.windows_left_behind()) door_->Keep();
    door_->Close(kUnloadWaitMs, &LetOthersFinish);
  }
  // Nothing runs the module's code any more: it may go.
  const bool input_may_run = module_->stream().InputMayRun();
  module_.reset();
  if (door_ && input_may_run) door_->Keep();
}

Win32Module* Win32Module::Enter() {
  g_entry_calls.fetch_add(1);
  if (Win32Module* module = g_module.load()) {
    ++t_entry_depth;
    return module;
  }
  g_entry_calls.fetch_sub(1);
  return nullptr;
}

void Win32Module::Leave() {
  --t_entry_depth;
  g_entry_calls.fetch_sub(1);
}

void Win32Module::Attach(HINSTANCE instance) {
  // Without the module object every entry point answers with its safe default.
  try {
    g_module = new Win32Module(instance);
  } catch (...) {
    g_module = nullptr;
  }
}

void Win32Module::DetachAtProcessExit() {
  // The process's other threads are gone, some perhaps inside our locks or
  // the device library: stopping anything could wait forever. Only the open
  // recording is worth saving; the rest goes with the process.
  Win32Module* module = g_module.exchange(nullptr);
  if (module == nullptr) return;
  if (module->door_) module->door_->Keep();
  try {
    module->module_->FinishAtProcessExit();
  } catch (...) {
  }
}

void Win32Module::Detach() {
  Win32Module* module = g_module.exchange(nullptr);
  try {
    delete module;
  } catch (...) {
  }
}

}  // namespace halvorn

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) halvorn::Win32Module::Attach(instance);
  if (reason == DLL_PROCESS_DETACH) {
    // A non-null `reserved` means the whole process is ending.
    if (reserved != nullptr) {
      halvorn::Win32Module::DetachAtProcessExit();
    } else {
      halvorn::Win32Module::Detach();
    }
  }
  return TRUE;
}
