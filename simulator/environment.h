// The simulator's settings come from the process environment, read when the
// library loads and again at the entry calls that use them.
#pragma once

#include <cstddef>

namespace halvorn::simulator {

// Copies the value of `name` into `value`, zero-terminated. False when the
// variable is unset or its value does not fit in `size` - 1 characters.
bool ReadEnvironment(const char* name, char* value, std::size_t size);

}  // namespace halvorn::simulator
