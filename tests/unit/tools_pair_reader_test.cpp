// The two readers of sample pairs, libsndfile's (the native tools') and the
// tools' own decoder (the Windows build's), read the same values from the
// same files: a recording, the copies sox makes of it in every encoding the
// tools read, and the recording left unfinished.
#include <random>

#include "recorder/wav_header.h"
#include "tests/unit/recorder_test_support.h"
#include "tests/unit/tools_test_support.h"
#include "tools/recording/pair_reader.h"
#include "tools/recording/raw_pair_reader.h"

namespace halvorn {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPairs = 50000;

// A finished recording of 24-bit pairs: random values, the two extremes
// first.
Bytes MakeRecording(std::vector<std::int32_t>& components) {
  receiver::ReceiverSettings settings;
  settings.lo_hz = 7050000;
  const auto header = recorder::EncodeWavHeader(settings, 1798761599);
  Bytes file(header.begin(), header.end());
  std::mt19937 random(2026);
  std::uniform_int_distribution<std::int32_t> value(-8388608, 8388607);
  components = {-8388608, 8388607};
  while (components.size() < 2 * kPairs) components.push_back(value(random));
  for (std::int32_t component : components) {
    for (int byte = 0; byte < 3; ++byte) file.push_back(static_cast<std::uint8_t>(component >> (8 * byte)));
  }
  testing::FinishRecording(file);
  return file;
}

using Opener = std::unique_ptr<recording::PairReader> (*)(const std::string&, const recording::RecordingInfo&,
                                                           std::string&);

// Every pair the reader gives, read in pieces of an awkward size.
std::vector<float> ReadAll(Opener open, const fs::path& path, std::uint64_t* pairs = nullptr) {
  std::string error;
  const auto info = recording::ReadRecordingInfo(path, error);
  EXPECT_TRUE(info) << path << ": " << error;
  if (!info) return {};
  const auto reader = open(path, *info, error);
  EXPECT_TRUE(reader) << path << ": " << error;
  if (!reader) return {};
  if (pairs) *pairs = info->frames();
  std::vector<float> values;
  std::vector<float> piece(2 * 777);
  while (const std::size_t got = reader->ReadFloat(piece.data(), 777)) values.insert(values.end(), piece.begin(), piece.begin() + 2 * got);
  EXPECT_FALSE(reader->failed()) << path;
  EXPECT_EQ(reader->pairs_left(), 0u) << path;
  return values;
}

std::vector<std::int16_t> ReadAllShort(Opener open, const fs::path& path) {
  std::string error;
  const auto info = recording::ReadRecordingInfo(path, error);
  const auto reader = open(path, *info, error);
  std::vector<std::int16_t> values(2 * info->frames());
  EXPECT_EQ(reader->ReadShort(values.data(), info->frames()), info->frames());
  return values;
}

class PairReaderTest : public ::testing::Test {
 protected:
  PairReaderTest() { testing::WriteBytes(recording_, MakeRecording(components_)); }

  testing::ScratchDirectory scratch_;
  const fs::path recording_ = scratch_ / "recording.wav";
  std::vector<std::int32_t> components_;
};

TEST_F(PairReaderTest, ARecordingReadsAsItsComponentsOverTwoToTheTwentyThird) {
  for (Opener open : {&recording::OpenPairReader, &recording::RawPairReader::Open}) {
    std::uint64_t pairs = 0;
    const std::vector<float> values = ReadAll(open, recording_, &pairs);
    EXPECT_EQ(pairs, kPairs);
    ASSERT_EQ(values.size(), components_.size());
    EXPECT_EQ(values[0], -1.0f);
    EXPECT_EQ(values[1], 8388607.0f / 8388608.0f);
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(values[i], static_cast<float>(components_[i]) / 8388608.0f) << i;
    }
  }
}

TEST_F(PairReaderTest, BothReadersReadWhatSoxWritesInEveryEncodingAlike) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> copies = {
      {"extensible.wav", {"trim", "0", "0.2"}},
      {"int16.wav", {"-b", "16"}},  // sox's -D: no dither, so the copy is exact
      {"int32.wav", {"-b", "32", "-e", "signed-integer"}},
      {"float.wav", {"-b", "32", "-e", "floating-point"}},
  };
  for (const auto& [name, effect] : copies) {
    std::vector<std::string> arguments{"-D", recording_};
    const bool trims = effect.front() == "trim";
    if (!trims) arguments.insert(arguments.end(), effect.begin(), effect.end());
    arguments.push_back(scratch_ / name);
    if (trims) arguments.insert(arguments.end(), effect.begin(), effect.end());
    ASSERT_TRUE(testing::Sox(arguments)) << name;

    std::uint64_t pairs = 0;
    const std::vector<float> through_libsndfile = ReadAll(&recording::OpenPairReader, scratch_ / name, &pairs);
    const std::vector<float> decoded = ReadAll(&recording::RawPairReader::Open, scratch_ / name);
    EXPECT_EQ(pairs, trims ? 25000u : kPairs) << name;
    ASSERT_EQ(through_libsndfile.size(), 2 * pairs) << name;
    EXPECT_EQ(decoded, through_libsndfile) << name;
  }
  // 16-bit pairs also come out exact as integers: the 24-bit values rounded.
  const auto shorts = ReadAllShort(&recording::OpenPairReader, scratch_ / "int16.wav");
  EXPECT_EQ(ReadAllShort(&recording::RawPairReader::Open, scratch_ / "int16.wav"), shorts);
  EXPECT_EQ(shorts[0], -32768);
  EXPECT_EQ(shorts[2], static_cast<std::int16_t>(std::clamp((components_[2] + 128) >> 8, -32768, 32767)));
}

TEST_F(PairReaderTest, AnUnfinishedRecordingWithATornPairReadsToItsLastWholePair) {
  Bytes bytes = testing::ReadBytes(recording_);
  std::fill(bytes.begin() + 4, bytes.begin() + 8, 0);
  std::fill(bytes.begin() + 86, bytes.begin() + 90, 0);
  bytes.insert(bytes.end(), {1, 2, 3, 4});
  const fs::path unfinished = scratch_ / "unfinished.wav";
  testing::WriteBytes(unfinished, bytes);
  const std::vector<float> finished = ReadAll(&recording::OpenPairReader, recording_);
  EXPECT_EQ(ReadAll(&recording::OpenPairReader, unfinished), finished);
  EXPECT_EQ(ReadAll(&recording::RawPairReader::Open, unfinished), finished);
}

// A file that shrinks under the reader ends short and says so.
TEST_F(PairReaderTest, AFileCutShortWhileReadingIsReportedAsFailed) {
  for (Opener open : {&recording::OpenPairReader, &recording::RawPairReader::Open}) {
    testing::WriteBytes(recording_, MakeRecording(components_));
    std::string error;
    const auto info = recording::ReadRecordingInfo(recording_, error);
    ASSERT_TRUE(info);
    const auto reader = open(recording_, *info, error);
    ASSERT_TRUE(reader) << error;
    fs::resize_file(recording_, 90 + 6 * 1000);
    std::vector<float> values(2 * kPairs);
    EXPECT_LT(reader->ReadFloat(values.data(), kPairs), kPairs);
    EXPECT_TRUE(reader->failed());
    EXPECT_EQ(reader->ReadFloat(values.data(), kPairs), 0u);
  }
}

}  // namespace
}  // namespace halvorn
