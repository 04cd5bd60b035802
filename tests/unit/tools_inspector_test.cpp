// The recording inspector run as a program on recordings the real recorder
// wrote: finished ones, one a crash left unfinished, and files that are not
// recordings at all.
#include <sndfile.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "halvorn_version.h"

#include "tests/support/counting_host.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_user_interface.h"
#include "tests/unit/recorder_test_support.h"
#include "tests/unit/tools_test_support.h"

namespace halvorn {
namespace {

using testing::ReadBytes;
using testing::SndfileFrames;
using testing::U32At;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kStart = 1798761599;  // 2026-12-31T23:59:59Z
const std::string kName = "Thu Dec 31 23-59-59 2026.wav";

using testing::Has;
using testing::ToolRun;

ToolRun Inspect(const std::vector<std::string>& arguments) { return testing::RunTool(HALVORN_INSPECT, arguments); }

// The fields of a SigMF recording as Python's JSON parser reads them, by name
// ("global.core:datatype", "capture0.core:frequency", "data_bytes"), each
// value as JSON writes it.
std::map<std::string, std::string> SigmfFields(const testing::fs::path& recording) {
  const std::string base = (recording.parent_path() / recording.stem()).string();
  const ToolRun run = testing::RunTool(HALVORN_PYTHON, {HALVORN_SIGMF_FIELDS, base + ".sigmf-meta", base + ".sigmf-data"});
  EXPECT_EQ(run.status, 0) << run.output();
  std::map<std::string, std::string> fields;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

std::vector<float> Floats(const Bytes& bytes) {
  std::vector<float> values(bytes.size() / 4);
  std::memcpy(values.data(), bytes.data(), values.size() * 4);  // the test machine is little-endian too
  return values;
}

class InspectorTest : public ::testing::Test, protected testing::RecordingReceiverFixture {
 protected:
  InspectorTest() { testing::CountingHost::Instance().Reset(); }

  std::unique_ptr<recorder::Recorder> MakeRecorder() {
    recorder::RecorderOptions options;
    options.directory = recorder::MakePlatformRecordingDirectory(scratch_.path().string());
    options.clock = clock_.AsClock();
    return std::make_unique<recorder::Recorder>(receiver_, host_, ui_, view_, trace_, std::move(options));
  }
  void Record(int blocks) {
    auto recorder = MakeRecorder();
    ASSERT_EQ(recorder->StartRecording(), std::nullopt);
    for (int i = 0; i < blocks; ++i) {
      const Bytes block = testing::CountingBlock(static_cast<std::uint64_t>(i) * 1024);
      recorder->WriteBlock(block.data(), 1024);
    }
    ASSERT_EQ(recorder->StopRecording(), std::nullopt);
  }
  // A recording cut off by a crash: `blocks` in the file, its sizes covering
  // only the first `covered` of them, as its last update left them; older
  // versions left both sizes 0 (`covered` negative).
  void RecordAndCrash(int blocks, int covered = -1) {
    Record(blocks);
    const auto path = scratch_ / kName;
    Bytes bytes = ReadBytes(path);
    const std::uint32_t data = covered < 0 ? 0 : static_cast<std::uint32_t>(covered) * 6144;
    const std::uint32_t riff = covered < 0 ? 0 : data + 82;
    for (int i = 0; i < 4; ++i) {
      bytes[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
      bytes[86 + i] = static_cast<std::uint8_t>(data >> (8 * i));
    }
    testing::WriteBytes(path, bytes);
  }

  testing::ManualClock clock_{kStart};
};

TEST_F(InspectorTest, AFinishedRecordingIsDescribedInPlainWords) {
  receiver_.SetLO(7050000);
  receiver_.SetAttenuatorStep(2);
  receiver_.EnablePreselector(true);
  receiver_.SetAdcPreamp(true);
  Record(125);
  const ToolRun run = Inspect({scratch_ / kName});
  EXPECT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "Format:             PCM, 2 channels, 24 bits, 125000 samples/s, 6 bytes per frame, "
                       "750000 bytes/s\n")) << run.output();
  EXPECT_TRUE(Has(run, "LO:                 7050000 Hz\n")) << run.output();
  EXPECT_TRUE(Has(run, "Sample-rate index:  0\n")) << run.output();
  EXPECT_TRUE(Has(run, "Start time:         2026-12-31T23:59:59Z\n")) << run.output();
  EXPECT_TRUE(Has(run, "Attenuator:         20 dB\n")) << run.output();
  EXPECT_TRUE(Has(run, "Preselector:        on\n")) << run.output();
  EXPECT_TRUE(Has(run, "ADC preamp:         on\n")) << run.output();
  EXPECT_TRUE(Has(run, "ADC dither:         off\n")) << run.output();
  EXPECT_TRUE(Has(run, "Data:               768000 bytes, 128000 frames\n")) << run.output();
  EXPECT_TRUE(Has(run, "Duration:           1.024 s\n")) << run.output();
  EXPECT_TRUE(Has(run, "State:              finished\n")) << run.output();
}

TEST_F(InspectorTest, TwoMegaSampleRecordingsAreSixteenBits) {
  ChooseRate(4);
  Record(2);
  const ToolRun run = Inspect({scratch_ / kName});
  EXPECT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "PCM, 2 channels, 16 bits, 2000000 samples/s, 4 bytes per frame, 8000000 bytes/s\n"))
      << run.output();
  EXPECT_TRUE(Has(run, "Data:               8192 bytes, 2048 frames\n")) << run.output();
}

