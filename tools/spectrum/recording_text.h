// What the tool says about a recording and its analysis, on the terminal
// and in the picture's title.
#pragma once

#include <string>
#include <vector>

#include "tools/recording/recording_info.h"
#include "tools/spectrum/analysis_plan.h"

namespace halvorn::spectrum {

struct RecordingText {
  std::string summary;  // one line for the terminal
  std::string title;    // name, rate, LO, start time
  std::string details;  // sample size, length, front end
  // What the user must know to read the picture right: an unfinished file,
  // sizes that disagree with the file, no receiver chunk.
  std::vector<std::string> warnings;
};

// "125 kS/s", "95.238 kS/s", "2 MS/s"
std::string RateText(double rate_hz);
// "7.050000 MHz", "500.000 kHz", "0 Hz"
std::string FrequencyText(double hz);

// For a recording whose pairs UnreadablePairs accepts.
RecordingText DescribeRecording(const std::string& path, const recording::RecordingInfo& info);
std::string DescribePlan(const AnalysisPlan& plan);
std::string JoinWarnings(const std::vector<std::string>& warnings);

}  // namespace halvorn::spectrum
