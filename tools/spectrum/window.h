// The analysis window: four-term Blackman-Harris, whose side lobes (-92 dB)
// stay under the noise of a 24-bit recording, so a strong carrier does not
// hide a weak one beside it.
#pragma once

#include <vector>

namespace halvorn::spectrum {

// Periodic form (the DFT-even window of spectral analysis), `size` points.
std::vector<double> BlackmanHarris(int size);

// Bins on each side of a tone's centre within which its main lobe lies: two
// peaks closer than this are one.
inline constexpr int kMainLobeHalfWidthBins = 4;

}  // namespace halvorn::spectrum
