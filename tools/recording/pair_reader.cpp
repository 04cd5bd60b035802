#include "tools/recording/pair_reader.h"

#include <algorithm>

namespace halvorn::recording {

std::size_t PairReader::Wanted(std::size_t pairs) const {
  return failed_ ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(pairs, pairs_left_));
}

std::size_t PairReader::Count(std::size_t wanted, std::size_t got) {
  pairs_left_ -= got;
  // The data was measured when the file was opened: it cannot run short
  // unless the file shrank or the disk failed.
  if (got < wanted) failed_ = true;
  return got;
}

std::size_t PairReader::ReadFloat(float* components, std::size_t pairs) {
  const std::size_t wanted = Wanted(pairs);
  return Count(wanted, wanted == 0 ? 0 : FillFloat(components, wanted));
}

std::size_t PairReader::ReadShort(std::int16_t* components, std::size_t pairs) {
  const std::size_t wanted = Wanted(pairs);
  return Count(wanted, wanted == 0 ? 0 : FillShort(components, wanted));
}

}  // namespace halvorn::recording
