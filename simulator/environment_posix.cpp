#include <cstdlib>
#include <cstring>

#include "simulator/environment.h"

namespace halvorn::simulator {

bool ReadEnvironment(const char* name, char* value, std::size_t size) {
  const char* found = std::getenv(name);
  if (found == nullptr || size == 0) return false;
  const std::size_t length = std::strlen(found);
  if (length >= size) return false;
  std::memcpy(value, found, length + 1);
  return true;
}

}  // namespace halvorn::simulator
