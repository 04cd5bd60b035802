#include "plugin/win32/win32_module.h"

#include <atomic>
#include <string>

#include "device/library_loader_win32.h"
#include "plugin/win32/exports.h"
#include "ports/win32/message_wait.h"
#include "ports/win32/platform_kit_win32.h"

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

std::unique_ptr<win::ModuleDoor> OpenDoor(HINSTANCE instance) {
  std::vector<win::ModuleDoor::Entry> entries = EntryPointDoorEntries();
  entries.push_back(win::FrameWindow::DoorEntry());
  for (const auto& entry : win::Dialog::DoorEntries()) entries.push_back(entry);
  for (const auto& entry : win::WindowThread::DoorEntries()) entries.push_back(entry);
  entries.push_back(win::PlatformKitDoorEntry());
  // A transfer that comes after the module has gone is taken unread.
  entries.push_back({reinterpret_cast<const void*>(&streaming::SampleStream::TransferCallback), 8,
                     win::ModuleDoor::Way::kCounted, 1});
  std::unique_ptr<win::ModuleDoor> door = win::ModuleDoor::Open(instance, entries);
  if (door) EnterEntryPointsThrough(*door);
  return door;
}

// The host's callback is one of the functions a thread steps out to.
HostCaller AsHostCaller(win::ModuleDoor::StepOut step_out) {
  return reinterpret_cast<HostCaller>(reinterpret_cast<void*>(step_out));
}

HostCallers HostCallersThrough(const win::ModuleDoor* door) {
  if (door == nullptr) return kCallHostDirectly;
  return {AsHostCaller(door->CountedStepOut()), AsHostCaller(door->WindowThreadStepOut())};
}

}  // namespace

Win32Module::Win32Module(HINSTANCE instance)
    : door_(OpenDoor(instance)),
      loader_(device::MakeWin32LibraryLoader(FolderOf(instance).c_str(), door_.get())),
      kit_(win::MakeWin32PlatformKit(door_.get())),
      window_thread_(instance, door_.get()),
      ui_(application_, window_thread_),
      module_(std::make_unique<Module>(
          ModulePlatform{*loader_, *kit_, win::ThroughDoor(door_.get(), &streaming::SampleStream::TransferCallback),
                         ui_, ui_, HostCallersThrough(door_.get())})),
      application_(instance, door_.get(), module_->panel()) {}

Win32Module::~Win32Module() {
  // No host thread is inside the module: each would hold a reference on it.
  // The panel goes first, on its own thread, so no click reaches the module
  // from here on.
  window_thread_.Stop([this] { application_.Stop(); });
  // The stream and the recording end; the device library's stop and close
  // wait for its threads, which cannot end while the loader's lock is held,
  // so they are left to the door.
  module_->ReleaseAll();
  // Threads of the module's still on their way out leave its code first.
  if (door_) door_->Close(kUnloadWaitMs, &win::ServeSentMessages);
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
