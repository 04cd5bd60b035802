#include "tools/spectrum/options.h"

#include <cerrno>
#include <cstdlib>

#include "tools/recording/output_name.h"
#include "tools/spectrum/analysis_plan.h"

namespace halvorn::spectrum {
namespace {

// A whole decimal number from `low` to `high` and nothing else.
std::optional<int> Whole(const std::string& text, long low, long high) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value < low || value > high) return std::nullopt;
  return static_cast<int>(value);
}

cli::CommandLine::Accept Number(const char* name, long low, long high, const auto& store) {
  return [=](const std::string& value) -> std::optional<std::string> {
    const std::optional<int> parsed = Whole(value, low, high);
    if (!parsed) return std::string(name) + " wants a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high);
    store(*parsed);
    return std::nullopt;
  };
}

}  // namespace

cli::Parsed ParseOptions(int argc, const char* const* argv, Options& options) {
  cli::CommandLine line(1, 1, "recording");
  line.Value("-o", options.picture);
  line.Value("--fft", Number("--fft", kSmallestFftSize, kLargestFftSize, [&](int n) { options.fft_size = n; }));
  line.Value("--average", Number("--average", 1, 1000000, [&](int n) { options.frames_per_line = n; }));
  line.Value("--peaks", Number("--peaks", 1, 10000, [&](int n) { options.peaks = n; }));
  cli::Parsed parsed = line.Parse(argc, argv);
  if (parsed.request == cli::Request::kRun) {
    options.recording = parsed.operands.front();
    if (options.picture.empty()) options.picture = recording::NamedAfter(options.recording, ".png");
  }
  return parsed;
}

}  // namespace halvorn::spectrum
