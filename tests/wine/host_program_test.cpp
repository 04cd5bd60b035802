// The host program's parts on their own, under Wine: the command line, the
// rate meter and loss estimate, the capture ring, the host callback, the BMP
// header, and the message-box watcher that must leave a plug-in's own
// dialogs alone.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include "host/bmp_header.h"
#include "host/capture_writer.h"
#include "host/extio_host_options.h"
#include "host/extio_plugin.h"
#include "host/message_box_watcher.h"
#include "host/rate_meter.h"
#include "host/session_callback.h"
#include "simulator/counting_pattern.h"

namespace halvorn::host {
namespace {

cli::Parsed ParseOnly(std::vector<const char*> arguments, HostOptions& options) {
  arguments.insert(arguments.begin(), "extio_host");
  return ParseHostOptions(static_cast<int>(arguments.size()), arguments.data(), options);
}

// The options of a command line that asks for a session; nothing otherwise.
std::optional<HostOptions> Parse(std::vector<const char*> arguments, std::string* error = nullptr) {
  HostOptions options;
  const cli::Parsed parsed = ParseOnly(std::move(arguments), options);
  if (error) *error = parsed.error;
  if (parsed.request != cli::Request::kRun) return std::nullopt;
  return options;
}

std::string TemporaryPath(const char* name) {
  char directory[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + "halvorn-host-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---------------------------------------------------------------------------
// Command line

TEST(HostOptionsTest, WithoutArgumentsASessionOfTenSecondsOnTheDefaults) {
  const auto options = Parse({});
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->plugin_path.empty());
  EXPECT_FALSE(options->lo_hz);
  EXPECT_FALSE(options->rate_index);
  EXPECT_EQ(options->seconds, 10.0);
  EXPECT_EQ(options->watchdog_s, 3.0);
  EXPECT_FALSE(options->record);
  EXPECT_FALSE(options->quiet);
  EXPECT_TRUE(options->source.empty());
  EXPECT_FALSE(options->attenuation_db);
  EXPECT_FALSE(options->list);
}

TEST(HostOptionsTest, EveryOptionIsTaken) {
  const auto options = Parse({"--plugin", "C:\\x\\ExtIO_y.dll", "--lo", "7.0515M", "--rate", "2M", "--seconds",
                              "2.5", "--record", "--source", "counting", "--capture", "c.iq", "--panel-picture",
                              "p.bmp", "--watchdog", "1.5", "--quiet", "--att", "-20", "--list"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->plugin_path, "C:\\x\\ExtIO_y.dll");
  EXPECT_EQ(options->lo_hz, 7051500);
  EXPECT_EQ(options->rate_index, 4);
  EXPECT_EQ(options->seconds, 2.5);
  EXPECT_TRUE(options->record);
  EXPECT_EQ(options->source, "counting");
  EXPECT_EQ(options->capture_path, "c.iq");
  EXPECT_EQ(options->panel_picture_path, "p.bmp");
  EXPECT_EQ(options->watchdog_s, 1.5);
  EXPECT_TRUE(options->quiet);
  EXPECT_EQ(options->attenuation_db, 20.0);  // an attenuation, whichever sign it is written with
  EXPECT_TRUE(options->list);
}

TEST(HostOptionsTest, HelpAndVersionWinOverEverythingElse) {
  HostOptions options;
  EXPECT_EQ(ParseOnly({"--help"}, options).request, cli::Request::kHelp);
  EXPECT_EQ(ParseOnly({"--record", "/?"}, options).request, cli::Request::kHelp);
  EXPECT_EQ(ParseOnly({"--frobnicate", "--version"}, options).request, cli::Request::kVersion);
  EXPECT_EQ(ParseOnly({"--seconds=2.5", "--quiet"}, options).request, cli::Request::kRun);
  EXPECT_EQ(options.seconds, 2.5);
}

TEST(HostOptionsTest, WrongValuesAreRefusedWithTheOptionNamed) {
  const std::vector<std::vector<const char*>> wrong = {
      {"--lo", "seven"},      {"--lo", "7.0515005M"}, {"--lo", "3000M"},    {"--rate", "3M"},
      {"--rate", "9"},        {"--seconds", "0"},     {"--seconds", "-1"},  {"--seconds", "2k"},
      {"--source", "noise"},  {"--watchdog", "0.1"},  {"--capture"},        {"--plugin", ""},
      {"--att", "10k"},       {"--att", "loud"},      {"--att", "1000"},
      {"--frobnicate"},       {"extra"}};
  for (const auto& arguments : wrong) {
    std::string error;
    EXPECT_FALSE(Parse(arguments, &error)) << arguments[0];
    EXPECT_NE(error.find(arguments[0]), std::string::npos) << error;
  }
}

TEST(HostOptionsTest, FrequenciesInHertzKilohertzOrMegahertz) {
  EXPECT_EQ(ParseFrequencyHz("7050000"), 7050000);
  EXPECT_EQ(ParseFrequencyHz("7050k"), 7050000);
  EXPECT_EQ(ParseFrequencyHz("7.05M"), 7050000);
  EXPECT_EQ(ParseFrequencyHz("0"), 0);
  EXPECT_EQ(ParseFrequencyHz("-1000"), -1000);
  EXPECT_EQ(ParseFrequencyHz("2147.483647M"), 2147483647);
  EXPECT_FALSE(ParseFrequencyHz("2147.483648M"));
  EXPECT_FALSE(ParseFrequencyHz("7,05M"));
  EXPECT_FALSE(ParseFrequencyHz("7.05 M"));
  EXPECT_FALSE(ParseFrequencyHz("1e6"));
  EXPECT_FALSE(ParseFrequencyHz(""));
}

TEST(HostOptionsTest, RatesByRowOrByTheirValue) {
  for (int row = 0; row <= 8; ++row) EXPECT_EQ(ParseRateChoice(std::to_string(row)), row);
  EXPECT_EQ(ParseRateChoice("125000"), 0);
  EXPECT_EQ(ParseRateChoice("250k"), 1);
  EXPECT_EQ(ParseRateChoice("500k"), 2);
  EXPECT_EQ(ParseRateChoice("1M"), 3);
  EXPECT_EQ(ParseRateChoice("2M"), 4);
  EXPECT_EQ(ParseRateChoice("95238"), 5);
  EXPECT_EQ(ParseRateChoice("48000"), 6);
  EXPECT_EQ(ParseRateChoice("96000"), 7);  // 0.16 % from 96154, 0.8 % from 95238
  EXPECT_EQ(ParseRateChoice("192k"), 8);
  EXPECT_FALSE(ParseRateChoice("100k"));
  EXPECT_FALSE(ParseRateChoice("0.5"));
  EXPECT_FALSE(ParseRateChoice("-250k"));
}

// ---------------------------------------------------------------------------
// Rate meter and loss estimate

// The count a host sees at 2 MS/s: 16 blocks land together every 8.192 ms,
// looked at every 20 ms or so, late by up to 15 ms at random.
struct Staircase {
  double rate_hz = 2000000.0;
  int blocks_per_transfer = 16;
  double lost_from_s = -1.0;  // transfers due from then on never arrive...
  double lost_until_s = -1.0;  // ...until then

  std::uint64_t PairsAt(double t) const {
    const double transfer_s = blocks_per_transfer * 1024.0 / rate_hz;
    std::uint64_t transfers = static_cast<std::uint64_t>(std::floor(t / transfer_s));
    if (lost_from_s >= 0 && t > lost_from_s) {
      const double lost_s = std::min(t, lost_until_s) - lost_from_s;
      transfers -= static_cast<std::uint64_t>(lost_s / transfer_s);
    }
    return transfers * blocks_per_transfer * 1024;
  }
};

RateMeter Measure(const Staircase& stream, double seconds) {
  RateMeter meter;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> lateness(0.0, 0.015);
  for (double t = 0.02; t < seconds; t += 0.02 + lateness(random)) meter.Add(100.0 + t, stream.PairsAt(t));
  return meter;
}

TEST(RateMeterTest, FindsTheRateThroughBurstsAndLateLooks) {
  for (const Staircase stream : {Staircase{2000000.0, 16}, Staircase{48077.0, 1}, Staircase{192308.0, 2}}) {
    const RateMeter meter = Measure(stream, 3.0);
    ASSERT_TRUE(meter.RateHz());
    EXPECT_NEAR(*meter.RateHz(), stream.rate_hz, 0.002 * stream.rate_hz);
  }
}

TEST(RateMeterTest, NoRateBeforeHalfASecondOfPoints) {
  RateMeter meter;
  meter.Add(1.0, 0);
  meter.Add(1.2, 1000);
  meter.Add(1.4, 2000);
  EXPECT_FALSE(meter.RateHz());
  meter.Add(1.6, 3000);
  ASSERT_TRUE(meter.RateHz());
  EXPECT_NEAR(*meter.RateHz(), 5000.0, 1e-6);
  meter.Reset();
  EXPECT_FALSE(meter.RateHz());
  EXPECT_EQ(meter.span_s(), 0.0);
}

TEST(RateMeterTest, HoursOfCountingKeepTheirPrecision) {
  RateMeter meter;
  const double rate = 2000000.0;
  for (double t = 0.0; t <= 4 * 3600.0; t += 0.5) {
    meter.Add(5e5 + t, static_cast<std::uint64_t>(t * rate) + (static_cast<int>(t * 2) % 3) * 16384);
  }
  ASSERT_TRUE(meter.RateHz());
  EXPECT_NEAR(*meter.RateHz(), rate, 1e-6 * rate);
}

TEST(ShortfallTest, AnUnbrokenStreamShowsNoLoss) {
  for (const Staircase stream : {Staircase{2000000.0, 16}, Staircase{48077.0, 1}}) {
    const RateMeter meter = Measure(stream, 10.0);
    const ShortfallEstimate estimate = EstimateShortfall(meter, stream.rate_hz, 1024);
    EXPECT_EQ(estimate.missing_blocks, 0u) << stream.rate_hz;
    EXPECT_NEAR(estimate.received_pairs, estimate.expected_pairs, estimate.tolerance_pairs);
  }
}

TEST(ShortfallTest, AQuarterSecondLostAt2MsPerSecondShows) {
  Staircase stream;
  stream.lost_from_s = 4.0;
  stream.lost_until_s = 4.3;  // 586 blocks, about 37 transfers
  const RateMeter meter = Measure(stream, 10.0);
  const ShortfallEstimate estimate = EstimateShortfall(meter, stream.rate_hz, 1024);
  // What the tolerance hides (0.1 s and 100 ppm: about 200 blocks) is not counted.
  EXPECT_GT(estimate.missing_blocks, 300u);
  EXPECT_LT(estimate.missing_blocks, 600u);
}

// ---------------------------------------------------------------------------
// Capture

TEST(CaptureWriterTest, TheFileHoldsEveryBlockInOrder) {
  const std::string path = TemporaryPath("capture.iq");
  std::string error;
  auto capture = CaptureWriter::Create(path, 64 * 1024, &error);
  ASSERT_TRUE(capture) << error;
  std::vector<std::uint8_t> expected;
  std::vector<std::uint8_t> block(6144);
  for (std::uint64_t pair = 0; pair < 1024 * 500; pair += 1024) {
    for (int i = 0; i < 1024; ++i) simulator::WriteCountingPair(pair + i, &block[i * 6]);
    // The ring holds ten blocks: the producer waits a little, as a stream would.
    while (capture->ring_bytes() - (expected.size() - capture->bytes_written()) < block.size()) Sleep(1);
    capture->Push(block.data(), block.size());
    expected.insert(expected.end(), block.begin(), block.end());
  }
  ASSERT_TRUE(capture->Finish(&error)) << error;
  EXPECT_EQ(capture->blocks_dropped(), 0u);
  EXPECT_EQ(capture->bytes_written(), expected.size());
  EXPECT_TRUE(ReadFile(path) == expected);
  DeleteFileA(path.c_str());
}

TEST(CaptureWriterTest, ABlockThatDoesNotFitIsDroppedWholeAndCounted) {
  const std::string path = TemporaryPath("small.iq");
  std::string error;
  auto capture = CaptureWriter::Create(path, 4096, &error);
  ASSERT_TRUE(capture) << error;
  ASSERT_EQ(capture->ring_bytes(), 4096u);
  const std::vector<std::uint8_t> small(1000, 0x11);
  const std::vector<std::uint8_t> large(5000, 0x22);
  capture->Push(small.data(), small.size());
  capture->Push(large.data(), large.size());
  capture->Push(small.data(), small.size());
  ASSERT_TRUE(capture->Finish(&error)) << error;
  EXPECT_EQ(capture->blocks_dropped(), 1u);
  EXPECT_EQ(ReadFile(path), std::vector<std::uint8_t>(2000, 0x11));
  DeleteFileA(path.c_str());
}

TEST(CaptureWriterTest, AFileThatCannotBeCreatedIsSaidSo) {
  std::string error;
  EXPECT_FALSE(CaptureWriter::Create(TemporaryPath("no-such-directory\\c.iq"), 4096, &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

// ---------------------------------------------------------------------------
// Host callback

TEST(SessionCallbackTest, CountsBlocksFollowsTheCountingPatternAndQueuesStatuses) {
  SessionCallback& callback = SessionCallback::Instance();
  const std::string path = TemporaryPath("callback.iq");
  std::string error;
  auto capture = CaptureWriter::Create(path, 1 << 20, &error);
  ASSERT_TRUE(capture) << error;
  callback.Prepare(6, true, capture.get());

  std::vector<std::uint8_t> block(6144);
  for (std::uint64_t first : {0, 1024, 3072}) {  // the block from 2048 is lost
    for (int i = 0; i < 1024; ++i) simulator::WriteCountingPair(first + i, &block[i * 6]);
    SessionCallback::Callback(1024, 0, 0.0f, block.data());
  }
  SessionCallback::Callback(-1, 100, 0.0f, nullptr);
  SessionCallback::Callback(-1, 102, 0.0f, nullptr);
  SessionCallback::Callback(512, 0, 0.0f, nullptr);

  EXPECT_EQ(callback.blocks(), 3u);
  EXPECT_EQ(callback.pairs(), 3u * 1024);
  EXPECT_EQ(callback.malformed_blocks(), 1u);
  EXPECT_EQ(callback.smallest_block(), 1024);
  EXPECT_EQ(callback.largest_block(), 1024);
  EXPECT_EQ(callback.counting().pairs_missing(), 1024u);
  EXPECT_EQ(callback.counting().torn_blocks(), 0u);
  EXPECT_EQ(callback.TakeStatuses(), (std::vector<int>{100, 102}));
  EXPECT_TRUE(callback.TakeStatuses().empty());
  ASSERT_TRUE(capture->Finish(&error)) << error;
  EXPECT_EQ(capture->bytes_written(), 3u * 6144);

  // Another start counts afresh.
  callback.Prepare(6, false, nullptr);
  EXPECT_EQ(callback.blocks(), 0u);
  EXPECT_EQ(callback.counting().pairs_missing(), 0u);
  EXPECT_FALSE(callback.checking_counting());
  DeleteFileA(path.c_str());
}

TEST(SessionCallbackTest, TheCountingPatternIsOnlyFollowedInTwentyFourBitPairs) {
  SessionCallback& callback = SessionCallback::Instance();
  callback.Prepare(4, true, nullptr);
  EXPECT_FALSE(callback.checking_counting());
  EXPECT_EQ(PairBytesForSampleType(3), 4);
  EXPECT_EQ(PairBytesForSampleType(5), 6);
  EXPECT_EQ(PairBytesForSampleType(6), 8);
  EXPECT_EQ(PairBytesForSampleType(7), 8);
  EXPECT_EQ(PairBytesForSampleType(4), 0);
}

// ---------------------------------------------------------------------------
// BMP header

TEST(BmpHeaderTest, ThreeByTwoPixels) {
  const auto header = EncodeBmpHeader(3, 2);
  // Rows of 9 bytes padded to 12: 24 pixel bytes, 78 in the file.
  const std::uint8_t expected[54] = {
      'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
      40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 24, 0, 0, 0,  // size to pixel bytes
      0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};                 // 72 dpi, no palette
  EXPECT_TRUE(std::equal(header.begin(), header.end(), expected));
  EXPECT_EQ(BmpRowBytes(1), 4u);
  EXPECT_EQ(BmpRowBytes(4), 12u);
  EXPECT_EQ(BmpRowBytes(251), 756u);
}

// ---------------------------------------------------------------------------
// Message-box watcher

// A top-level dialog-class window of this process with a text field in it,
// as a plug-in's own panel may be.
HWND MakePanelLikeDialog() {
  const HWND dialog = CreateWindowExA(0, MAKEINTATOM(0x8002), "Some plug-in", WS_POPUP | WS_CAPTION | WS_VISIBLE,
                                      10, 10, 200, 120, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  CreateWindowExA(0, "Static", "Frequency", WS_CHILD | WS_VISIBLE, 5, 5, 80, 20, dialog,
                  reinterpret_cast<HMENU>(0xFFFF), nullptr, nullptr);
  CreateWindowExA(0, "Edit", "7050000", WS_CHILD | WS_VISIBLE, 5, 30, 80, 20, dialog,
                  reinterpret_cast<HMENU>(1001), nullptr, nullptr);
  CreateWindowExA(0, "Button", "OK", WS_CHILD | WS_VISIBLE, 5, 60, 80, 20, dialog, reinterpret_cast<HMENU>(IDOK),
                  nullptr, nullptr);
  return dialog;
}

TEST(MessageBoxWatcherTest, MessageBoxesOnlyLeavesAPluginsOwnDialogAlone) {
  MessageBoxWatcher boxes(MessageBoxWatcher::Kind::kMessageBoxesOnly);
  const HWND dialog = MakePanelLikeDialog();
  ASSERT_NE(dialog, nullptr);
  // A message box on a thread of its own, as a plug-in's thread shows one.
  std::thread shower([] { MessageBoxA(nullptr, "FPGA trouble", "Some title", MB_OK | MB_ICONERROR); });
  // The box's thread pumps inside the box; this one pumps for the dialog.
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (boxes.seen().empty() && GetTickCount64() < deadline) PumpMessagesFor(20);
  PumpMessagesFor(300);
  const bool dialog_left_alone = IsWindow(dialog) && IsWindowVisible(dialog);
  DestroyWindow(dialog);
  const auto seen = boxes.seen();
  // Only a closed box lets the thread end; a box left open fails the test
  // here rather than hanging it.
  if (seen.empty()) {
    PostMessageA(FindWindowA(nullptr, "Some title"), WM_COMMAND, IDOK, 0);
  }
  shower.join();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "Some title");
  EXPECT_EQ(seen[0].text, "FPGA trouble");
  EXPECT_TRUE(dialog_left_alone);
}

TEST(MessageBoxWatcherTest, AnyDialogStillTakesEveryDialog) {
  const HWND dialog = MakePanelLikeDialog();
  ASSERT_NE(dialog, nullptr);
  MessageBoxWatcher boxes;
  // The watcher reads the caption with a message this thread must answer.
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (boxes.seen().empty() && GetTickCount64() < deadline) PumpMessagesFor(20);
  DestroyWindow(dialog);
  const auto seen = boxes.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "Some plug-in");
}

}  // namespace
}  // namespace halvorn::host
