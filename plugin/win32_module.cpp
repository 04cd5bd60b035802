#include "plugin/win32_module.h"

namespace halvorn {
namespace {

Win32Module* g_module = nullptr;

}  // namespace

Win32Module::Win32Module()
    : loader_(device::MakePlatformLibraryLoader()),
      stream_resources_(streaming::MakePlatformStreamResources()),
      plugin_(*loader_, ui_, *stream_resources_),
      panel_(std::make_unique<panel::ControlPanel>(plugin_.services())) {
  plugin_.AttachPanel(panel_.get());
}

Win32Module::~Win32Module() {
  plugin_.stream().StopAsyncProcessing();
  plugin_.AttachPanel(nullptr);
}

Win32Module* Win32Module::Instance() { return g_module; }

void Win32Module::Attach() {
  // Without the module object every entry point answers with its safe default.
  try {
    g_module = new Win32Module();
  } catch (...) {
    g_module = nullptr;
  }
}

void Win32Module::Detach() {
  delete g_module;
  g_module = nullptr;
}

}  // namespace halvorn

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) halvorn::Win32Module::Attach();
  if (reason == DLL_PROCESS_DETACH) halvorn::Win32Module::Detach();
  return TRUE;
}
