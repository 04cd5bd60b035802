#include "ports/deadline.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

namespace halvorn {

void Nap() {
#ifdef _WIN32
  Sleep(1);
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
}

}  // namespace halvorn
