// The spectrum picture tool run as a program on recordings of known content:
// tones written with the recorder's own header and sample reduction, files
// that are unfinished, cut short, empty or no recordings at all, and the
// simulated receiver's scene recorded through the plug-in's core. The parts
// with arithmetic of their own (FFT size, ticks, columns, peaks) are checked
// directly as well.
#include <cairo.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <random>
#include <regex>
#include <thread>

#include "halvorn_version.h"
#include "panel/control_ids.h"
#include "panel/control_panel.h"
#include "receiver/sample_rate_table.h"
#include "receiver/tuning.h"
#include "recorder/sample_reduction.h"
#include "recorder/wav_header.h"
#include "tests/support/counting_host.h"
#include "tests/support/native_module.h"
#include "tests/support/receiver_arithmetic.h"
#include "tests/unit/recorder_test_support.h"
#include "tests/unit/tools_test_support.h"
#include "tools/spectrum/analysis_plan.h"
#include "tools/spectrum/axis_ticks.h"
#include "tools/spectrum/peaks.h"
#include "tools/spectrum/picture.h"
#include "tools/spectrum/spectrum_analysis.h"

namespace halvorn {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Complex = std::complex<double>;

constexpr double kFullScale24 = 8388607.0;
constexpr double kPi = 3.14159265358979323846;
constexpr std::int64_t kStart = 1798761599;  // 2026-12-31T23:59:59Z

// ---------------------------------------------------------------------------
// Running the tool

using testing::Has;
using testing::ToolRun;

ToolRun Spectrum(const std::vector<std::string>& arguments) { return testing::RunTool(HALVORN_SPECTRUM, arguments); }

struct PrintedPeak {
  double hz;
  double dbfs;
};

// The lines "  7074985.2 Hz  -70.01 dBFS", strongest first.
std::vector<PrintedPeak> PeaksOf(const ToolRun& run) {
  static const std::regex line(R"(^  (-?[0-9.]+) Hz  (-?[0-9.]+) dBFS$)");
  std::vector<PrintedPeak> peaks;
  std::istringstream lines(run.out);
  for (std::string text; std::getline(lines, text);) {
    std::smatch match;
    if (std::regex_match(text, match, line)) peaks.push_back({std::stod(match[1]), std::stod(match[2])});
  }
  return peaks;
}

// The printed peak nearest `hz`; a huge distance when none was printed.
PrintedPeak NearestPeak(const std::vector<PrintedPeak>& peaks, double hz) {
  PrintedPeak nearest{1e300, 0.0};
  for (const PrintedPeak& peak : peaks) {
    if (std::fabs(peak.hz - hz) < std::fabs(nearest.hz - hz)) nearest = peak;
  }
  return nearest;
}

struct Png {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, row by row
  std::uint32_t at(double x, double y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
  }
};

// Read back with cairo, as a viewer would decode it.
std::optional<Png> ReadPng(const fs::path& path) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return std::nullopt;
  }
  Png png;
  png.width = cairo_image_surface_get_width(surface);
  png.height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < png.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < png.width; ++x) png.pixels.push_back(row[x] & 0xFFFFFFu);
  }
  cairo_surface_destroy(surface);
  return png;
}

int Brightness(std::uint32_t rgb) { return static_cast<int>((rgb >> 16 & 0xFF) + (rgb >> 8 & 0xFF) + (rgb & 0xFF)); }

// Pixels of the warning's orange in the title lines above the spectrum.
int WarningPixels(const Png& png) {
  int count = 0;
  for (double y = 0; y < spectrum::kSpectrumArea.top; ++y) {
    for (double x = 0; x < png.width; ++x) {
      const std::uint32_t rgb = png.at(x, y);
      const int red = rgb >> 16 & 0xFF, green = rgb >> 8 & 0xFF, blue = rgb & 0xFF;
      if (red > 200 && green > 110 && green < 190 && blue < 100) ++count;
    }
  }
  return count;
}

// ---------------------------------------------------------------------------
// Recordings of known content

struct Tone {
  double offset_hz;
  double dbfs;  // amplitude of the complex tone relative to 24-bit full scale
  double from_s = 0.0;  // sounding from this time on
};

struct RecordingContent {
  int sample_rate_index = 0;
  std::int32_t lo_hz = 7050000;
  std::uint64_t pairs = 0;
  std::vector<Tone> tones;
  double noise_rms = 40.0;  // per component, 24-bit units
  bool finished = true;
};

// Noise alone.
RecordingContent Pairs(std::uint64_t pairs) {
  RecordingContent content;
  content.pairs = pairs;
  return content;
}

std::int32_t Clamp24(double value) {
  return static_cast<std::int32_t>(std::clamp(std::llround(value), -8388607LL, 8388607LL));
}

void Put24(std::int32_t value, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value >> 16);
}

