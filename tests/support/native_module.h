// The plug-in's module built natively as the Windows module builds it: the
// simulated receiver loaded as a shared object through the real binding, the
// platform's kit, and a user interface that records what the
// module showed.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "device/library_loader.h"
#include "plugin/module.h"
#include "ports/platform_kit.h"
#include "tests/support/fake_user_interface.h"
#include "tests/support/journal.h"
#include "tests/support/trace_recorder.h"

namespace halvorn::testing {

// Where the build put libhalvornusb.so.
inline const char* SimulatorDirectory() { return HALVORN_SIMULATOR_DIR; }

// A fresh journal file for the simulator, named after the running test.
std::string NewJournalPath(const std::string& name);

struct NativeModule {
  explicit NativeModule(const char* library_directory = SimulatorDirectory(),
                        std::unique_ptr<device::LibraryLoader> custom_loader = nullptr,
                        std::unique_ptr<PlatformKit> custom_kit = nullptr,
                        recorder::RecorderOptions recorder_options = {})
      : loader(custom_loader ? std::move(custom_loader)
                             : device::MakePlatformLibraryLoader(library_directory)),
        kit(custom_kit ? std::move(custom_kit) : MakePlatformKit()),
        module(std::make_unique<Module>(ModulePlatform{*loader, *kit, &streaming::SampleStream::TransferCallback, ui,
                                                       ui, kCallHostDirectly, &trace},
                                        std::move(recorder_options))) {}
  ~NativeModule() { module.reset(); }

  bool Init() {
    char name[32] = {};
    char model[32] = {};
    int type = 0;
    return module->InitHW(name, model, &type);
  }

  Module& plugin() { return *module; }
  receiver::Receiver& receiver() { return module->receiver(); }
  recorder::Recorder& recorder() { return module->recorder(); }
  panel::ControlPanel& panel() { return module->panel(); }

  FakeUserInterface ui;
  TraceRecorder trace;
  std::unique_ptr<device::LibraryLoader> loader;
  std::unique_ptr<PlatformKit> kit;
  std::unique_ptr<Module> module;
};

}  // namespace halvorn::testing
