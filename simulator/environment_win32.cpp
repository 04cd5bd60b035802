#include <windows.h>

#include "simulator/environment.h"

namespace halvorn::simulator {

// The process block, not the C runtime's copy: a program that calls
// SetEnvironmentVariable after start-up changes only the block.
bool ReadEnvironment(const char* name, char* value, std::size_t size) {
  if (size == 0) return false;
  const DWORD length = GetEnvironmentVariableA(name, value, static_cast<DWORD>(size));
  return length != 0 && length < size;
}

}  // namespace halvorn::simulator
