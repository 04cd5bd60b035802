// A recording as a SigMF recording, the pair of files SDR analysis tools
// (inspectrum, GNU Radio and others) open: the samples in NAME.sigmf-data,
// what they are in NAME.sigmf-meta (JSON). The receiver's settings go under
// the "halvorn" namespace, declared as an optional extension.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/recording/recording_info.h"

namespace halvorn::inspector {

struct SigmfNames {
  std::string data;
  std::string meta;
};

// Beside the recording, named after it without its extension.
SigmfNames SigmfNamesFor(const std::string& recording);

// ci16_le for 16-bit integer samples, which then keep their exact values;
// cf32_le for every other encoding (24 bits fit a float's mantissa).
const char* SigmfDatatype(const recording::Format& format);

// The metadata of a recording whose pairs UnreadablePairs accepts. Without a
// receiver chunk it has no frequency, start time or receiver settings.
std::string SigmfMeta(const recording::RecordingInfo& info);

struct SigmfExport {
  std::optional<std::string> error;  // nothing was written when set
  std::uint64_t pairs = 0;
};

// Writes both files, each whole or not at all.
SigmfExport ExportSigmf(const std::string& path, const recording::RecordingInfo& info);

}  // namespace halvorn::inspector
