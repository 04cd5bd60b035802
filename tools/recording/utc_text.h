// Start times as people and other tools read them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace halvorn::recording {

// "2026-12-06T09:19:49Z" (ISO 8601); nothing for a count the C library
// cannot break down.
std::optional<std::string> Iso8601Utc(std::int64_t utc_seconds);

// The same, or else a plain count of seconds.
std::string IsoUtc(std::int64_t utc_seconds);

}  // namespace halvorn::recording
