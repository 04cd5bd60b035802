// Draws the picture with cairo and writes it as PNG: the averaged spectrum on
// top, the waterfall below it with time running down, one frequency axis for
// both, a colour scale beside the waterfall and a title.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/spectrum/peaks.h"

namespace halvorn::spectrum {

inline constexpr int kPictureWidth = 1200;
inline constexpr int kPictureHeight = 800;
// The plot's inner size: one column per bin group, one row per waterfall line
// at most.
inline constexpr int kPlotColumns = 1040;
inline constexpr int kWaterfallRows = 400;

// Where the two plots lie in the picture, in pixels.
struct Area {
  double left, top, width, height;
  constexpr double right() const { return left + width; }
  constexpr double bottom() const { return top + height; }
};
inline constexpr Area kSpectrumArea{78.0, 86.0, kPlotColumns, 240.0};
inline constexpr Area kWaterfallArea{78.0, 338.0, kPlotColumns, kWaterfallRows};

struct PictureContent {
  std::string title;
  std::vector<std::string> details;  // two lines at most
  std::string warning;               // shown in a warning colour when set

  double rate_hz = 0.0;
  // Frequencies are drawn as centre + offset: the LO when the recording
  // names one, else offsets from 0.
  double centre_hz = 0.0;
  bool absolute = true;
  double bin_width_hz = 0.0;

  std::vector<double> spectrum_db;   // kPlotColumns values
  std::vector<float> waterfall_db;   // lines x kPlotColumns
  int lines = 0;
  double seconds_per_line = 0.0;

  // Marked on the spectrum with their frequencies, where they stand clear of
  // the noise; strongest first.
  std::vector<Peak> peaks;
};

// Empty on success, else why the file could not be written.
std::optional<std::string> WritePicture(const PictureContent& content, const std::string& png_path);

// Gives back what cairo and the font library keep for the process's lifetime,
// so that a leak checker sees a clean exit. No drawing may be in progress.
void ReleaseDrawingCaches();

}  // namespace halvorn::spectrum