TEST_F(InspectorTest, ACrashedRecordingIsReportedUnfinishedAndRepairedFromItsLength) {
  RecordAndCrash(3);
  const auto path = scratch_ / kName;
  const Bytes crashed = ReadBytes(path);
  ASSERT_EQ(crashed.size(), 90u + 3 * 6144);
  ASSERT_EQ(U32At(crashed, 4), 0u);
  ASSERT_EQ(U32At(crashed, 86), 0u);

  const ToolRun look = Inspect({path});
  EXPECT_EQ(look.status, 0) << look.output();
  EXPECT_TRUE(Has(look, "State:              unfinished")) << look.output();
  EXPECT_TRUE(Has(look, "Data:               18432 bytes, 3072 frames\n")) << look.output();

  const ToolRun repair = Inspect({path, "--repair"});
  EXPECT_EQ(repair.status, 0) << repair.output();
  EXPECT_TRUE(Has(repair, "repaired\n")) << repair.output();
  EXPECT_TRUE(Has(repair, "State:              finished\n")) << repair.output();
  const Bytes repaired = ReadBytes(path);
  EXPECT_EQ(U32At(repaired, 4), 82u + 3 * 6144);
  EXPECT_EQ(U32At(repaired, 86), 3u * 6144);
  EXPECT_EQ(Bytes(repaired.begin() + 90, repaired.end()), Bytes(crashed.begin() + 90, crashed.end()));
  EXPECT_EQ(SndfileFrames(path), 3072);

  const ToolRun again = Inspect({path, "--repair"});
  EXPECT_EQ(again.status, 0) << again.output();
  EXPECT_TRUE(Has(again, "already finished")) << again.output();
  EXPECT_EQ(ReadBytes(path), repaired);
}

TEST_F(InspectorTest, ARepairCutsOffATornFrame) {
  RecordAndCrash(1);
  const auto path = scratch_ / kName;
  Bytes bytes = ReadBytes(path);
  bytes.insert(bytes.end(), {1, 2, 3, 4});
  testing::WriteBytes(path, bytes);
  EXPECT_TRUE(Has(Inspect({path}), "Torn frame:         4 bytes")) << Inspect({path}).output();

  const ToolRun repair = Inspect({path, "--repair"});
  EXPECT_EQ(repair.status, 0) << repair.output();
  EXPECT_EQ(ReadBytes(path).size(), 90u + 6144);
  EXPECT_EQ(U32At(ReadBytes(path), 86), 6144u);
  EXPECT_EQ(SndfileFrames(path), 1024);
}

