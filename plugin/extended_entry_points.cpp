// The extended entry points, from which hosts build their own sample-rate
// and attenuator menus, on the module's parts. A host's choice acts as a
// click on the panel's button would.
#include <cstdio>

#include "plugin/module.h"
#include "receiver/sample_rate_table.h"

namespace halvorn {
namespace {

bool IsRow(std::int32_t index) { return index >= 0 && index < receiver::kSampleRateCount; }
bool IsAttenuatorEntry(std::int32_t index) { return index >= 0 && index < receiver::kAttenuatorSteps; }

// The host's list starts at the most attenuation; the receiver's steps at none.
int StepForEntry(int entry) { return receiver::kAttenuatorSteps - 1 - entry; }
int EntryForStep(int step) { return receiver::kAttenuatorSteps - 1 - step; }

}  // namespace

std::int32_t Module::ExtIoGetSrates(std::int32_t index, double* rate_hz) {
  trace_("ExtIoGetSrates");
  if (!IsRow(index) || rate_hz == nullptr) return kExtendedRefused;
  *rate_hz = receiver::kSampleRateTable[index].rate_hz;
  return 0;
}

std::int32_t Module::ExtIoGetActualSrateIdx() {
  trace_("ExtIoGetActualSrateIdx");
  return receiver_.sample_rate_index();
}

std::int32_t Module::ExtIoSetSrate(std::int32_t index) {
  trace_("ExtIoSetSrate");
  if (!IsRow(index)) return kExtendedRefused;
  return panel_.HostSelectsSampleRate(index) ? 0 : kExtendedRefused;
}

std::int32_t Module::ExtIoGetBandwidth(std::int32_t index) {
  trace_("ExtIoGetBandwidth");
  if (!IsRow(index)) return kExtendedUnknown;
  return receiver::kSampleRateTable[index].usable_bandwidth_hz;
}

std::int32_t Module::GetAttenuators(std::int32_t index, float* level_db) {
  trace_("GetAttenuators");
  host_.FollowAttenuator();
  if (!IsAttenuatorEntry(index) || level_db == nullptr) return kExtendedRefused;
  *level_db = static_cast<float>(-receiver::kAttenuatorStepDb * StepForEntry(index));
  return 0;
}

std::int32_t Module::GetActualAttIdx() {
  trace_("GetActualAttIdx");
  return EntryForStep(receiver_.state().attenuator_step);
}

std::int32_t Module::SetAttenuator(std::int32_t index) {
  trace_("SetAttenuator");
  if (!IsAttenuatorEntry(index)) return kExtendedRefused;
  return panel_.HostSetsAttenuatorStep(StepForEntry(index)) ? 0 : kExtendedRefused;
}

void Module::VersionInfo(const char* host_name, std::int32_t major, std::int32_t minor) {
  trace_("VersionInfo");
  char text[128];
  // A name the host left unterminated is not read past its first 64 bytes.
  std::snprintf(text, sizeof text, "Host: %.64s %d.%d", host_name != nullptr ? host_name : "(no name)",
                static_cast<int>(major), static_cast<int>(minor));
  trace_(text);
}

void Module::SwitchGUI() {
  trace_("SwitchGUI");
  ui_.PreparePanel();
  ui_.SwitchPanel();
}

}  // namespace halvorn
