// The host's thread and the window thread write the one control record at the
// same time. Each writer's change and its Sio call are one step, so the
// records on the wire form a history in which every record differs from the
// one before only in the part of the writer that sent it, and each writer's
// values appear in the order it wrote them.
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "tests/support/fake_device.h"
#include "tests/support/native_module.h"

namespace halvorn::receiver {
namespace {

using testing::FakeDevice;

TEST(ReceiverConcurrencyTest, EveryRecordSentIsAStateTheWritersProduced) {
  FakeDevice::Instance().Reset();
  testing::NativeModule module("", std::make_unique<testing::FakeDeviceLoader>());
  ASSERT_TRUE(module.Init());
  module.plugin().OpenHW();
  Receiver& receiver = module.receiver();
  constexpr int kWrites = 2000;

  // What each writer wrote, in its own order.
  std::vector<bool> dither_writes, preamp_writes, streaming_writes;
  std::vector<std::uint32_t> words;
  for (int i = 0; i < kWrites; ++i) {
    dither_writes.push_back(i % 2 == 0);
    preamp_writes.push_back(i % 2 == 0);
    streaming_writes.push_back(i % 2 == 0);
    words.push_back(NcoWord(1000000 + 1000 * i, kNominalReferenceClockHz));
  }

  FakeDevice::Instance().Reset();
  const ControlRecord before = ControlRecord{kFlagAdcDither, 0};
  std::thread::id dither_thread, preamp_thread, tune_thread, stream_thread;
  {
    std::thread dither([&] {
      for (bool on : dither_writes) receiver.SetAdcDither(on);
    });
    std::thread preamp([&] {
      for (bool on : preamp_writes) receiver.SetAdcPreamp(on);
    });
    std::thread tune([&] {
      for (int i = 0; i < kWrites; ++i) module.plugin().SetHWLO(1000000 + 1000 * i);
    });
    std::thread stream([&] {
      for (bool on : streaming_writes) module.plugin().control_record().SetStreaming(on);
    });
    dither_thread = dither.get_id();
    preamp_thread = preamp.get_id();
    tune_thread = tune.get_id();
    stream_thread = stream.get_id();
    dither.join();
    preamp.join();
    tune.join();
    stream.join();
  }

  const auto calls = FakeDevice::Instance().calls("Sio");
  ASSERT_EQ(calls.size(), static_cast<size_t>(4 * kWrites));
  std::map<std::thread::id, size_t> next;  // each writer's next write
  ControlRecord previous = before;
  for (const auto& call : calls) {
    const ControlRecord record = DecodeControlRecord(call.bytes.data());
    ControlRecord expected = previous;
    const size_t k = next[call.thread]++;
    if (call.thread == dither_thread) {
      expected.SetFlag(kFlagAdcDither, dither_writes.at(k));
    } else if (call.thread == preamp_thread) {
      expected.SetFlag(kFlagAdcPreamp, preamp_writes.at(k));
    } else if (call.thread == stream_thread) {
      expected.SetFlag(kFlagStreaming, streaming_writes.at(k));
    } else {
      ASSERT_EQ(call.thread, tune_thread);
      expected.nco_word = words.at(k);
    }
    ASSERT_EQ(record, expected) << "record " << &call - calls.data();
    previous = record;
  }
  // Nothing was lost: the last record holds every writer's last value.
  EXPECT_EQ(previous.nco_word, words.back());
  EXPECT_EQ(previous.flags, 0);
  EXPECT_EQ(module.receiver().Settings().lo_hz, 1000000 + 1000 * (kWrites - 1));
}

TEST(ReceiverConcurrencyTest, PanelAndHostRetuningAtOnceNeverUndoTheHostsLo) {
  FakeDevice::Instance().Reset();
  testing::NativeModule module("", std::make_unique<testing::FakeDeviceLoader>());
  ASSERT_TRUE(module.Init());
  module.plugin().OpenHW();
  module.plugin().TuneChanged(7050000);
  std::atomic<bool> done{false};
  std::thread window([&] {
    while (!done) module.receiver().CalibrateClock();
  });
  for (int i = 0; i < 2000; ++i) module.plugin().SetHWLO(7000000 + i);
  done = true;
  window.join();
  // A calibration retunes to the LO it reads under the lock, never an older one.
  module.receiver().CalibrateClock();
  const auto records = FakeDevice::Instance().records();
  EXPECT_EQ(module.receiver().state().lo_hz, 7000000 + 1999);
  EXPECT_EQ(records.back().nco_word,
            NcoWord(7000000 + 1999, module.receiver().state().reference_clock_hz));
}

}  // namespace
}  // namespace halvorn::receiver
