// extio_host: the project's ExtIO host program. Loads a receiver plug-in (the
// Halvorn plug-in by default, with the simulated receiver library beside it),
// runs one session and reports what arrived. `extio_host --help` tells how.
#include <windows.h>

#include <cstdio>
#include <string>

#include "host/extio_host_options.h"
#include "host/extio_host_session.h"

namespace {

// Brings up this process's window system (display driver, desktop window) on
// this thread before any other thread exists. Otherwise the message-box
// watcher's first look at the windows can start it while this thread, inside
// LoadLibrary with the loader lock held, has the plug-in create its panel:
// each then waits for the other, and the load never returns (seen under Wine
// in about one run of twenty).
void StartWindowSystem() {
  GetDesktopWindow();
  const HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
  if (window != nullptr) DestroyWindow(window);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halvorn::host;
  std::string error;
  const std::optional<HostOptions> options = ParseHostOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "extio_host: %s\n(extio_host --help tells the options)\n", error.c_str());
    return kExitUsage;
  }
  if (options->help) {
    std::fputs(kHostUsage, stdout);
    return kExitOk;
  }
  StartWindowSystem();
  HostSession session(*options);
  return session.Run();
}