// The file the recorder would have written had the receiver delivered these
// 24-bit pairs: its header encoder, and at the 2 MS/s row its reduction.
Bytes MakeRecording(const RecordingContent& content) {
  receiver::ReceiverSettings settings;
  settings.lo_hz = content.lo_hz;
  settings.sample_rate_index = content.sample_rate_index;
  settings.preselector_on = true;
  settings.adc_dither_on = true;
  const auto header = recorder::EncodeWavHeader(settings, kStart);
  Bytes file(header.begin(), header.end());

  const double rate_hz = receiver::kSampleRateTable[static_cast<std::size_t>(content.sample_rate_index)].rate_hz;
  const bool reduce = content.sample_rate_index == receiver::kTwoMegaSampleIndex;
  std::mt19937 random(12345);
  std::normal_distribution<double> noise(0.0, std::max(content.noise_rms, 1.0));
  std::vector<Complex> steps;
  for (const Tone& tone : content.tones) steps.push_back(std::polar(1.0, 2.0 * kPi * tone.offset_hz / rate_hz));
  std::vector<Complex> phasors(content.tones.size(), 1.0);
  std::uint8_t pair[6];
  std::uint8_t reduced[4];
  for (std::uint64_t n = 0; n < content.pairs; ++n) {
    Complex value;
    if (content.noise_rms > 0.0) value = {noise(random), noise(random)};
    const double t = static_cast<double>(n) / rate_hz;
    for (std::size_t i = 0; i < content.tones.size(); ++i) {
      if (t >= content.tones[i].from_s) value += kFullScale24 * std::pow(10.0, content.tones[i].dbfs / 20.0) * phasors[i];
      phasors[i] *= steps[i];
      if (n % 1024 == 0) phasors[i] /= std::abs(phasors[i]);
    }
    Put24(Clamp24(value.real()), pair);
    Put24(Clamp24(value.imag()), pair + 3);
    if (reduce) {
      recorder::ReduceBlock(pair, 1, reduced);
      file.insert(file.end(), reduced, reduced + 4);
    } else {
      file.insert(file.end(), pair, pair + 6);
    }
  }
  if (content.finished) testing::FinishRecording(file);
  return file;
}

double RateOf(int sample_rate_index) {
  return receiver::kSampleRateTable[static_cast<std::size_t>(sample_rate_index)].rate_hz;
}

double BinHz(int sample_rate_index) {
  const double rate = RateOf(sample_rate_index);
  return rate / spectrum::DefaultFftSize(rate);
}

class SpectrumToolTest : public ::testing::Test {
 protected:
  fs::path Write(const std::string& name, const Bytes& bytes) {
    testing::WriteBytes(scratch_ / name, bytes);
    return scratch_ / name;
  }
  fs::path WriteRecording(const std::string& name, const RecordingContent& content) { return Write(name, MakeRecording(content)); }
  fs::path Picture(const std::string& name = "picture.png") { return scratch_ / name; }

  testing::ScratchDirectory scratch_;
};

// ---------------------------------------------------------------------------
// Tones

TEST_F(SpectrumToolTest, APureToneIsFoundAtItsRfFrequencyAndLevelIn24BitPairs) {
  RecordingContent content;
  content.pairs = 250000;  // 2 s at 125 kS/s
  content.tones = {{12345.6, -20.0}, {-30000.3, -60.0}};
  const auto recording = WriteRecording("tone.wav", content);
  const ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "2"});
  ASSERT_EQ(run.status, 0) << run.output();

  const auto peaks = PeaksOf(run);
  ASSERT_EQ(peaks.size(), 2u) << run.output();
  const double bin = BinHz(0);
  EXPECT_NEAR(peaks[0].hz, 7050000.0 + 12345.6, 0.05 * bin) << run.output();
  EXPECT_NEAR(peaks[0].dbfs, -20.0, 0.5) << run.output();
  EXPECT_NEAR(peaks[1].hz, 7050000.0 - 30000.3, 0.05 * bin) << run.output();
  EXPECT_NEAR(peaks[1].dbfs, -60.0, 0.5) << run.output();

  const auto png = ReadPng(Picture());
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, spectrum::kPictureWidth);
  EXPECT_EQ(png->height, spectrum::kPictureHeight);
  EXPECT_TRUE(Has(run, "LO 7050000 Hz, started 2026-12-31T23:59:59Z")) << run.output();
}

TEST_F(SpectrumToolTest, APureToneIsFoundAtItsRfFrequencyAndLevelIn16BitPairsAtTwoMegaSamples) {
  RecordingContent content;
  content.sample_rate_index = receiver::kTwoMegaSampleIndex;
  content.lo_hz = 14100000;
  content.pairs = 6 * 131072;
  content.tones = {{-321700.4, -10.0}, {456789.1, -40.0}};
  content.noise_rms = 600.0;  // a few 16-bit steps
  const auto recording = WriteRecording("tone16.wav", content);
  ASSERT_EQ(fs::file_size(recording), 90u + content.pairs * 4);
  const ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "2"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "2 MS/s, 16-bit pairs")) << run.output();

  const auto peaks = PeaksOf(run);
  ASSERT_EQ(peaks.size(), 2u) << run.output();
  const double bin = BinHz(receiver::kTwoMegaSampleIndex);
  EXPECT_NEAR(peaks[0].hz, 14100000.0 - 321700.4, 0.05 * bin) << run.output();
  EXPECT_NEAR(peaks[0].dbfs, -10.0, 0.5) << run.output();
  EXPECT_NEAR(peaks[1].hz, 14100000.0 + 456789.1, 0.05 * bin) << run.output();
  EXPECT_NEAR(peaks[1].dbfs, -40.0, 0.5) << run.output();
  ASSERT_TRUE(ReadPng(Picture()));
}

