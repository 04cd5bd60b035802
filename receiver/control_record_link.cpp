#include "receiver/control_record_link.h"

namespace halvorn::receiver {

// A negative answer is a refusal (a missing entry answers -1); any other is
// taken as done, since the library's success value is its own.
bool ControlRecordLink::Send(const ControlRecord& record) {
  auto bytes = EncodeControlRecord(record);
  return device_.Sio(bytes.data(), kControlRecordBytes) >= 0;
}

}  // namespace halvorn::receiver