TEST_F(InspectorTest, ARecordingCutOffAfterItsLastUpdateIsRepairedToEverythingInIt) {
  RecordAndCrash(3, 2);
  const auto path = scratch_ / kName;
  Bytes bytes = ReadBytes(path);
  bytes.insert(bytes.end(), {1, 2, 3, 4});  // a block cut off in the middle
  testing::WriteBytes(path, bytes);
  EXPECT_EQ(SndfileFrames(path), 2048);

  const ToolRun look = Inspect({path});
  EXPECT_EQ(look.status, 0) << look.output();
  EXPECT_TRUE(Has(look, "State:              unfinished")) << look.output();
  EXPECT_TRUE(Has(look, "Torn frame:         4 bytes")) << look.output();

  const ToolRun repair = Inspect({path, "--repair"});
  EXPECT_EQ(repair.status, 0) << repair.output();
  EXPECT_TRUE(Has(repair, "State:              finished\n")) << repair.output();
  EXPECT_EQ(ReadBytes(path).size(), 90u + 3 * 6144);
  EXPECT_EQ(U32At(ReadBytes(path), 4), 82u + 3 * 6144);
  EXPECT_EQ(SndfileFrames(path), 3072);
}

TEST_F(InspectorTest, ARecordingThatCrashedBeforeItsFirstBlockRepairsToAnEmptyOne) {
  RecordAndCrash(0);
  const auto path = scratch_ / kName;
  EXPECT_TRUE(Has(Inspect({path}), "State:              unfinished"));
  EXPECT_EQ(Inspect({path, "--repair"}).status, 0);
  const Bytes repaired = ReadBytes(path);
  ASSERT_EQ(repaired.size(), 90u);
  EXPECT_EQ(U32At(repaired, 4), 82u);
  EXPECT_EQ(U32At(repaired, 86), 0u);
}

