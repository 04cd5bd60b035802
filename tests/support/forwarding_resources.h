// The platform's stream resources with every call handed on, for tests that
// count or refuse some of them: they override only those.
#pragma once

#include <memory>

#include "streaming/stream_resources.h"

namespace halvorn::testing {

class ForwardingResources : public streaming::StreamResources {
 public:
  std::unique_ptr<streaming::WakeEvent> CreateWakeEvent() override { return real_->CreateWakeEvent(); }
  std::unique_ptr<streaming::WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    return real_->StartWorker(procedure, argument);
  }
  void* AllocateRing(std::size_t bytes) override { return real_->AllocateRing(bytes); }
  void FreeRing(void* memory) override { real_->FreeRing(memory); }
  void ServeSentMessages() override { real_->ServeSentMessages(); }
  device::TransferCallbackFn TransferEntry(device::TransferCallbackFn target) override {
    return real_->TransferEntry(target);
  }

 private:
  std::unique_ptr<streaming::StreamResources> real_ = streaming::MakePlatformStreamResources();
};

}  // namespace halvorn::testing
