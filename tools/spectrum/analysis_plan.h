// How a recording is cut into transforms: the FFT size, the overlap, and how
// many transforms go into each line of the waterfall.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::spectrum {

inline constexpr int kSmallestFftSize = 16;
// Bins of 2 Hz at 2 MS/s; the buffers of a transform take about 80 bytes a pair.
inline constexpr int kLargestFftSize = 1 << 20;
// What the default FFT size aims at: the finest power of two, at least 1024,
// whose bins are no wider than this (10 to 20 Hz at every rate offered).
inline constexpr double kDefaultBinWidthHz = 20.0;
inline constexpr int kSmallestDefaultFftSize = 1024;
// Below this a recording too short for the default size is not shrunk to.
inline constexpr int kSmallestShrunkFftSize = 64;

struct PlanRequest {
  std::uint64_t pairs = 0;
  double rate_hz = 0.0;
  std::optional<int> fft_size;         // from the user; else the default
  std::optional<int> frames_per_line;  // from the user; else as many as fit
  int max_lines = 0;                   // the rows of the waterfall
};

struct AnalysisPlan {
  double rate_hz = 0.0;
  int fft_size = 0;
  int hop = 0;  // pairs between transforms: half the size, so every pair counts twice
  std::uint64_t frames = 0;
  std::uint64_t frames_per_line = 0;  // the last line may have fewer
  int lines = 0;

  double bin_width_hz() const { return rate_hz / fft_size; }
  double seconds_per_line() const { return static_cast<double>(frames_per_line) * hop / rate_hz; }
};

struct PlanOutcome {
  std::optional<AnalysisPlan> plan;
  std::string error;               // when there is no plan
  std::vector<std::string> notes;  // choices the user should know of
};

int DefaultFftSize(double rate_hz);

PlanOutcome PlanAnalysis(const PlanRequest& request);

}  // namespace halvorn::spectrum
