#include "host/extio_plugin.h"

namespace halvorn::host {

std::unique_ptr<ExtIoPlugin> ExtIoPlugin::Load(const std::string& path, std::string* error, Required required) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    if (error) *error = "cannot load " + path + " (error " + std::to_string(code) + ": " + SystemErrorText(code) + ")";
    return nullptr;
  }
  std::unique_ptr<ExtIoPlugin> plugin(new ExtIoPlugin(module));
  if (!plugin->Resolve(required, error)) return nullptr;
  return plugin;
}

bool ExtIoPlugin::Provides(const char* name) const {
  for (const Entry& entry : entries_) {
    if (std::string(entry.name) == name) return entry.plain_address != nullptr || entry.decorated_address != nullptr;
  }
  return false;
}

ExtIoPlugin::~ExtIoPlugin() { Unload(); }

bool ExtIoPlugin::Unload() {
  if (module_ == nullptr) return false;
  const bool released = FreeLibrary(module_) != 0;
  module_ = nullptr;
  return released;
}

bool ExtIoPlugin::Resolve(Required required, std::string* error) {
  struct Wanted {
    const char* name;
    const char* decorated;
    void** slot;
    bool optional_for_hosts = false;
  };
  const Wanted wanted[] = {
      {"InitHW", "_InitHW@12", reinterpret_cast<void**>(&init_hw_)},
      {"OpenHW", "_OpenHW@0", reinterpret_cast<void**>(&open_hw_)},
      {"StartHW", "_StartHW@4", reinterpret_cast<void**>(&start_hw_)},
      {"StopHW", "_StopHW@0", reinterpret_cast<void**>(&stop_hw_)},
      {"CloseHW", "_CloseHW@0", reinterpret_cast<void**>(&close_hw_)},
      {"SetHWLO", "_SetHWLO@4", reinterpret_cast<void**>(&set_hw_lo_)},
      {"GetHWLO", "_GetHWLO@0", reinterpret_cast<void**>(&get_hw_lo_), true},
      {"GetHWSR", "_GetHWSR@0", reinterpret_cast<void**>(&get_hw_sr_), true},
      {"GetStatus", "_GetStatus@0", reinterpret_cast<void**>(&get_status_)},
      {"SetCallback", "_SetCallback@4", reinterpret_cast<void**>(&set_callback_)},
      {"ShowGUI", "_ShowGUI@0", reinterpret_cast<void**>(&show_gui_), true},
      {"HideGUI", "_HideGUI@0", reinterpret_cast<void**>(&hide_gui_), true},
      {"TuneChanged", "_TuneChanged@4", reinterpret_cast<void**>(&tune_changed_), true},
      {"ExtIoGetSrates", "_ExtIoGetSrates@8", reinterpret_cast<void**>(&get_srates_), true},
      {"ExtIoGetActualSrateIdx", "_ExtIoGetActualSrateIdx@0", reinterpret_cast<void**>(&get_actual_srate_idx_), true},
      {"ExtIoSetSrate", "_ExtIoSetSrate@4", reinterpret_cast<void**>(&set_srate_), true},
      {"ExtIoGetBandwidth", "_ExtIoGetBandwidth@4", reinterpret_cast<void**>(&get_bandwidth_), true},
      {"GetAttenuators", "_GetAttenuators@8", reinterpret_cast<void**>(&get_attenuators_), true},
      {"GetActualAttIdx", "_GetActualAttIdx@0", reinterpret_cast<void**>(&get_actual_att_idx_), true},
      {"SetAttenuator", "_SetAttenuator@4", reinterpret_cast<void**>(&set_attenuator_), true},
      {"VersionInfo", "_VersionInfo@12", reinterpret_cast<void**>(&version_info_), true},
      {"SwitchGUI", "_SwitchGUI@0", reinterpret_cast<void**>(&switch_gui_), true},
  };
  for (const Wanted& entry : wanted) {
    void* plain = reinterpret_cast<void*>(GetProcAddress(module_, entry.name));
    void* decorated = reinterpret_cast<void*>(GetProcAddress(module_, entry.decorated));
    entries_.push_back({entry.name, entry.decorated, plain, decorated});
    *entry.slot = plain != nullptr ? plain : decorated;
    if (*entry.slot == nullptr && !(entry.optional_for_hosts && required == Required::kHostMinimum)) {
      if (error) *error = std::string("the plug-in has no entry point ") + entry.name;
      return false;
    }
  }
  return true;
}

void PumpMessagesFor(DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
}

std::string SystemErrorText(DWORD error) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                      text, sizeof text, nullptr);
  std::string message(text, length);
  // Some texts name the file as an insert, "%1", which is not filled in here.
  for (std::size_t at; (at = message.find("%1")) != std::string::npos;) message.replace(at, 2, "the file");
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message.empty() ? "no description" : message;
}

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

}  // namespace halvorn::host
