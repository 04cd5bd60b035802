#include "plugin/module.h"

#include "halvorn_version.h"

namespace halvorn {
namespace {

// The recording's writing thread comes and goes as the stream's threads do.
recorder::RecorderOptions WithPlatformThreads(recorder::RecorderOptions options, const ModulePlatform& platform) {
  if (options.kit == nullptr) options.kit = &platform.kit;
  return options;
}

}  // namespace

Module::Module(const ModulePlatform& platform, recorder::RecorderOptions recorder_options)
    : ui_(platform.ui),
      host_(trace_, platform.host_callers),
      device_(platform.loader),
      view_(platform.controls),
      receiver_(device_, control_record_, host_, ui_, view_, trace_),
      recorder_(receiver_, host_, ui_, view_, trace_, WithPlatformThreads(std::move(recorder_options), platform)),
      stream_(device_, control_record_, host_, ui_, trace_, platform.kit, platform.transfer_entry, *this),
      panel_(receiver_, recorder_, stream_, platform.controls, view_, ui_) {
  trace_.Install(platform.trace_sink);
  trace_("ExtIO_halvorn " HALVORN_VERSION);
}

Module::~Module() { ReleaseAll(); }

void Module::ReleaseAll() {
  stream_.EndLeavingInputRunning();
  recorder_.FinishAtUnload();
  device_.HandOverForRelease(stream_.InputMayRun(), device_open_.exchange(false));
}

void Module::ReceiverLost() {
  ui_.RunOnPanelThread([this] {
    if (receiver_lost_.exchange(true)) return;
    trace_("The receiver is gone");
    stream_.StopAsyncProcessing();
    panel_.EndRecording();
    ui_.ShowNotice(kReceiverLostMessage);
  });
}

Module::Reopened Module::ReopenIfLost() {
  if (!receiver_lost_) return Reopened::kNotLost;
  if (!OpenWithFirmware()) return Reopened::kStillGone;
  trace_("The receiver is back");
  return Reopened::kReopened;
}

void Module::InitReceiver() {
  receiver_.ResetFrontEnd();
  // An open recording keeps its buttons and fields, so "Rec" cannot start a
  // second recording over it.
  if (!recorder_.IsRecording()) view_.ShowRecorderReady();
  receiver_.LoadSelectedBitstream();
}

}  // namespace halvorn