TEST_F(SpectrumToolTest, AFullScaleToneReadsZeroDbfsAtBothSampleSizes) {
  for (int index : {0, receiver::kTwoMegaSampleIndex}) {
    RecordingContent content;
    content.sample_rate_index = index;
    content.pairs = 4 * static_cast<std::uint64_t>(spectrum::DefaultFftSize(RateOf(index)));
    content.tones = {{RateOf(index) / 7.0, 0.0}};
    content.noise_rms = 0.0;
    const auto recording = WriteRecording("full" + std::to_string(index) + ".wav", content);
    const ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "1"});
    ASSERT_EQ(run.status, 0) << run.output();
    const auto peaks = PeaksOf(run);
    ASSERT_EQ(peaks.size(), 1u) << run.output();
    EXPECT_NEAR(peaks[0].dbfs, 0.0, 0.2) << "row " << index << "\n" << run.output();
  }
}

// Wherever a tone falls between two bins, the parabola puts it back.
TEST_F(SpectrumToolTest, TonesBetweenBinsAreFoundWithinATwentiethOfABin) {
  const double bin = BinHz(0);
  RecordingContent content;
  content.pairs = 125000;
  const double fractions[] = {0.0, 0.2, 0.4, 0.5, 0.65, 0.85};
  for (int i = 0; i < 6; ++i) content.tones.push_back({(-2400.0 + 800.0 * i + fractions[i]) * bin, -30.0 - 3.0 * i});
  const auto recording = WriteRecording("fractions.wav", content);
  const ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "6"});
  ASSERT_EQ(run.status, 0) << run.output();
  const auto peaks = PeaksOf(run);
  ASSERT_EQ(peaks.size(), 6u) << run.output();
  for (const Tone& tone : content.tones) {
    const PrintedPeak peak = NearestPeak(peaks, 7050000.0 + tone.offset_hz);
    EXPECT_NEAR(peak.hz, 7050000.0 + tone.offset_hz, 0.05 * bin) << run.output();
    EXPECT_NEAR(peak.dbfs, tone.dbfs, 0.3) << run.output();
  }
}

TEST_F(SpectrumToolTest, EveryRowOfTheRateTableGivesAPictureWithItsToneInPlace) {
  for (int index = 0; index < receiver::kSampleRateCount; ++index) {
    const double rate = RateOf(index);
    const double bin = BinHz(index);
    RecordingContent content;
    content.sample_rate_index = index;
    content.lo_hz = 3600000 + 1000 * index;
    content.pairs = 3 * static_cast<std::uint64_t>(spectrum::DefaultFftSize(rate));
    content.tones = {{std::round(rate / 8.0 / bin) * bin + 0.37 * bin, -30.0}};
    content.noise_rms = index == receiver::kTwoMegaSampleIndex ? 600.0 : 40.0;
    const auto recording = WriteRecording("row" + std::to_string(index) + ".wav", content);
    const auto picture = Picture("row" + std::to_string(index) + ".png");
    const ToolRun run = Spectrum({recording, "-o", picture, "--peaks", "1"});
    ASSERT_EQ(run.status, 0) << "row " << index << "\n" << run.output();
    const auto peaks = PeaksOf(run);
    ASSERT_EQ(peaks.size(), 1u) << run.output();
    EXPECT_NEAR(peaks[0].hz, content.lo_hz + content.tones[0].offset_hz, 0.05 * bin) << "row " << index << "\n"
                                                                                << run.output();
    EXPECT_NEAR(peaks[0].dbfs, -30.0, 0.5) << "row " << index << "\n" << run.output();
    const auto png = ReadPng(picture);
    ASSERT_TRUE(png) << "row " << index;
    EXPECT_EQ(png->width, spectrum::kPictureWidth);
    EXPECT_EQ(png->height, spectrum::kPictureHeight);
  }
}

// A carrier that comes on halfway through lights the lower half of the
// waterfall only, in the column of its frequency; the spectrum above shows it.
TEST_F(SpectrumToolTest, TheWaterfallRunsDownwardInTimeAtTheToneColumn) {
  RecordingContent content;
  content.pairs = 250000;
  content.tones = {{25000.0, -40.0, 1.0}};
  const auto recording = WriteRecording("late.wav", content);
  const ToolRun run = Spectrum({recording, "-o", Picture(), "--average", "2"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "waterfall: 30 lines of 2 transforms")) << run.output();
  const auto png = ReadPng(Picture());
  ASSERT_TRUE(png);

  const auto& area = spectrum::kWaterfallArea;
  const double x = area.left + (25000.0 / RateOf(0) + 0.5) * area.width;
  const double quiet_x = area.left + (-40000.0 / RateOf(0) + 0.5) * area.width;
  const double early_y = area.top + area.height * 0.2;
  const double late_y = area.top + area.height * 0.8;
  EXPECT_GT(Brightness(png->at(x, late_y)), 3 * Brightness(png->at(x, early_y)) + 60);
  EXPECT_GT(Brightness(png->at(x, late_y)), 3 * Brightness(png->at(quiet_x, late_y)) + 60);
  // The averaged trace rises at the tone: its top lies well above the trace
  // beside it.
  const auto& top = spectrum::kSpectrumArea;
  const auto trace_top = [&](double column_x) {
    for (double y = top.top + 1; y < top.bottom(); ++y) {
      if (Brightness(png->at(column_x, y)) > 300) return y;
    }
    return top.bottom();
  };
  EXPECT_LT(trace_top(x), trace_top(quiet_x) - 0.25 * top.height);
}

