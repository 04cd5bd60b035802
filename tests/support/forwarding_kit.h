// The platform's kit with every call handed on, for tests that
// count or refuse some of them: they override only those.
#pragma once

#include <memory>

#include "ports/platform_kit.h"

namespace halvorn::testing {

class ForwardingKit : public PlatformKit {
 public:
  std::unique_ptr<WakeEvent> CreateWakeEvent() override { return real_->CreateWakeEvent(); }
  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    return real_->StartWorker(procedure, argument);
  }
  void* Allocate(std::size_t bytes) override { return real_->Allocate(bytes); }
  void Free(void* memory) override { real_->Free(memory); }
  void ServeSentMessages() override { real_->ServeSentMessages(); }

 private:
  std::unique_ptr<PlatformKit> real_ = MakePlatformKit();
};

}  // namespace halvorn::testing