TEST_F(InspectorTest, ACopyCutShortIsNeitherFinishedNorRepaired) {
  Record(2);
  const auto path = scratch_ / kName;
  Bytes bytes = ReadBytes(path);
  bytes.resize(bytes.size() - 6144);
  testing::WriteBytes(path, bytes);
  const ToolRun look = Inspect({path});
  EXPECT_EQ(look.status, 0) << look.output();
  EXPECT_TRUE(Has(look, "sizes disagree with the file")) << look.output();
  const ToolRun repair = Inspect({path, "--repair"});
  EXPECT_EQ(repair.status, 1) << repair.output();
  EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(InspectorTest, FilesThatAreNotRecordingsAndWrongArgumentsFail) {
  testing::WriteBytes(scratch_ / "text.wav", Bytes(100, 'x'));
  const ToolRun text = Inspect({(scratch_ / "text.wav").string()});
  EXPECT_EQ(text.status, 1);
  EXPECT_TRUE(Has(text, "not a RIFF/WAVE file")) << text.output();
  EXPECT_EQ(Inspect({(scratch_ / "missing.wav").string()}).status, 1);
  EXPECT_EQ(Inspect({}).status, 2);
}

// ---------------------------------------------------------------------------
// The conventions of every program of the project

TEST_F(InspectorTest, HelpGoesToStandardOutputAndVersionNamesTheRelease) {
  const ToolRun help = Inspect({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: halvorn-inspect [--repair] [--sigmf] FILE...\n", 0), 0u) << help.out;
  EXPECT_TRUE(Has(help, "--sigmf")) << help.out;
  EXPECT_TRUE(Has(help, "2 wrong command\nline")) << help.out;
  EXPECT_EQ(help.err, "");

  const ToolRun version = Inspect({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "halvorn-inspect (ExtIO_halvorn) " HALVORN_VERSION "\n");
  EXPECT_EQ(version.err, "");
}

TEST_F(InspectorTest, AWrongCommandLineExitsWithTwoAndSaysWhyOnStandardError) {
  Record(1);
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"--frobnicate", scratch_ / kName}, {"--repair=yes", scratch_ / kName}}) {
    const ToolRun run = Inspect(arguments);
    EXPECT_EQ(run.status, 2) << run.output();
    EXPECT_EQ(run.out, "") << ::testing::PrintToString(arguments);
    EXPECT_TRUE(Has(run, "usage: halvorn-inspect")) << run.err;
  }
  EXPECT_TRUE(Has(Inspect({}), "halvorn-inspect: which file?\n"));
  EXPECT_TRUE(Has(Inspect({"--frobnicate", scratch_ / kName}), "halvorn-inspect: unknown option --frobnicate\n"));
  EXPECT_TRUE(Has(Inspect({"--repair=yes", scratch_ / kName}), "--repair takes no value"));
}

TEST_F(InspectorTest, SeveralFilesAreDescribedInTurnAndEachFailureNamesItsFile) {
  Record(1);
  const auto first = scratch_ / kName;
  const auto second = scratch_ / "second.wav";
  testing::fs::copy_file(first, second);
  const auto folder = scratch_ / "folder.wav";
  testing::fs::create_directory(folder);
  const auto missing = scratch_ / "missing.wav";

  const ToolRun run = Inspect({first, folder, "--", second, missing});
  EXPECT_EQ(run.status, 1) << run.output();
  const std::size_t one = run.out.find("File:               " + first.string() + "\n");
  const std::size_t two = run.out.find("\n\nFile:               " + second.string() + "\n");
  ASSERT_NE(one, std::string::npos) << run.out;
  ASSERT_NE(two, std::string::npos) << run.out;
  EXPECT_LT(one, two);
  EXPECT_TRUE(Has(run, folder.string() + ": is a directory\n")) << run.err;
  EXPECT_TRUE(Has(run, missing.string() + ": cannot open the file: No such file or directory\n")) << run.err;
  EXPECT_EQ(Inspect({first, second}).status, 0);
}

// ---------------------------------------------------------------------------
// Files other programs wrote

TEST_F(InspectorTest, ARecordingRewrittenBySoxAndAFloatCopyAreDescribed) {
  Record(125);  // 128000 pairs, 1.024 s
  const auto recording = scratch_ / kName;
  const auto trimmed = scratch_ / "trimmed.wav";
  const auto floats = scratch_ / "floats.wav";
  ASSERT_TRUE(testing::Sox({recording, trimmed, "trim", "0", "0.5"}));
  ASSERT_TRUE(testing::Sox({recording, "-e", "floating-point", "-b", "32", floats}));

  const ToolRun run = Inspect({trimmed, floats});
  EXPECT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "Format:             PCM (WAVE_FORMAT_EXTENSIBLE), 2 channels, 24 bits, 125000 samples/s, "
                       "6 bytes per frame, 750000 bytes/s\n")) << run.out;
  EXPECT_TRUE(Has(run, "Data:               375000 bytes, 62500 frames\n")) << run.out;
  EXPECT_TRUE(Has(run, "Format:             IEEE float, 2 channels, 32 bits, 125000 samples/s, 8 bytes per frame"))
      << run.out;
  EXPECT_TRUE(Has(run, "Data:               1024000 bytes, 128000 frames\n")) << run.out;
  EXPECT_TRUE(Has(run, "Receiver chunk:     none: not written by the plug-in")) << run.out;
  EXPECT_EQ(run.out.find("unfinished"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("disagree"), std::string::npos) << run.out;
}

// ---------------------------------------------------------------------------
// SigMF