// ---------------------------------------------------------------------------
// Recordings that are not what they seem

TEST_F(SpectrumToolTest, AnUnfinishedRecordingIsDrawnFromItsLengthWithANote) {
  RecordingContent content;
  content.pairs = 50000;
  content.tones = {{-7000.0, -50.0}};
  content.finished = false;
  const auto recording = WriteRecording("crashed.wav", content);
  const ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "1"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "note: unfinished recording")) << run.output();
  EXPECT_TRUE(Has(run, "(50000 pairs)")) << run.output();
  const auto peaks = PeaksOf(run);
  ASSERT_EQ(peaks.size(), 1u);
  EXPECT_NEAR(peaks[0].hz, 7043000.0, 0.05 * BinHz(0));
  // The picture says so too, in the warning line under its title.
  const auto png = ReadPng(Picture());
  ASSERT_TRUE(png);
  EXPECT_GT(WarningPixels(*png), 100);

  content.finished = true;
  const ToolRun finished = Spectrum({WriteRecording("stopped.wav", content), "-o", Picture("stopped.png")});
  ASSERT_EQ(finished.status, 0) << finished.output();
  EXPECT_FALSE(Has(finished, "note:")) << finished.output();
  EXPECT_EQ(WarningPixels(*ReadPng(Picture("stopped.png"))), 0);
}

TEST_F(SpectrumToolTest, ACopyCutShortIsDrawnFromTheDataItHoldsWithANote) {
  RecordingContent content;
  content.pairs = 60000;
  content.tones = {{3000.0, -50.0}};
  Bytes bytes = MakeRecording(content);
  bytes.resize(90 + 6 * 40000 + 4);  // a torn pair at the end, too
  const auto recording = Write("cut.wav", bytes);
  const ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "1"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "note: its sizes disagree with the file's length: drawn from the 240004 data bytes present"))
      << run.output();
  EXPECT_TRUE(Has(run, "(40000 pairs)")) << run.output();
  ASSERT_EQ(PeaksOf(run).size(), 1u);
  EXPECT_NEAR(PeaksOf(run)[0].hz, 7053000.0, 0.05 * BinHz(0));
}

TEST_F(SpectrumToolTest, AStereoWavWithoutReceiverChunkIsDrawnInOffsetsFromTheLo) {
  RecordingContent content;
  content.pairs = 40000;
  content.tones = {{-11111.1, -30.0}};
  const Bytes recording = MakeRecording(content);
  // The same file without its "rcvr" chunk: a plain 24-bit stereo WAV.
  Bytes plain(recording.begin(), recording.begin() + 36);
  plain.insert(plain.end(), recording.begin() + 82, recording.end());
  const auto riff = recorder::EncodeSizeField(static_cast<std::uint32_t>(plain.size() - 8));
  std::copy(riff.begin(), riff.end(), plain.begin() + 4);
  const auto path = Write("plain.wav", plain);
  const ToolRun run = Spectrum({path, "-o", Picture(), "--peaks", "1"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "note: no receiver chunk: frequencies are offsets from the LO")) << run.output();
  EXPECT_TRUE(Has(run, "strongest peaks (offset frequency, level)")) << run.output();
  ASSERT_EQ(PeaksOf(run).size(), 1u);
  EXPECT_NEAR(PeaksOf(run)[0].hz, -11111.1, 0.05 * BinHz(0));
}

// What sox makes of a recording: trimmed, it is WAVE_FORMAT_EXTENSIBLE without
// the "rcvr" chunk; converted, floats or 32-bit integers. Each is drawn with
// its tones at their offsets and levels.
TEST_F(SpectrumToolTest, RecordingsRewrittenBySoxAreDrawnAtTheirOffsetsAndLevels) {
  RecordingContent content;
  content.pairs = 250000;
  content.tones = {{12345.6, -20.0}, {-30000.3, -60.0}};
  const auto recording = WriteRecording("tone.wav", content);
  struct Copy {
    std::string name;
    std::vector<std::string> format;  // sox's output options
    std::vector<std::string> effect;
    std::string said;                 // what the tool says of the pairs
  };
  for (const Copy& copy : {Copy{"trimmed.wav", {}, {"trim", "0", "1.5"}, "24-bit pairs, no receiver chunk, 1.500 s"},
                           Copy{"float.wav", {"-e", "floating-point", "-b", "32"}, {}, "32-bit float pairs"},
                           Copy{"int32.wav", {"-e", "signed-integer", "-b", "32"}, {}, "32-bit pairs"}}) {
    const std::string& name = copy.name;
    std::vector<std::string> arguments{recording};
    arguments.insert(arguments.end(), copy.format.begin(), copy.format.end());
    arguments.push_back(scratch_ / name);
    arguments.insert(arguments.end(), copy.effect.begin(), copy.effect.end());
    ASSERT_TRUE(testing::Sox(arguments)) << name;
    const ToolRun run = Spectrum({scratch_ / name, "-o", Picture(name + ".png"), "--peaks", "2"});
    ASSERT_EQ(run.status, 0) << name << "\n" << run.output();
    EXPECT_TRUE(Has(run, "note: no receiver chunk: frequencies are offsets from the LO")) << run.out;
    EXPECT_TRUE(Has(run, copy.said)) << run.out;
    const auto peaks = PeaksOf(run);
    ASSERT_EQ(peaks.size(), 2u) << run.output();
    EXPECT_NEAR(peaks[0].hz, 12345.6, 0.05 * BinHz(0)) << name;
    EXPECT_NEAR(peaks[0].dbfs, -20.0, 0.5) << name;
    EXPECT_NEAR(peaks[1].hz, -30000.3, 0.05 * BinHz(0)) << name;
    EXPECT_NEAR(peaks[1].dbfs, -60.0, 0.5) << name;
    EXPECT_TRUE(ReadPng(Picture(name + ".png"))) << name;
  }
}

