#include "tools/spectrum/recording_text.h"

#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "tools/recording/pair_encoding.h"
#include "tools/recording/utc_text.h"

namespace halvorn::spectrum {
namespace {

std::string Printf(const char* format, auto... values) {
  char text[512];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* OnOff(std::uint8_t value) { return value != 0 ? "on" : "off"; }

}  // namespace

std::string RateText(double rate_hz) {
  if (rate_hz >= 1e6) return Printf("%g MS/s", rate_hz / 1e6);
  if (rate_hz >= 1e3) return Printf("%g kS/s", rate_hz / 1e3);
  return Printf("%g S/s", rate_hz);
}

std::string FrequencyText(double hz) {
  if (std::fabs(hz) >= 1e6) return Printf("%.6f MHz", hz / 1e6);
  if (std::fabs(hz) >= 1e3) return Printf("%.3f kHz", hz / 1e3);
  return Printf("%.0f Hz", hz);
}

RecordingText DescribeRecording(const std::string& path, const recording::RecordingInfo& info) {
  RecordingText text;
  const auto& format = info.format;
  const std::string rate = RateText(format.sample_rate_hz);
  const std::string length = Printf("%.3f s", info.duration_s());
  const char* pairs = recording::EncodingName(recording::EncodingOf(format));
  if (const auto& receiver = info.receiver) {
    const std::string start = recording::IsoUtc(receiver->start_time_utc_s);
    text.summary = Printf("%s: %s, %s pairs, LO %" PRId32 " Hz, started %s, %s (%" PRIu64 " pairs)", path.c_str(),
                          rate.c_str(), pairs, receiver->lo_hz, start.c_str(), length.c_str(),
                          info.frames());
    text.title = Printf("%s  \xE2\x80\x94  %s, LO %s, %s", BaseName(path).c_str(), rate.c_str(),
                        FrequencyText(receiver->lo_hz).c_str(), start.c_str());
    text.details = Printf("%s pairs, %s; attenuator %d dB, preselector %s, ADC preamp %s, ADC dither %s",
                          pairs, length.c_str(), receiver->attenuator_step * 10,
                          OnOff(receiver->preselector_on), OnOff(receiver->adc_preamp_on),
                          OnOff(receiver->adc_dither_on));
  } else {
    text.summary = Printf("%s: %s, %s pairs, no receiver chunk, %s (%" PRIu64 " pairs)", path.c_str(), rate.c_str(),
                          pairs, length.c_str(), info.frames());
    text.title = Printf("%s  \xE2\x80\x94  %s, LO and start time unknown", BaseName(path).c_str(), rate.c_str());
    text.details = Printf("%s pairs, %s", pairs, length.c_str());
    text.warnings.push_back("no receiver chunk: frequencies are offsets from the LO");
  }
  switch (info.completion) {
    case recording::Completion::kFinished:
      break;
    case recording::Completion::kUnfinished:
      text.warnings.push_back("unfinished recording (never stopped, as after a crash): drawn from the file's length");
      break;
    case recording::Completion::kMismatched:
      text.warnings.push_back(Printf("its sizes disagree with the file's length: drawn from the %" PRIu64
                                     " data bytes present",
                                     info.data_bytes));
      break;
  }
  return text;
}

std::string DescribePlan(const AnalysisPlan& plan) {
  return Printf("FFT of %d pairs, Blackman-Harris window, %.3g Hz bins; spectrum: mean of %" PRIu64
                " transforms; waterfall: %d lines of %" PRIu64 " transform%s",
                plan.fft_size, plan.bin_width_hz(), plan.frames, plan.lines, plan.frames_per_line,
                plan.frames_per_line == 1 ? "" : "s");
}

std::string JoinWarnings(const std::vector<std::string>& warnings) {
  std::string joined;
  for (const std::string& warning : warnings) {
    if (!joined.empty()) joined += "; ";
    joined += warning;
  }
  if (!joined.empty()) joined[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(joined[0])));
  return joined;
}

}  // namespace halvorn::spectrum
