// The recording oracle as test assertions: a finished file in its format,
// one file or a whole recording holding the stored counting pattern.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/recording_oracle.h"
#include "tests/support/stored_form.h"

namespace halvorn::testing {

inline ::testing::AssertionResult IsFinished(const StoredRecording& recording) {
  const std::string problem = LayoutProblem(recording);
  if (!problem.empty()) return ::testing::AssertionFailure() << problem;
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult HasFormat(const StoredRecording& recording, int row, std::uint32_t rate_hz) {
  if (recording.row() != row || recording.sample_rate() != rate_hz) {
    return ::testing::AssertionFailure() << recording.name << ": row " << recording.row() << " at "
                                         << recording.sample_rate() << " Hz, not row " << row << " at " << rate_hz
                                         << " Hz";
  }
  return IsFinished(recording);
}

// What one recording (its files in the order they were made) holds.
struct RecordingContents {
  std::vector<StoredRecording> files;
  std::uint64_t blocks = 0;
  // Pairs skipped forward inside one stream: blocks the ring dropped.
  std::uint64_t skipped_pairs = 0;
  std::uint64_t restarts = 0;
  std::uint64_t first_pair = 0;
};

// Every file finished and of whole blocks, and the blocks, across the files
// in order, the stored counting pattern. `torn_end`: the last file may end
// inside a block, on a whole pair, as a recording cut short by a failed write.
inline ::testing::AssertionResult ReadCountingRecording(const std::string& directory,
                                                        const std::vector<std::string>& names, RecordingContents& out,
                                                        bool torn_end = false) {
  StoredCountingFollower follower;
  for (const std::string& name : names) {
    const bool last_file = &name == &names.back();
    auto loaded = LoadRecording(directory + "/" + name, name);
    if (!loaded) return ::testing::AssertionFailure() << name << ": missing or shorter than a header";
    StoredRecording& file = *loaded;
    if (const std::string problem = LayoutProblem(file); !problem.empty()) {
      return ::testing::AssertionFailure() << problem;
    }
    const int row = file.row();
    const std::size_t pair_bytes = StoredPairBytes(row);
    const std::size_t block_bytes = StoredBlockBytes(row);
    const std::uint64_t data_bytes = file.data_bytes();
    if (data_bytes % pair_bytes != 0 || (data_bytes % block_bytes != 0 && !(torn_end && last_file))) {
      return ::testing::AssertionFailure()
             << name << ": " << data_bytes << " data bytes are not whole blocks of " << block_bytes;
    }
    follower.BeginFile(row);
    for (std::uint64_t at = 0; at < data_bytes; at += block_bytes) {
      const std::size_t pairs =
          static_cast<std::size_t>(std::min<std::uint64_t>(block_bytes, data_bytes - at)) / pair_bytes;
      if (const std::string problem = follower.Follow(file.data() + at, pairs); !problem.empty()) {
        return ::testing::AssertionFailure() << name << ", block " << at / block_bytes << ": " << problem;
      }
    }
    out.files.push_back(std::move(file));
  }
  out.blocks = follower.blocks();
  out.skipped_pairs = follower.skipped_pairs();
  out.restarts = follower.restarts();
  out.first_pair = follower.first_pair();
  return ::testing::AssertionSuccess();
}

// One file of whole blocks, each the stored form of the counting pairs that
// follow the ones before it: no pair lost, repeated or torn. `first_pair`
// receives the counting index of its first pair.
inline ::testing::AssertionResult HoldsCountingRun(const StoredRecording& recording, int row,
                                                   std::uint64_t* first_pair = nullptr) {
  const std::size_t block_bytes = StoredBlockBytes(row);
  if (recording.data_bytes() % block_bytes != 0) {
    return ::testing::AssertionFailure() << recording.name << ": " << recording.data_bytes()
                                         << " data bytes are not whole blocks of " << block_bytes;
  }
  StoredCountingFollower follower;
  follower.BeginFile(row);
  for (std::uint64_t at = 0; at < recording.data_bytes(); at += block_bytes) {
    if (const std::string problem = follower.Follow(recording.data() + at, kBlockPairs); !problem.empty()) {
      return ::testing::AssertionFailure() << recording.name << ", block " << at / block_bytes << ": " << problem;
    }
  }
  if (follower.skipped_pairs() != 0 || follower.restarts() != 0) {
    return ::testing::AssertionFailure() << recording.name << ": " << follower.skipped_pairs() << " pairs skipped and "
                                         << follower.restarts() << " restarts";
  }
  if (first_pair != nullptr) *first_pair = follower.first_pair();
  return ::testing::AssertionSuccess();
}

}  // namespace halvorn::testing