TEST_F(SpectrumToolTest, FilesThatAreNotRecordingsAreRefusedWithoutAPicture) {
  const auto text = Write("notes.wav", Bytes(200, 'x'));
  ToolRun run = Spectrum({text, "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "notes.wav: not a RIFF/WAVE file")) << run.output();

  // A WAV, but of one channel: no I/Q pairs.
  RecordingContent content;
  content.pairs = 10000;
  Bytes mono = MakeRecording(content);
  mono[22] = 1;
  run = Spectrum({Write("mono.wav", mono), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "mono.wav: cannot draw it: it has 1 channels")) << run.output();

  Bytes compressed = MakeRecording(content);
  compressed[20] = 2;  // ADPCM
  run = Spectrum({Write("adpcm.wav", compressed), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "its samples are format 0x0002, neither PCM nor IEEE float")) << run.output();

  Bytes odd = MakeRecording(content);
  odd[34] = 20;
  run = Spectrum({Write("odd.wav", odd), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "its samples have 20 bits; 16, 24 or 32-bit integers are read")) << run.output();

  // A chunk claiming more than the file holds is not followed.
  Bytes damaged = MakeRecording(content);
  damaged[40] = 0xFF;
  damaged[41] = 0xFF;
  damaged[42] = 0xFF;
  damaged[43] = 0xFF;
  run = Spectrum({Write("damaged.wav", damaged), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "a chunk runs past the end of the file")) << run.output();

  run = Spectrum({(scratch_ / "missing.wav").string(), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "missing.wav: cannot open the file: No such file or directory")) << run.output();

  run = Spectrum({scratch_.path().string(), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, scratch_.path().string() + ": is a directory\n")) << run.output();
  EXPECT_FALSE(fs::exists(Picture()));
}

TEST_F(SpectrumToolTest, AnEmptyRecordingSaysSoAndDrawsNothing) {
  RecordingContent content;
  content.pairs = 0;
  ToolRun run = Spectrum({WriteRecording("empty.wav", content), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "empty.wav: the recording holds no sample data")) << run.output();

  content.finished = false;  // stopped by a crash before its first block
  run = Spectrum({WriteRecording("crashed-empty.wav", content), "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "note: unfinished recording")) << run.output();
  EXPECT_TRUE(Has(run, "the recording holds no sample data")) << run.output();
  EXPECT_FALSE(fs::exists(Picture()));
}

TEST_F(SpectrumToolTest, AShortRecordingGetsASmallerTransformUnlessOneWasAskedFor) {
  RecordingContent content;
  content.pairs = 3000;  // under the default 8192
  content.tones = {{10000.0, -30.0}};
  const auto recording = WriteRecording("short.wav", content);
  ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "1"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "note: the recording is shorter than a transform of 8192 pairs: using 2048")) << run.output();
  ASSERT_EQ(PeaksOf(run).size(), 1u);
  EXPECT_NEAR(PeaksOf(run)[0].hz, 7060000.0, 0.05 * RateOf(0) / 2048);

  run = Spectrum({recording, "-o", Picture("asked.png"), "--fft", "4096"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "holds 3000 pairs, fewer than one transform of 4096")) << run.output();
  EXPECT_FALSE(fs::exists(Picture("asked.png")));

  run = Spectrum({WriteRecording("tiny.wav", Pairs(40)), "-o", Picture("tiny.png")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "only 40 pairs, too few for a spectrum")) << run.output();
}

TEST_F(SpectrumToolTest, WrongArgumentsAreRefusedWithTheUsage) {
  const auto recording = WriteRecording("ok.wav", Pairs(20000));
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {recording, "--fft"}, {recording, "--fft", "8"}, {recording, "--fft", "4k"},
        {recording, "--average", "0"}, {recording, "--peaks", "-3"}, {recording, "--colour"}, {recording, "-o"},
        {recording, recording}}) {
    const ToolRun run = Spectrum(arguments);
    EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments) << run.output();
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Has(run, "usage: halvorn-spectrum")) << run.output();
  }
  EXPECT_TRUE(Has(Spectrum({recording, "--fft", "8"}), "halvorn-spectrum: --fft wants a whole number from 16 to 1048576\n"));
  EXPECT_TRUE(Has(Spectrum({}), "halvorn-spectrum: which recording?\n"));
  EXPECT_FALSE(fs::exists(Picture()));
  const ToolRun over = Spectrum({recording, "-o", recording});
  EXPECT_EQ(over.status, 1);
  EXPECT_TRUE(Has(over, "the picture would overwrite the recording")) << over.output();
  EXPECT_EQ(fs::file_size(recording), 90u + 6 * 20000);
}