TEST_F(InspectorTest, ASigmfExportHoldsTheSettingsTheLoTheStartAndEveryPairAsFloats) {
  receiver_.SetLO(7050000);
  receiver_.SetAttenuatorStep(2);
  receiver_.EnablePreselector(true);
  receiver_.SetAdcPreamp(true);
  receiver_.SetAdcDither(false);
  Record(2);
  const auto recording = scratch_ / kName;
  const ToolRun run = Inspect({"--sigmf", recording});
  ASSERT_EQ(run.status, 0) << run.output();
  const std::string base = (scratch_ / "Thu Dec 31 23-59-59 2026").string();
  EXPECT_TRUE(Has(run, "SigMF:              " + base + ".sigmf-data and " + base +
                           ".sigmf-meta (cf32_le, 2048 pairs)\n")) << run.out;

  const auto fields = SigmfFields(recording);
  const std::map<std::string, std::string> expected = {
      {"global.core:datatype", "\"cf32_le\""},      {"global.core:sample_rate", "125000"},
      {"global.core:version", "\"1.0.0\""},         {"global.core:num_channels", "1"},
      {"global.halvorn:sample_rate_index", "0"},    {"global.halvorn:bits_per_sample", "24"},
      {"global.halvorn:attenuator_db", "20"},       {"global.halvorn:preselector", "true"},
      {"global.halvorn:adc_preamp", "true"},        {"global.halvorn:adc_dither", "false"},
      {"captures", "1"},                            {"capture0.core:sample_start", "0"},
      {"capture0.core:frequency", "7050000"},       {"capture0.core:datetime", "\"2026-12-31T23:59:59Z\""},
      {"annotations", "0"},                         {"data_bytes", std::to_string(2048 * 8)}};
  for (const auto& [name, value] : expected) EXPECT_EQ(fields.count(name) ? fields.at(name) : "(none)", value) << name;
  EXPECT_NE(fields.at("global.core:hw").find("Halvorn"), std::string::npos);
  EXPECT_EQ(fields.at("global.core:extensions"), "[{\"name\": \"halvorn\", \"version\": \"" HALVORN_VERSION
                                                 "\", \"optional\": true}]");

  // Pair k of the counting pattern carries k in its first component and 0 in
  // its second; full scale is 2^23.
  const std::vector<float> pairs = Floats(ReadBytes(base + ".sigmf-data"));
  ASSERT_EQ(pairs.size(), 2u * 2048);
  for (std::size_t k = 0; k < 2048; ++k) {
    ASSERT_EQ(pairs[2 * k], static_cast<float>(k) / 8388608.0f) << k;
    ASSERT_EQ(pairs[2 * k + 1], 0.0f) << k;
  }
}

TEST_F(InspectorTest, ASixteenBitRecordingIsExportedAsItsExactSamples) {
  ChooseRate(4);
  Record(3);
  const auto recording = scratch_ / kName;
  const ToolRun run = Inspect({"--sigmf", recording});
  ASSERT_EQ(run.status, 0) << run.output();
  const auto fields = SigmfFields(recording);
  EXPECT_EQ(fields.at("global.core:datatype"), "\"ci16_le\"");
  EXPECT_EQ(fields.at("global.core:sample_rate"), "2000000");
  EXPECT_EQ(fields.at("global.halvorn:bits_per_sample"), "16");
  EXPECT_EQ(fields.at("data_bytes"), std::to_string(3 * 1024 * 4));
  EXPECT_EQ(ReadBytes(scratch_ / "Thu Dec 31 23-59-59 2026.sigmf-data"), testing::SampleBytes(recording));
}

TEST_F(InspectorTest, AnUnfinishedRecordingIsExportedFromItsLengthAndCanBeRepairedInTheSameCall) {
  RecordAndCrash(3);
  const auto recording = scratch_ / kName;
  const auto data = scratch_ / "Thu Dec 31 23-59-59 2026.sigmf-data";
  ToolRun run = Inspect({"--sigmf", recording});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "State:              unfinished")) << run.out;
  EXPECT_EQ(SigmfFields(recording).at("data_bytes"), std::to_string(3072 * 8));
  const std::vector<float> pairs = Floats(ReadBytes(data));
  ASSERT_EQ(pairs.size(), 2u * 3072);
  EXPECT_EQ(pairs[2 * 3071], 3071.0f / 8388608.0f);

  run = Inspect({"--repair", "--sigmf", recording});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "repaired\n")) << run.out;
  EXPECT_TRUE(Has(run, "State:              finished\n")) << run.out;
  EXPECT_EQ(Floats(ReadBytes(data)), pairs);
  testing::ExpectFinished(recording);
}

