// extio_host: the project's ExtIO host program. Loads a receiver plug-in (the
// Halvorn plug-in by default, with the simulated receiver library beside it),
// runs one session and reports what arrived. `extio_host --help` tells how.
#include <windows.h>

#include "host/extio_host_options.h"
#include "host/extio_host_session.h"
#include "host/window_system.h"

int main(int argc, char** argv) {
  using namespace halvorn::host;
  HostOptions options;
  if (const auto status = halvorn::cli::Answer(kHostProgram, ParseHostOptions(argc, argv, options))) return *status;
  StartWindowSystem();
  HostSession session(options);
  return session.Run();
}
