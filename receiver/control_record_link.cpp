#include "receiver/control_record_link.h"

namespace halvorn::receiver {

void ControlRecordLink::Send() {
  auto bytes = EncodeControlRecord(record_);
  device_.Sio(bytes.data(), kControlRecordBytes);
}

}  // namespace halvorn::receiver
