#include "tools/spectrum/analysis_plan.h"

#include <algorithm>

namespace halvorn::spectrum {
namespace {

std::string Text(auto... parts) {
  std::string text;
  ((text += parts), ...);
  return text;
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

}  // namespace

int DefaultFftSize(double rate_hz) {
  int size = kSmallestDefaultFftSize;
  while (size < kLargestFftSize && rate_hz / size > kDefaultBinWidthHz) size *= 2;
  return size;
}

PlanOutcome PlanAnalysis(const PlanRequest& request) {
  PlanOutcome outcome;
  if (request.pairs == 0) {
    outcome.error = "the recording holds no sample data: there is nothing to draw";
    return outcome;
  }
  int size = request.fft_size.value_or(DefaultFftSize(request.rate_hz));
  if (request.pairs < static_cast<std::uint64_t>(size)) {
    if (request.fft_size) {
      outcome.error = Text("the recording holds ", Number(request.pairs), " pairs, fewer than one transform of ",
                           Number(static_cast<std::uint64_t>(size)));
      return outcome;
    }
    if (request.pairs < static_cast<std::uint64_t>(kSmallestShrunkFftSize)) {
      outcome.error = Text("the recording holds only ", Number(request.pairs), " pairs, too few for a spectrum");
      return outcome;
    }
    const int wanted = size;
    while (static_cast<std::uint64_t>(size) > request.pairs) size /= 2;
    outcome.notes.push_back(Text("the recording is shorter than a transform of ",
                                 Number(static_cast<std::uint64_t>(wanted)), " pairs: using ",
                                 Number(static_cast<std::uint64_t>(size))));
  }

  AnalysisPlan plan;
  plan.rate_hz = request.rate_hz;
  plan.fft_size = size;
  plan.hop = std::max(1, size / 2);
  plan.frames = (request.pairs - static_cast<std::uint64_t>(size)) / static_cast<std::uint64_t>(plan.hop) + 1;
  const auto max_lines = static_cast<std::uint64_t>(std::max(1, request.max_lines));
  const std::uint64_t fitting = (plan.frames + max_lines - 1) / max_lines;
  plan.frames_per_line = fitting;
  if (request.frames_per_line) {
    plan.frames_per_line = static_cast<std::uint64_t>(*request.frames_per_line);
    if (plan.frames_per_line < fitting) {
      outcome.notes.push_back(Text("--average ", Number(plan.frames_per_line), " would give more lines than the ",
                                   Number(max_lines), " rows of the waterfall: averaging ", Number(fitting),
                                   " transforms per line"));
      plan.frames_per_line = fitting;
    }
  }
  plan.lines = static_cast<int>((plan.frames + plan.frames_per_line - 1) / plan.frames_per_line);
  outcome.plan = plan;
  return outcome;
}

}  // namespace halvorn::spectrum
