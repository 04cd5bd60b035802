// The plug-in's core assembled natively as the Windows module assembles it:
// the simulated receiver loaded as a shared object through the real binding,
// the platform's stream resources, a recording user interface, and the
// control dialog's logic attached.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "device/library_loader.h"
#include "panel/control_panel.h"
#include "plugin/plugin.h"
#include "streaming/stream_resources.h"
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
                        std::unique_ptr<streaming::StreamResources> custom_resources = nullptr)
      : loader(custom_loader ? std::move(custom_loader)
                             : device::MakePlatformLibraryLoader(library_directory)),
        resources(custom_resources ? std::move(custom_resources)
                                   : streaming::MakePlatformStreamResources()),
        plugin(*loader, ui, *resources),
        panel(std::make_unique<panel::ControlPanel>(plugin.services())) {
    plugin.trace().Install(&trace);
    plugin.AttachPanel(panel.get());
  }
  ~NativeModule() {
    plugin.stream().StopAsyncProcessing();
    plugin.AttachPanel(nullptr);
    panel.reset();
    plugin.trace().Install(nullptr);
  }

  bool Init() {
    char name[32] = {};
    char model[32] = {};
    int type = 0;
    return plugin.InitHW(name, model, &type);
  }

  receiver::Receiver& receiver() { return panel->receiver(); }

  FakeUserInterface ui;
  TraceRecorder trace;
  std::unique_ptr<device::LibraryLoader> loader;
  std::unique_ptr<streaming::StreamResources> resources;
  Plugin plugin;
  std::unique_ptr<panel::ControlPanel> panel;
};

}  // namespace halvorn::testing
