// Told when the receiver has gone (unplugged, its power lost): it delivered
// nothing for a while and refused its control record. On the delivery
// thread, which goes on until the stream is stopped.
#pragma once

namespace halvorn::streaming {

class ReceiverLoss {
 public:
  virtual ~ReceiverLoss() = default;
  virtual void ReceiverLost() = 0;
};

}  // namespace halvorn::streaming
