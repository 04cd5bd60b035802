#include "plugin/win32/win32_module.h"

#include <atomic>
#include <string>

#include "panel/win32/message_box.h"
#include "plugin/win32/exports.h"
#include "streaming/stream_resources_win32.h"

namespace halvorn {
namespace {

std::atomic<Win32Module*> g_module{nullptr};

// How long an unload waits for the module's own threads to leave its code.
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

// While an unload waits for the module's own threads: the messages they send
// to this thread are handled.
void ServeSentMessages() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

std::unique_ptr<win::ModuleDoor> OpenDoor(HINSTANCE instance) {
  std::vector<win::ModuleDoor::Entry> entries = EntryPointDoorEntries();
  entries.push_back(win::FrameWindow::DoorEntry());
  for (const auto& entry : win::Dialog::DoorEntries()) entries.push_back(entry);
  for (const auto& entry : streaming::StreamDoorEntries()) entries.push_back(entry);
  std::unique_ptr<win::ModuleDoor> door = win::ModuleDoor::Open(instance, entries);
  if (door) EnterEntryPointsThrough(*door);
  return door;
}

}  // namespace

Win32Module::Win32Module(HINSTANCE instance)
    : door_(OpenDoor(instance)),
      loader_(device::MakePlatformLibraryLoader(FolderOf(instance).c_str())),
      stream_resources_(streaming::MakeWin32StreamResources(door_.get())),
      ui_(application_, work_),
      module_(std::make_unique<Module>(ModulePlatform{*loader_, *stream_resources_, ui_, ui_})),
      application_(instance, door_.get(), module_->panel(), work_) {}

Win32Module::~Win32Module() {
  // No host thread is inside the module: each would hold a reference on it.
  // The panel goes first, so no message reaches the module from here on;
  // windows another thread owns are cut loose and left to that thread.
  application_.Stop();
  // The delivery thread leaves, or stays in the host's callback, outside.
  module_->stream().StopAsyncProcessing();
  // The recording's writing thread finishes the file and leaves before the
  // door shuts on it.
  module_->recorder().FinishAtUnload();
  if (door_) {
    // Threads blocked at the door meanwhile find it shut, and need its memory.
    if (application_.windows_left_behind()) door_->Keep();
    door_->Close(kUnloadWaitMs, &ServeSentMessages);
  }
  // Nothing runs the module's code any more: it may go.
  const bool input_may_run = module_->stream().InputMayRun();
  module_.reset();
  if (door_ && input_may_run) door_->Keep();
}

Win32Module* Win32Module::Instance() { return g_module.load(); }

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
