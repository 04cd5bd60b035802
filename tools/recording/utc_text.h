// Start times as people read them.
#pragma once

#include <cstdint>
#include <string>

namespace halvorn::recording {

// "2026-12-06T09:19:49Z"; a count the C library cannot break down is given as
// a plain count of seconds.
std::string IsoUtc(std::int64_t utc_seconds);

}  // namespace halvorn::recording