TEST_F(SpectrumToolTest, HelpAndVersionAnswerOnStandardOutput) {
  const ToolRun help = Spectrum({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: halvorn-spectrum RECORDING.wav", 0), 0u) << help.out;
  EXPECT_TRUE(Has(help, "--peaks K")) << help.out;
  EXPECT_EQ(help.err, "");
  const ToolRun version = Spectrum({"ignored.wav", "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "halvorn-spectrum (ExtIO_halvorn) " HALVORN_VERSION "\n");
}

TEST_F(SpectrumToolTest, ThePictureIsNamedAfterTheRecordingByDefault) {
  const auto recording = WriteRecording("Thu Dec 31 23-59-59 2026.wav", Pairs(20000));
  const ToolRun run = Spectrum({recording});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(ReadPng(scratch_ / "Thu Dec 31 23-59-59 2026.png"));
}

TEST_F(SpectrumToolTest, APictureThatCannotBeWrittenFailsAndLeavesNoPartOfItBehind) {
  const auto recording = WriteRecording("ok.wav", Pairs(20000));
  const auto nowhere = scratch_ / "no such folder" / "picture.png";
  ToolRun run = Spectrum({recording, "-o", nowhere});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run, "cannot create")) << run.output();
  EXPECT_TRUE(Has(run, "No such file or directory")) << run.output();

  // A picture already there is replaced only by a whole new one.
  testing::WriteBytes(Picture(), Bytes{'o', 'l', 'd'});
  fs::create_directory(scratch_ / "picture.png.partial");  // in the way of the partial file
  run = Spectrum({recording, "-o", Picture()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(testing::ReadBytes(Picture()), (Bytes{'o', 'l', 'd'}));
}

// Recordings run to gigabytes; the tool reads them a piece at a time. A
// sparse file of silence costs no disk, and its silence must not turn into
// levels that do not exist.
TEST_F(SpectrumToolTest, ALongRecordingIsStreamedNotLoadedAndSilenceHasNoPeaks) {
  RecordingContent content;
  content.finished = false;
  const auto recording = WriteRecording("long.wav", content);
  constexpr std::uint64_t kDataBytes = 300ull << 20;
  fs::resize_file(recording, 90 + kDataBytes);
  const ToolRun run = Spectrum({recording, "-o", Picture(), "--peaks", "3"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "(" + std::to_string(kDataBytes / 6) + " pairs)")) << run.output();
  EXPECT_TRUE(Has(run, "waterfall: 400 lines")) << run.output();
  EXPECT_TRUE(Has(run, "none: the spectrum is flat")) << run.output();
  EXPECT_LT(run.max_rss_kib, 64 * 1024) << "the whole recording would be " << (kDataBytes >> 20) << " MiB";
  EXPECT_TRUE(ReadPng(Picture()));
}

// ---------------------------------------------------------------------------
// The simulated receiver's scene, recorded through the plug-in's core

// What the simulator's documentation promises around 7.05 MHz.
struct Station {
  double rf_hz;
  double dbfs;      // level of a steady carrier
  bool steady;      // keyed CW averages lower
};
// The simulated receiver's reference clock runs 2.1 ppm fast.
constexpr double kTrueClockHz = 80000170.0;
constexpr Station kStations[] = {
    {6995000.0, -80.0, true},  {7020000.0, -75.0, false}, {7040000.0, -100.0, true},
    {7051500.0, -90.0, true},  {7075000.0, -70.0, true},  {7100000.0, -85.0, true},
    {0.0879 * kTrueClockHz, -105.0, true},  // the ADC's spur, with dither off
};

// Where a station shows when the plug-in tunes `lo_hz` with the nominal clock
// and the file carries the nominal rate: the mixer uses the true clock's NCO
// frequency, and each offset is read with a rate 2.1 ppm slower than true.
double ShownAt(double rf_hz, std::int32_t lo_hz) {
  const double tuned_hz =
      testing::TunedHz(receiver::NcoWord(lo_hz, receiver::kNominalReferenceClockHz), kTrueClockHz);
  return lo_hz + (rf_hz - tuned_hz) * receiver::kNominalReferenceClockHz / kTrueClockHz;
}

class SceneRecordingTest : public ::testing::Test {
 protected:
  SceneRecordingTest() {
    setenv("HALVORNSIM_SOURCE", "scene", 1);
    setenv("HALVORNSIM_PACING", "unpaced", 1);
    for (const char* name : {"HALVORNSIM_CLOCK_HZ", "HALVORNSIM_FAIL", "HALVORNSIM_JOURNAL"}) unsetenv(name);
    testing::CountingHost::Instance().Reset();
  }

  // Records `seconds` of the scene at `sample_rate_index` with dither off,
  // through the panel's buttons and the real stream and recorder.
  fs::path Record(int sample_rate_index, std::int32_t lo_hz, double seconds) {
    recorder::RecorderOptions options;
    options.directory = recorder::MakePlatformRecordingDirectory(scratch_.path().string());
    options.clock = clock_.AsClock();
    testing::NativeModule module(testing::SimulatorDirectory(), nullptr, nullptr, std::move(options));
    EXPECT_TRUE(module.Init());
    module.plugin().SetCallback(&testing::CountingHost::Callback);
    panel::ControlPanel& panel = module.panel();
    EXPECT_TRUE(module.plugin().OpenHW());
    panel.OnClick(panel::RateButtonFor(sample_rate_index));
    module.ui.SetCheck(panel::kAdcDither, false);
    panel.OnClick(panel::kAdcDither);
    // The host tunes and starts the stream; then the user presses "Rec".
    EXPECT_GT(module.plugin().StartHW(lo_hz), 0);
    panel.OnClick(panel::kRecButton);

    const auto blocks = static_cast<std::uint64_t>(seconds * RateOf(sample_rate_index) / 1024.0);
    const std::uint64_t before = testing::CountingHost::Instance().blocks();
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (testing::CountingHost::Instance().blocks() - before < blocks && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    module.plugin().StopHW();
    panel.OnClick(panel::kStopButton);
    // Unpaced, the stream may outrun the recording now and then: the blocks
    // dropped are said at Stop, and the stations are found all the same.
    for (const std::string& error : module.ui.errors()) EXPECT_EQ(error.rfind("Recording incomplete: ", 0), 0u) << error;
    dropped_blocks_ = module.plugin().stream().dropped_blocks();
    return scratch_ / "Thu Dec 31 23-59-59 2026.wav";
  }

  testing::ScratchDirectory scratch_;
  testing::ManualClock clock_{kStart};
  std::uint64_t dropped_blocks_ = 0;
};

TEST_F(SceneRecordingTest, TheDocumentedStationsComeOutAmongThePeaksAtTheirFrequencies) {
  constexpr int kRow = 1;  // 250 kS/s: 6.925 to 7.175 MHz
  constexpr std::int32_t kLo = 7050000;
  // Eight seconds hold the keyed station's whole message once.
  const fs::path recording = Record(kRow, kLo, 8.0);
  ASSERT_TRUE(fs::exists(recording));
  testing::ExpectFinished(recording);
  const fs::path picture = scratch_ / "scene.png";
  const ToolRun run = Spectrum({recording, "-o", picture, "--peaks", "20"});
  ASSERT_EQ(run.status, 0) << run.output();
  EXPECT_TRUE(Has(run, "250 kS/s, 24-bit pairs, LO 7050000 Hz, started 2026-12-31T23:59:59Z")) << run.output();
  RecordProperty("dropped_blocks", std::to_string(dropped_blocks_));

  const auto peaks = PeaksOf(run);
  ASSERT_EQ(peaks.size(), 20u) << run.output();
  const double bin = BinHz(kRow);
  for (const Station& station : kStations) {
    const double shown_hz = ShownAt(station.rf_hz, kLo);
    const PrintedPeak peak = NearestPeak(peaks, shown_hz);
    EXPECT_NEAR(peak.hz, shown_hz, 0.1 * bin) << "station at " << station.rf_hz << " Hz\n" << run.output();
    if (station.steady) {
      EXPECT_NEAR(peak.dbfs, station.dbfs, 1.0) << "station at " << station.rf_hz << " Hz";
    }
  }
  // The clock offset is really there: each station lies about 15 Hz below
  // its nominal frequency, a whole bin's fraction the tool resolves.
  EXPECT_NEAR(NearestPeak(peaks, 7100000.0).hz, 7100000.0 - 14.9, 0.1 * bin);

  const auto png = ReadPng(picture);
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, spectrum::kPictureWidth);
  EXPECT_EQ(png->height, spectrum::kPictureHeight);
  // docs/spectrum-example.png is this picture (tools/spectrum/make-example.sh).
  if (const char* example = std::getenv("HALVORN_SPECTRUM_EXAMPLE")) {
    fs::copy_file(picture, example, fs::copy_options::overwrite_existing);
  }
}

// ---------------------------------------------------------------------------
// The parts with arithmetic of their own

TEST(SpectrumPartsTest, DefaultTransformsGiveBinsOfTenToThirtyHertzAtEveryRate) {
  for (const auto& row : receiver::kSampleRateTable) {
    const int size = spectrum::DefaultFftSize(row.rate_hz);
    EXPECT_EQ(size & (size - 1), 0) << row.rate_hz;
    EXPECT_GE(size, 1024);
    EXPECT_GE(row.rate_hz / static_cast<double>(size), 10.0) << row.rate_hz;
    EXPECT_LE(row.rate_hz / static_cast<double>(size), 30.0) << row.rate_hz;
  }
  EXPECT_EQ(spectrum::DefaultFftSize(125000), 8192);
  EXPECT_EQ(spectrum::DefaultFftSize(2000000), 131072);
  EXPECT_EQ(spectrum::DefaultFftSize(48077), 4096);
}

TEST(SpectrumPartsTest, PlansFitTheWaterfallIntoItsRows) {
  spectrum::PlanRequest request;
  request.pairs = 8192 + 4096 * 999;
  request.rate_hz = 125000;
  request.max_lines = 400;
  spectrum::PlanOutcome outcome = spectrum::PlanAnalysis(request);
  ASSERT_TRUE(outcome.plan);
  EXPECT_EQ(outcome.plan->frames, 1000u);
  EXPECT_EQ(outcome.plan->frames_per_line, 3u);
  EXPECT_EQ(outcome.plan->lines, 334);
  EXPECT_TRUE(outcome.notes.empty());

  request.frames_per_line = 1;
  outcome = spectrum::PlanAnalysis(request);
  ASSERT_TRUE(outcome.plan);
  EXPECT_EQ(outcome.plan->frames_per_line, 3u);
  ASSERT_EQ(outcome.notes.size(), 1u);

  request.frames_per_line = 2000;
  outcome = spectrum::PlanAnalysis(request);
  ASSERT_TRUE(outcome.plan);
  EXPECT_EQ(outcome.plan->lines, 1);
}

TEST(SpectrumPartsTest, TickStepsAreOneTwoOrFiveTimesAPowerOfTen) {
  EXPECT_DOUBLE_EQ(spectrum::NiceStep(125000, 14), 10000);
  EXPECT_DOUBLE_EQ(spectrum::NiceStep(2000000, 14), 200000);
  EXPECT_DOUBLE_EQ(spectrum::NiceStep(48077, 14), 5000);
  EXPECT_DOUBLE_EQ(spectrum::NiceStep(80, 10), 10);
  EXPECT_DOUBLE_EQ(spectrum::NiceStep(100, 10), 10);
  EXPECT_DOUBLE_EQ(spectrum::NiceStep(0.9, 8), 0.2);

  const auto ticks = spectrum::TicksWithin(6987500, 7112500, 10000);
  ASSERT_EQ(ticks.size(), 13u);
  EXPECT_DOUBLE_EQ(ticks.front(), 6990000);
  EXPECT_DOUBLE_EQ(ticks.back(), 7110000);
  EXPECT_EQ(spectrum::TicksWithin(-140, -20, 20).size(), 7u);
}

TEST(SpectrumPartsTest, FrequencyLabelsHaveTheUnitAndDecimalsTheirStepNeeds) {
  auto unit = spectrum::UnitFor(6987500, 7112500, 10000);
  EXPECT_STREQ(unit.name, "MHz");
  EXPECT_EQ(spectrum::FrequencyLabel(7010000, unit), "7.01");
  unit = spectrum::UnitFor(7026000, 7074000, 5000);
  EXPECT_EQ(spectrum::FrequencyLabel(7035000, unit), "7.035");
  unit = spectrum::UnitFor(13100000, 15100000, 200000);
  EXPECT_EQ(spectrum::FrequencyLabel(13200000, unit), "13.2");
  unit = spectrum::UnitFor(437500, 562500, 10000);
  EXPECT_STREQ(unit.name, "kHz");
  EXPECT_EQ(spectrum::FrequencyLabel(440000, unit), "440");
  unit = spectrum::UnitFor(-62500, 62500, 10000);
  EXPECT_EQ(spectrum::FrequencyLabel(-60000, unit), "-60");
  EXPECT_EQ(spectrum::FrequencyLabel(-1e-9, unit), "0");
}

TEST(SpectrumPartsTest, ColumnsShowEveryBinOnceInFrequencyOrder) {
  const auto wide = spectrum::BinsOfColumns(8192, 1040);
  EXPECT_EQ(wide.front().first, 0);
  EXPECT_EQ(wide.back().second, 8191);
  for (std::size_t c = 1; c < wide.size(); ++c) EXPECT_EQ(wide[c].first, wide[c - 1].second + 1) << c;
  // Bin 4096 (offset 0) sits in the middle column.
  EXPECT_LE(wide[520].first, 4096);
  EXPECT_GE(wide[520].second, 4096);

  // Fewer bins than columns: each column shows the bin nearest its middle,
  // and the columns past the last bin's centre show the last bin.
  const auto narrow = spectrum::BinsOfColumns(64, 1040);
  for (std::size_t c = 0; c < narrow.size(); ++c) {
    EXPECT_EQ(narrow[c].first, narrow[c].second);
    const double middle_in_bins = (static_cast<double>(c) + 0.5) / 1040.0 * 64.0;
    if (middle_in_bins <= 63.0) {
      EXPECT_LE(std::fabs(narrow[c].first - middle_in_bins), 0.5 + 1e-9) << c;
    } else {
      EXPECT_EQ(narrow[c].first, 63) << c;
    }
  }
}

TEST(SpectrumPartsTest, PeaksAreTheStrongestOfTheirSurroundingsPlacedBetweenBins) {
  std::vector<double> db(256, -120.0);
  const auto bump = [&](double centre, double top) {
    for (int j = 0; j < 256; ++j) db[j] = std::max(db[j], top - 3.0 * (j - centre) * (j - centre));
  };
  bump(40.3, -20.0);
  bump(100.0, -50.0);
  bump(103.0, -60.0);  // within the guard of the one before: not a peak of its own
  bump(200.75, -40.0);
  std::vector<double> power(db.size());
  for (std::size_t j = 0; j < db.size(); ++j) power[j] = std::pow(10.0, db[j] / 10.0);

  const auto peaks = spectrum::StrongestPeaks(power, 10, 4);
  ASSERT_EQ(peaks.size(), 3u);
  EXPECT_NEAR(peaks[0].offset_bins, 40.3 - 128, 1e-9);
  EXPECT_NEAR(peaks[0].level_db, -20.0, 1e-9);
  EXPECT_NEAR(peaks[1].offset_bins, 200.75 - 128, 1e-9);
  EXPECT_NEAR(peaks[2].offset_bins, 100.0 - 128, 1e-9);
  EXPECT_EQ(spectrum::StrongestPeaks(power, 2, 4).size(), 2u);
  EXPECT_TRUE(spectrum::StrongestPeaks(std::vector<double>(256, 0.0), 5, 4).empty());
}

}  // namespace
}  // namespace halvorn
