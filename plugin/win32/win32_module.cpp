#include "plugin/win32/win32_module.h"

#include <string>

namespace halvorn {
namespace {

Win32Module* g_module = nullptr;

// The folder the plug-in was loaded from, without a trailing separator.
std::string FolderOf(HINSTANCE instance) {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(instance, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};
  std::string folder(path, length);
  const std::size_t separator = folder.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : folder.substr(0, separator);
}

}  // namespace

Win32Module::Win32Module(HINSTANCE instance)
    : loader_(device::MakePlatformLibraryLoader(FolderOf(instance).c_str())),
      stream_resources_(streaming::MakePlatformStreamResources()),
      ui_(application_, work_),
      module_({*loader_, *stream_resources_, ui_, ui_}),
      application_(instance, module_.panel(), work_) {}

Win32Module::~Win32Module() {
  // Nothing may deliver while the windows go.
  module_.stream().StopAsyncProcessing();
  application_.Stop();
}

Win32Module* Win32Module::Instance() { return g_module; }

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
  Win32Module* module = g_module;
  g_module = nullptr;
  if (module == nullptr) return;
  try {
    module->module_.FinishAtProcessExit();
  } catch (...) {
  }
}

void Win32Module::Detach() {
  Win32Module* module = g_module;
  g_module = nullptr;
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
