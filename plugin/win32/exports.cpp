// The thirteen entry points the host calls. Each forwards to the module; no
// exception may cross into the host, and without a module object each answers
// with a safe fixed value.
#include "plugin/win32/win32_module.h"

namespace {

using halvorn::Win32Module;

// Counts the call in, so an unload on another thread waits for it.
class EntryCall {
 public:
  EntryCall() : module_(Win32Module::Enter()) {}
  ~EntryCall() {
    if (module_ != nullptr) Win32Module::Leave();
  }
  EntryCall(const EntryCall&) = delete;
  EntryCall& operator=(const EntryCall&) = delete;

  Win32Module* module() const { return module_; }

 private:
  Win32Module* module_;
};

template <typename Result, typename Call>
Result Forward(Result if_unavailable, Call call) {
  try {
    EntryCall entry;
    if (entry.module() != nullptr) return call(entry.module()->module());
  } catch (...) {
  }
  return if_unavailable;
}

template <typename Call>
void Forward(Call call) {
  try {
    EntryCall entry;
    if (entry.module() != nullptr) call(entry.module()->module());
  } catch (...) {
  }
}

}  // namespace

using halvorn::Module;

extern "C" {

bool __stdcall InitHW(char* name, char* model, int* sample_type) {
  return Forward(false, [&](Module& p) { return p.InitHW(name, model, sample_type); });
}

bool __stdcall OpenHW() {
  return Forward(true, [](Module& p) { return p.OpenHW(); });
}

int __stdcall StartHW(int lo_hz) {
  return Forward(halvorn::kBlockPairs, [&](Module& p) { return p.StartHW(lo_hz); });
}

void __stdcall StopHW() {
  Forward([](Module& p) { p.StopHW(); });
}

bool __stdcall CloseHW() {
  return Forward(false, [](Module& p) { return p.CloseHW(); });
}

int __stdcall SetHWLO(int lo_hz) {
  return Forward(0, [&](Module& p) { return p.SetHWLO(lo_hz); });
}

int __stdcall GetHWLO() {
  return Forward(halvorn::receiver::kDefaultLoHz, [](Module& p) { return p.GetHWLO(); });
}

int __stdcall GetHWSR() {
  return Forward(0, [](Module& p) { return p.GetHWSR(); });
}

int __stdcall GetStatus() {
  return Forward(0, [](Module& p) { return p.GetStatus(); });
}

void __stdcall SetCallback(halvorn::HostCallback callback) {
  Forward([&](Module& p) { p.SetCallback(callback); });
}

void __stdcall ShowGUI() {
  Forward([](Module& p) { p.ShowGUI(); });
}

void __stdcall HideGUI() {
  Forward([](Module& p) { p.HideGUI(); });
}

void __stdcall TuneChanged(int frequency_hz) {
  Forward([&](Module& p) { p.TuneChanged(frequency_hz); });
}

}  // extern "C"
