// A receiver without a running stream: a rate chosen waits for the next start.
#pragma once

#include "receiver/running_input.h"

namespace halvorn::testing {

class NoStream final : public receiver::RunningInput {
 public:
  receiver::InputRestart RestartAround(const std::function<int()>& /*reconfigure*/) override {
    return receiver::InputRestart::kNotRunning;
  }
};

}  // namespace halvorn::testing
