#include "simulator/simulated_receiver.h"

#include <cmath>
#include <cstring>

#include "simulator/bitstreams.h"
#include "simulator/control_record.h"
#include "simulator/journal.h"
#include "simulator/settings.h"

namespace halvorn::simulator {
namespace {

// Longest bitstream name shown in the journal.
constexpr std::size_t kShownNameChars = 64;
// Most bytes of a buffer argument shown in the journal.
constexpr std::int32_t kShownBytes = 16;

std::size_t ShownBytes(std::int32_t length) {
  return static_cast<std::size_t>(length <= 0 ? 0 : length < kShownBytes ? length : kShownBytes);
}

const char* RefusalText(InputStream::StartResult result) {
  switch (result) {
    case InputStream::StartResult::kRunning:
      return "running";
    case InputStream::StartResult::kNoCallback:
      return "no_callback";
    case InputStream::StartResult::kBadSize:
      return "bad_size";
    case InputStream::StartResult::kNoResources:
      return "no_resources";
    case InputStream::StartResult::kStarted:
      break;
  }
  return "";
}

}  // namespace

SimulatedReceiver::SimulatedReceiver()
    : front_end_(ReadTrueClockHz()), presence_(front_end_), input_(front_end_, presence_) {
  eeprom_.fill(0xFF);
}

bool SimulatedReceiver::Open() {
  JournalLine line("Open");
  if (const char* refusal = presence_.Refusal(Presence::Call::kOpen)) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", refusal));
    return false;
  }
  if (FailureInjected("Open")) {
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return false;
  }
  presence_.Opened();
  AppendToJournal(line.Decimal("result", 1));
  return true;
}

bool SimulatedReceiver::Close() {
  JournalLine line("Close");
  presence_.Notice();
  if (FailureInjected("Close")) {
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return false;
  }
  // Taken even unplugged: releasing a handle needs no device.
  const InputStream::StopResult stopped = input_.Stop();
  presence_.Closed();
  line.Decimal("result", 1);
  if (stopped.was_running) line.Decimal("transfers", static_cast<std::int64_t>(stopped.transfers));
  AppendToJournal(line);
  return true;
}

std::int32_t SimulatedReceiver::FirmwareDownload(void* image) {
  JournalLine line("FirmwareDownload");
  line.Address("image", image);
  if (const char* refusal = presence_.Refusal(Presence::Call::kFirmwareDownload)) {
    AppendToJournal(line.Decimal("result", -1).Word("refused", refusal));
    return -1;
  }
  if (FailureInjected("FirmwareDownload")) {
    AppendToJournal(line.Decimal("result", -1).InjectedFailure());
    return -1;
  }
  presence_.FirmwareDownloaded();
  AppendToJournal(line.Decimal("result", 0));
  return 0;
}

std::int32_t SimulatedReceiver::FpgaConfig(const char* bitstream_name, const std::uint8_t* descriptor) {
  JournalLine line("FpgaConfig");
  line.Text("name", bitstream_name, kShownNameChars).Bytes("descriptor", descriptor, kDescriptorBytes);
  std::int32_t result = 0;
  bool injected = false;
  const char* refusal = presence_.Refusal(Presence::Call::kDevice);
  if (refusal != nullptr) {
    result = kFpgaFailure;
  } else if (FailureInjected("FpgaConfig")) {
    result = kFpgaFailure;
    injected = true;
  } else if (const int row = FindBitstream(bitstream_name); row < 0) {
    result = kFpgaUnknownBitstream;
  } else if (!DescriptorMatches(row, descriptor)) {
    result = kFpgaDescriptorMismatch;
  } else {
    const std::int32_t clock_hz = ReadTrueClockHz();
    front_end_.Update([row, clock_hz](FrontEnd& front_end) {
      front_end.bitstream = row;
      front_end.true_clock_hz = clock_hz;
    });
  }
  // A refused load leaves the FPGA running what it ran.
  const int loaded = front_end_.Snapshot().bitstream;
  line.Decimal("result", result).Decimal("rate_hz", loaded < 0 ? 0 : kBitstreams[loaded].nominal_rate_hz());
  if (refusal != nullptr) line.Word("refused", refusal);
  if (injected) line.InjectedFailure();
  AppendToJournal(line);
  return result;
}

