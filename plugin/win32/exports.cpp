// The thirteen entry points the host calls. Each forwards to the module; no
// exception may cross into the host, and without a module object each answers
// with a safe fixed value.
#include "plugin/win32/win32_module.h"

namespace {

template <typename Result, typename Call>
Result Forward(Result if_unavailable, Call call) {
  try {
    if (halvorn::Win32Module* module = halvorn::Win32Module::Instance()) return call(module->module());
  } catch (...) {
  }
  return if_unavailable;
}

template <typename Call>
void Forward(Call call) {
  try {
    if (halvorn::Win32Module* module = halvorn::Win32Module::Instance()) call(module->module());
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
