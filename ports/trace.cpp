#include "ports/trace.h"

#include <cstdio>

namespace halvorn {

void Trace::Format(const char* format, int value) const {
  if (sink_.load(std::memory_order_acquire) == nullptr) return;
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  (*this)(text);
}

}  // namespace halvorn
