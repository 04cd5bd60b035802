// Brings up the process's window system (display driver, desktop window) on
// the calling thread, before a host starts threads of its own. Otherwise one of
// them looking at the windows can start it while the loading thread, inside
// LoadLibrary with the loader lock held, has a plug-in create its windows:
// each then waits for the other and the load never returns (seen under Wine
// in about one run of twenty).
#pragma once

namespace halvorn::host {

void StartWindowSystem();

}  // namespace halvorn::host