bool SimulatedReceiver::CopyName(const char* entry, const char* name, char* buffer, std::int32_t length) {
  JournalLine line(entry);
  line.Decimal("length", length);
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", refusal));
    return false;
  }
  if (FailureInjected(entry)) {
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return false;
  }
  const std::size_t needed = std::strlen(name) + 1;
  const bool fits = buffer != nullptr && length > 0 && static_cast<std::size_t>(length) >= needed;
  if (fits) std::memcpy(buffer, name, needed);
  AppendToJournal(line.Decimal("result", fits ? 1 : 0));
  return fits;
}

bool SimulatedReceiver::GetDeviceName(char* buffer, std::int32_t length) {
  return CopyName("GetDeviceName", kDeviceName, buffer, length);
}

bool SimulatedReceiver::GetFriendlyDeviceName(char* buffer, std::int32_t length) {
  return CopyName("GetFriendlyDeviceName", kFriendlyDeviceName, buffer, length);
}

bool SimulatedReceiver::SetAttenuator(std::uint32_t step) {
  JournalLine line("SetAttenuator");
  line.Decimal("step", step);
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", refusal));
    return false;
  }
  if (FailureInjected("SetAttenuator")) {
    AppendToJournal(line.InjectedFailure());
    return false;
  }
  if (step > 3) {
    AppendToJournal(line.Decimal("result", 0));
    return false;
  }
  front_end_.Update([step](FrontEnd& front_end) { front_end.attenuator_step = step; });
  AppendToJournal(line);
  return true;
}

bool SimulatedReceiver::SetPreselector(std::int32_t setting) {
  JournalLine line("SetPreselector");
  line.Decimal("setting", setting);
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", refusal));
    return false;
  }
  if (FailureInjected("SetPreselector")) {
    AppendToJournal(line.InjectedFailure());
    return false;
  }
  if (!IsPreselectorSetting(setting)) {
    AppendToJournal(line.Decimal("result", 0));
    return false;
  }
  front_end_.Update([setting](FrontEnd& front_end) { front_end.preselector = setting; });
  AppendToJournal(line);
  return true;
}

std::int32_t SimulatedReceiver::Sio(std::uint8_t* record, std::int32_t length) {
  JournalLine line("Sio");
  line.Decimal("length", length).Bytes("record", record, ShownBytes(length));
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", -1).Word("refused", refusal));
    return -1;
  }
  if (FailureInjected("Sio")) {
    AppendToJournal(line.Decimal("result", -1).InjectedFailure());
    return -1;
  }
  if (record == nullptr || length != kControlRecordBytes) {
    AppendToJournal(line.Decimal("result", -1));
    return -1;
  }
  const ControlRecordFields fields = DecodeControlRecord(record);
  const std::int32_t clock_hz = ReadTrueClockHz();
  front_end_.Update([&fields, clock_hz](FrontEnd& front_end) {
    front_end.flags = fields.flags;
    front_end.nco_word = fields.nco_word;
    front_end.true_clock_hz = clock_hz;
  });
  line.Hex("flags", fields.flags, 2)
      .Decimal("streaming", fields.streaming())
      .Decimal("dither", fields.dither())
      .Decimal("preamp", fields.preamp())
      .Hex("nco", fields.nco_word, 8)
      .Decimal("tuned_hz", std::llround(NcoFrequencyHz(fields.nco_word, clock_hz)));
  AppendToJournal(line);
  return 0;
}

