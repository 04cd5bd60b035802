// extio_host: the project's ExtIO host program. Loads a receiver plug-in (the
// Halvorn plug-in by default, with the simulated receiver library beside it),
// runs one session and reports what arrived. `extio_host --help` tells how.
#include <windows.h>

#include <cstdio>
#include <string>

#include "host/extio_host_options.h"
#include "host/extio_host_session.h"
#include "host/window_system.h"

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
