// halvorn-spectrum: draws a recording as a picture, the averaged spectrum
// over a waterfall, in RF frequency and dBFS, and lists its strongest peaks.
// `halvorn-spectrum --help` tells how, and what its exit status means.
#include <cstdio>
#include <string>

#include "tools/recording/file_system.h"
#include "tools/recording/pair_encoding.h"
#include "tools/recording/pair_reader.h"
#include "tools/recording/recording_info.h"
#include "tools/spectrum/analysis_plan.h"
#include "tools/spectrum/options.h"
#include "tools/spectrum/picture.h"
#include "tools/spectrum/recording_text.h"
#include "tools/spectrum/spectrum_analysis.h"
#include "tools/spectrum/window.h"

using namespace halvorn;
using namespace halvorn::spectrum;

namespace {

int Refuse(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const auto status = cli::Answer(kProgram, ParseOptions(argc, argv, options))) return *status;
  const std::string& path = options.recording;
  std::string error;

  const std::optional<recording::RecordingInfo> info = recording::ReadRecordingInfo(path, error);
  if (!info) return Refuse(path, error);
  if (const auto why = recording::UnreadablePairs(info->format)) return Refuse(path, "cannot draw it: " + *why);
  if (recording::SameFile(path, options.picture)) {
    return Refuse(path, "the picture would overwrite the recording");
  }

  const RecordingText text = DescribeRecording(path, *info);
  std::printf("%s\n", text.summary.c_str());
  for (const std::string& warning : text.warnings) std::printf("note: %s\n", warning.c_str());

  PlanRequest request;
  request.pairs = info->frames();
  request.rate_hz = info->format.sample_rate_hz;
  request.fft_size = options.fft_size;
  request.frames_per_line = options.frames_per_line;
  request.max_lines = kWaterfallRows;
  const PlanOutcome outcome = PlanAnalysis(request);
  if (!outcome.plan) return Refuse(path, outcome.error);
  for (const std::string& note : outcome.notes) std::printf("note: %s\n", note.c_str());
  const AnalysisPlan& plan = *outcome.plan;

  const std::unique_ptr<recording::PairReader> reader = recording::OpenPairReader(path, *info, error);
  if (!reader) return Refuse(path, error);
  Analysis analysis;
  if (!Analyse(*reader, plan, kPlotColumns, analysis, error)) return Refuse(path, error);
  const std::vector<Peak> peaks = StrongestPeaks(analysis.mean_power, options.peaks, kMainLobeHalfWidthBins);

  PictureContent content;
  content.title = text.title;
  content.details = {text.details, DescribePlan(plan)};
  content.warning = JoinWarnings(text.warnings);
  content.rate_hz = plan.rate_hz;
  content.absolute = info->receiver.has_value();
  content.centre_hz = info->receiver ? info->receiver->lo_hz : 0.0;
  content.bin_width_hz = plan.bin_width_hz();
  content.spectrum_db = std::move(analysis.spectrum_db);
  content.waterfall_db = std::move(analysis.waterfall_db);
  content.lines = analysis.lines;
  content.seconds_per_line = plan.seconds_per_line();
  content.peaks = peaks;
  const std::optional<std::string> failure = WritePicture(content, options.picture);
  ReleaseDrawingCaches();
  if (failure) return Refuse(path, *failure);

  std::printf("%s\n", DescribePlan(plan).c_str());
  std::printf("wrote %s (%d x %d)\n", options.picture.c_str(), kPictureWidth, kPictureHeight);
  if (options.peaks > 0) {
    std::printf("strongest peaks (%s frequency, level):\n", content.absolute ? "RF" : "offset");
    if (peaks.empty()) std::printf("  none: the spectrum is flat\n");
    for (const Peak& peak : peaks) {
      std::printf("  %.1f Hz  %.2f dBFS\n", content.centre_hz + peak.offset_bins * plan.bin_width_hz(), peak.level_db);
    }
  }
  return 0;
}