std::int32_t SimulatedReceiver::GetInputData(std::uint8_t*, std::int32_t length) {
  JournalLine line("GetInputData");
  line.Decimal("length", length);
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", -1).Word("refused", refusal));
    return -1;
  }
  if (FailureInjected("GetInputData")) {
    AppendToJournal(line.Decimal("result", -1).InjectedFailure());
    return -1;
  }
  // Samples come only through the asynchronous input: no bytes read here.
  AppendToJournal(line.Decimal("result", 0));
  return 0;
}

bool SimulatedReceiver::StartAsyncInput(std::int32_t bytes_per_transfer, device::TransferCallbackFn callback,
                                        std::int32_t) {
  JournalLine line("StartAsyncInput");
  line.Decimal("bytes", bytes_per_transfer);
  presence_.Arm(ReadUnplug());
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", refusal));
    return false;
  }
  if (FailureInjected("StartAsyncInput")) {
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return false;
  }
  const std::int32_t clock_hz = ReadTrueClockHz();
  const int loaded = front_end_.Update([clock_hz](FrontEnd& front_end) {
    front_end.true_clock_hz = clock_hz;
    return front_end.bitstream;
  });
  if (loaded < 0) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", "no_bitstream"));
    return false;
  }
  const InputStream::StartResult result =
      input_.Start(bytes_per_transfer, callback, ReadSourceKind(), ReadPacing());
  if (result != InputStream::StartResult::kStarted) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", RefusalText(result)));
    return false;
  }
  AppendToJournal(line.Decimal("result", 1));
  return true;
}

bool SimulatedReceiver::StopAsyncInput() {
  JournalLine line("StopAsyncInput");
  presence_.Notice();
  if (FailureInjected("StopAsyncInput")) {
    // The device did not take the request: its input keeps running.
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return false;
  }
  const InputStream::StopResult stopped = input_.Stop();
  AppendToJournal(line.Decimal("result", 1).Decimal("transfers", static_cast<std::int64_t>(stopped.transfers)));
  return true;
}

bool SimulatedReceiver::EepromRead(std::uint8_t* buffer, std::int32_t address, std::int32_t length) {
  JournalLine line("EepromRead");
  line.Decimal("address", address).Decimal("length", length);
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", refusal));
    return false;
  }
  if (FailureInjected("EepromRead")) {
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return false;
  }
  const bool valid = buffer != nullptr && address >= 0 && length >= 0 && address <= kEepromBytes - length;
  if (valid) {
    std::lock_guard lock(eeprom_mutex_);
    std::memcpy(buffer, eeprom_.data() + address, static_cast<std::size_t>(length));
  }
  AppendToJournal(line.Decimal("result", valid ? 1 : 0));
  return valid;
}

bool SimulatedReceiver::EepromWrite(const std::uint8_t* buffer, std::int32_t address, std::int32_t length) {
  JournalLine line("EepromWrite");
  line.Decimal("address", address).Decimal("length", length);
  if (const char* refusal = presence_.Refusal(Presence::Call::kDevice)) {
    AppendToJournal(line.Decimal("result", 0).Word("refused", refusal));
    return false;
  }
  if (FailureInjected("EepromWrite")) {
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return false;
  }
  const bool valid = buffer != nullptr && address >= 0 && length >= 0 && address <= kEepromBytes - length;
  if (valid) {
    line.Bytes("data", buffer, ShownBytes(length));
    std::lock_guard lock(eeprom_mutex_);
    std::memcpy(eeprom_.data() + address, buffer, static_cast<std::size_t>(length));
  }
  AppendToJournal(line.Decimal("result", valid ? 1 : 0));
  return valid;
}

std::int32_t SimulatedReceiver::GetDLLVersion() {
  JournalLine line("GetDLLVersion");
  presence_.Notice();
  if (FailureInjected("GetDLLVersion")) {
    AppendToJournal(line.Decimal("result", 0).InjectedFailure());
    return 0;
  }
  AppendToJournal(line.Decimal("result", kLibraryVersion));
  return kLibraryVersion;
}

}  // namespace halvorn::simulator