TEST_F(InspectorTest, AWavWithoutReceiverChunkIsExportedWithoutFrequencyOrStartTime) {
  Record(125);
  const auto recording = scratch_ / kName;
  const auto trimmed = scratch_ / "trimmed.wav";
  const auto floats = scratch_ / "floats.wav";
  ASSERT_TRUE(testing::Sox({recording, trimmed, "trim", "0", "0.5"}));
  ASSERT_TRUE(testing::Sox({recording, "-e", "floating-point", "-b", "32", floats}));
  const ToolRun run = Inspect({"--sigmf", trimmed, floats, recording});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "note: no receiver chunk: the SigMF metadata has no frequency or start time\n")) << run.out;

  const auto fields = SigmfFields(trimmed);
  EXPECT_EQ(fields.at("global.core:datatype"), "\"cf32_le\"");
  EXPECT_EQ(fields.at("global.core:sample_rate"), "125000");
  EXPECT_EQ(fields.at("captures"), "1");
  EXPECT_EQ(fields.at("data_bytes"), std::to_string(62500 * 8));
  for (const char* absent : {"capture0.core:frequency", "capture0.core:datetime", "global.core:hw",
                             "global.halvorn:attenuator_db", "global.core:extensions"}) {
    EXPECT_EQ(fields.count(absent), 0u) << absent;
  }
  // sox's floats are the 24-bit values over 2^23: the same pairs as the recording's.
  EXPECT_EQ(ReadBytes(scratch_ / "floats.sigmf-data"), ReadBytes(scratch_ / "Thu Dec 31 23-59-59 2026.sigmf-data"));
}

TEST_F(InspectorTest, SigmfFilesThatCannotBeWrittenLeaveNothingBehindAndSpoilNothing) {
  Record(1);
  const auto recording = scratch_ / kName;
  const std::string base = (scratch_ / "Thu Dec 31 23-59-59 2026").string();
  testing::WriteBytes(base + ".sigmf-data", Bytes{'o', 'l', 'd'});
  testing::fs::create_directory(base + ".sigmf-meta.partial");  // in the way of the metadata
  const ToolRun run = Inspect({"--sigmf", recording});
  EXPECT_EQ(run.status, 1) << run.output();
  EXPECT_TRUE(Has(run, recording.string() + ": no SigMF recording written: cannot create " + base +
                           ".sigmf-meta.partial: Is a directory\n")) << run.err;
  EXPECT_EQ(ReadBytes(base + ".sigmf-data"), (Bytes{'o', 'l', 'd'}));
  EXPECT_FALSE(testing::fs::exists(base + ".sigmf-meta"));
  EXPECT_FALSE(testing::fs::exists(base + ".sigmf-data.partial"));

  // A file whose SigMF name is its own is not written over.
  const auto named = scratch_ / "named.sigmf-data";
  testing::fs::copy_file(recording, named);
  const ToolRun same = Inspect({"--sigmf", named});
  EXPECT_EQ(same.status, 1) << same.output();
  EXPECT_TRUE(Has(same, "the SigMF files would overwrite the recording")) << same.err;
  EXPECT_EQ(ReadBytes(named), ReadBytes(recording));
}

// ---------------------------------------------------------------------------
// The README's numpy reader

TEST_F(InspectorTest, TheReadmesNumpyReaderReadsWhatTheRecorderWrote) {
  if (std::string(HALVORN_NUMPY_PYTHON).empty()) GTEST_SKIP() << "no python3 with numpy";
  receiver_.SetLO(-1234567);  // a negative LO reads as one
  Record(3);
  const auto wide = scratch_ / "wide.wav";
  testing::fs::rename(scratch_ / kName, wide);
  ChooseRate(4);
  receiver_.SetLO(14100000);
  Record(2);
  const auto narrow = scratch_ / "narrow.wav";
  testing::fs::rename(scratch_ / kName, narrow);
  RecordAndCrash(2);  // unfinished, with a torn pair after it
  const auto crashed = scratch_ / kName;
  Bytes bytes = ReadBytes(crashed);
  bytes.insert(bytes.end(), {9, 9, 9});
  testing::WriteBytes(crashed, bytes);

  const ToolRun run =
      testing::RunTool(HALVORN_NUMPY_PYTHON, {HALVORN_README_READER, HALVORN_README, "1000", wide, narrow, crashed});
  ASSERT_EQ(run.status, 0) << run.output();
  // Pair k of the counting pattern is (k, 0); at 2 MS/s it is rounded to 16
  // bits: (k + 128) / 256, rounded down.
  EXPECT_EQ(run.out, "125000 -1234567 1798761599 3072 1000 0 3071 0\n"
                     "2000000 14100000 1798761599 2048 4 0 8 0\n"
                     "2000000 14100000 1798761599 2048 4 0 8 0\n")
      << run.err;
}

}  // namespace
}  // namespace halvorn
