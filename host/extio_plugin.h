// An ExtIO plug-in DLL loaded the way a host program loads one: LoadLibrary,
// then every entry point by its plain and its decorated name.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace halvorn::host {

using HostCallback = void(__cdecl*)(int count, int status, float iq_offset, void* data);

class ExtIoPlugin {
 public:
  struct Entry {
    const char* name;
    const char* decorated_name;
    void* plain_address;
    void* decorated_address;
  };

  // Which entry points a load insists on.
  enum class Required {
    kAll,  // the thirteen and the extended ones, as the Halvorn plug-in exports them
    // The ones no host can do without: InitHW, OpenHW, StartHW, StopHW,
    // CloseHW, SetHWLO, GetStatus, SetCallback. The others may be missing;
    // their calls then do nothing and give 0, or for the extended ones the
    // answer for an error (non-zero, or -1 for an index or a bandwidth).
    kHostMinimum,
  };

  // Null with `error` set when the DLL cannot be loaded or lacks an entry.
  static std::unique_ptr<ExtIoPlugin> Load(const std::string& path, std::string* error,
                                           Required required = Required::kAll);
  ~ExtIoPlugin();
  ExtIoPlugin(const ExtIoPlugin&) = delete;
  ExtIoPlugin& operator=(const ExtIoPlugin&) = delete;

  HMODULE module() const { return module_; }
  const std::vector<Entry>& entries() const { return entries_; }
  // Whether the entry point `name` (its plain name) was found.
  bool Provides(const char* name) const;
  // Releases the DLL now (the destructor does it otherwise).
  bool Unload();

  bool InitHW(char* name, char* model, int* sample_type) { return init_hw_(name, model, sample_type); }
  bool OpenHW() { return open_hw_(); }
  int StartHW(int lo_hz) { return start_hw_(lo_hz); }
  void StopHW() { stop_hw_(); }
  bool CloseHW() { return close_hw_(); }
  int SetHWLO(int lo_hz) { return set_hw_lo_(lo_hz); }
  int GetHWLO() { return get_hw_lo_ ? get_hw_lo_() : 0; }
  int GetHWSR() { return get_hw_sr_ ? get_hw_sr_() : 0; }
  int GetStatus() { return get_status_(); }
  void SetCallback(HostCallback callback) { set_callback_(callback); }
  void ShowGUI() {
    if (show_gui_) show_gui_();
  }
  void HideGUI() {
    if (hide_gui_) hide_gui_();
  }
  void TuneChanged(int frequency_hz) {
    if (tune_changed_) tune_changed_(frequency_hz);
  }

  // The extended entry points, with which hosts build their own menus.
  int ExtIoGetSrates(int index, double* rate_hz) { return get_srates_ ? get_srates_(index, rate_hz) : 1; }
  int ExtIoGetActualSrateIdx() { return get_actual_srate_idx_ ? get_actual_srate_idx_() : -1; }
  int ExtIoSetSrate(int index) { return set_srate_ ? set_srate_(index) : 1; }
  long ExtIoGetBandwidth(int index) { return get_bandwidth_ ? get_bandwidth_(index) : -1; }
  int GetAttenuators(int index, float* level_db) { return get_attenuators_ ? get_attenuators_(index, level_db) : 1; }
  int GetActualAttIdx() { return get_actual_att_idx_ ? get_actual_att_idx_() : -1; }
  int SetAttenuator(int index) { return set_attenuator_ ? set_attenuator_(index) : 1; }
  void VersionInfo(const char* host_name, int major, int minor) {
    if (version_info_) version_info_(host_name, major, minor);
  }
  void SwitchGUI() {
    if (switch_gui_) switch_gui_();
  }

 private:
  explicit ExtIoPlugin(HMODULE module) : module_(module) {}
  bool Resolve(Required required, std::string* error);

  HMODULE module_;
  std::vector<Entry> entries_;
  bool(__stdcall* init_hw_)(char*, char*, int*) = nullptr;
  bool(__stdcall* open_hw_)() = nullptr;
  int(__stdcall* start_hw_)(int) = nullptr;
  void(__stdcall* stop_hw_)() = nullptr;
  bool(__stdcall* close_hw_)() = nullptr;
  int(__stdcall* set_hw_lo_)(int) = nullptr;
  int(__stdcall* get_hw_lo_)() = nullptr;
  int(__stdcall* get_hw_sr_)() = nullptr;
  int(__stdcall* get_status_)() = nullptr;
  void(__stdcall* set_callback_)(HostCallback) = nullptr;
  void(__stdcall* show_gui_)() = nullptr;
  void(__stdcall* hide_gui_)() = nullptr;
  void(__stdcall* tune_changed_)(int) = nullptr;
  int(__stdcall* get_srates_)(int, double*) = nullptr;
  int(__stdcall* get_actual_srate_idx_)() = nullptr;
  int(__stdcall* set_srate_)(int) = nullptr;
  long(__stdcall* get_bandwidth_)(int) = nullptr;
  int(__stdcall* get_attenuators_)(int, float*) = nullptr;
  int(__stdcall* get_actual_att_idx_)() = nullptr;
  int(__stdcall* set_attenuator_)(int) = nullptr;
  void(__stdcall* version_info_)(const char*, int, int) = nullptr;
  void(__stdcall* switch_gui_)() = nullptr;
};

// Processes the window messages of the calling thread, as a host's message
// loop does, for `milliseconds`.
void PumpMessagesFor(DWORD milliseconds);

// The directory of the running program, with a trailing backslash.
std::string ProgramDirectory();

// The system's text for a Win32 error code, without the line break at its end.
std::string SystemErrorText(DWORD error);

}  // namespace halvorn::host
