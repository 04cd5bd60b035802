#include <windows.h>

#include <new>

#include "simulator/environment.h"
#include "simulator/hidden_exports.h"
#include "simulator/module.h"
#include "simulator/settings.h"

namespace halvorn::simulator {
namespace {

// Built and destroyed by DllMain rather than as a static object: at process
// exit the other threads are already gone and nothing must wait for them.
alignas(SimulatedReceiver) unsigned char g_storage[sizeof(SimulatedReceiver)];
SimulatedReceiver* g_receiver = nullptr;

}  // namespace

SimulatedReceiver& TheReceiver() { return *g_receiver; }

}  // namespace halvorn::simulator

extern "C" BOOL WINAPI DllMain(HINSTANCE library, DWORD reason, LPVOID reserved) {
  using namespace halvorn::simulator;
  if (reason == DLL_PROCESS_ATTACH) {
    char missing[kSettingChars];
    if (ReadEnvironment(kMissingVariable, missing, sizeof missing)) HideExports(library, missing);
    g_receiver = new (g_storage) SimulatedReceiver();
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr && g_receiver != nullptr) {
    // FreeLibrary: the receiver waits for an input thread still there, as a
    // real library's cleanup does; one still running cannot end under the
    // loader's lock, so that unload hangs as it would with the real one.
    g_receiver->~SimulatedReceiver();
    g_receiver = nullptr;
  }
  return TRUE;
}
