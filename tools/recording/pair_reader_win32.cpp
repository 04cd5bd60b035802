// The Windows build has no libsndfile: its tools decode the pairs themselves.
#include "tools/recording/pair_reader.h"
#include "tools/recording/raw_pair_reader.h"

namespace halvorn::recording {

std::unique_ptr<PairReader> OpenPairReader(const std::string& path, const RecordingInfo& info, std::string& error) {
  return RawPairReader::Open(path, info, error);
}

}  // namespace halvorn::recording
