// The module's one control record and its way to the receiver. Writers run on
// the host's threads and on the window thread; each change and the Sio call
// that sends it happen under one lock, so every record on the wire is a state
// some writer produced and no writer's change is lost.
#pragma once

#include <mutex>

#include "device/device_library.h"
#include "receiver/control_record.h"

namespace halvorn::receiver {

class ControlRecordLink {
 public:
  explicit ControlRecordLink(device::DeviceLibrary& device) : device_(device) {}

  // Applies `change` to the record and sends all five bytes. The change is
  // kept even when the receiver refuses the record, so the next send carries
  // it. True when the receiver took the record.
  template <typename Change>
  bool Update(Change&& change) {
    std::lock_guard lock(mutex_);
    change(record_);
    return Send(record_);
  }

  // As Update, but a change the receiver refuses is not kept: the record
  // stays what the receiver last took.
  template <typename Change>
  bool Offer(Change&& change) {
    std::lock_guard lock(mutex_);
    ControlRecord offered = record_;
    change(offered);
    if (!Send(offered)) return false;
    record_ = offered;
    return true;
  }

  // Sends the record as it stands again; true when the receiver took it.
  bool Resend() {
    return Update([](ControlRecord&) {});
  }

  bool SetStreaming(bool on) {
    return Update([on](ControlRecord& record) { record.SetFlag(kFlagStreaming, on); });
  }

  ControlRecord Current() const {
    std::lock_guard lock(mutex_);
    return record_;
  }

 private:
  bool Send(const ControlRecord& record);

  device::DeviceLibrary& device_;
  mutable std::mutex mutex_;
  ControlRecord record_;
};

}  // namespace halvorn::receiver
