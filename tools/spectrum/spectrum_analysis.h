// Runs the transforms over a recording, reading it a hop at a time: the power
// spectrum averaged over the whole recording, and the waterfall's lines, each
// reduced to the picture's columns as it is completed. Memory does not grow
// with the recording.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/recording/pair_reader.h"
#include "tools/spectrum/analysis_plan.h"

namespace halvorn::spectrum {

// Levels below this are shown as this: a silent recording has no level at all.
inline constexpr double kFloorDb = -200.0;

double PowerToDb(double power);

// Which bins each column of the picture shows. Bins are in frequency order,
// bin j at (j - size / 2) * rate / size; column c covers offsets from
// (c / columns - 1/2) * rate on. A column narrower than a bin shows the
// nearest one.
std::vector<std::pair<int, int>> BinsOfColumns(int fft_size, int columns);

struct Analysis {
  // Mean power of each bin in frequency order (-rate/2 first), relative to a
  // full-scale tone: a complex tone of full-scale amplitude reads 1.
  std::vector<double> mean_power;
  // The strongest bin of each column, of the mean, in dB.
  std::vector<double> spectrum_db;
  // lines x columns, row by row from the start of the recording, in dB.
  std::vector<float> waterfall_db;
  int columns = 0;
  int lines = 0;
};

// False, with the reason in `error`, when the recording could not be read
// to its end.
bool Analyse(recording::PairReader& reader, const AnalysisPlan& plan, int columns, Analysis& out,
             std::string& error);

}  // namespace halvorn::spectrum
