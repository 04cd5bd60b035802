// The entry points the host calls. Each exported name is a jump
// through a table to its implementation, by way of the module's door when
// there is one: the caller then holds a reference on the module for as long
// as it is inside, so a host that unloads meanwhile, on any thread, never
// unmaps code under it. Each implementation forwards to the module; no
// exception may cross into the host, and without a module object each
// answers with a safe fixed value.
#include "plugin/win32/exports.h"

#include "plugin/win32/win32_module.h"

namespace {

using halvorn::Module;
using halvorn::Win32Module;

template <typename Result, typename Call>
Result Forward(Result if_unavailable, Call call) {
  try {
    if (Win32Module* module = Win32Module::Instance()) return call(module->module());
  } catch (...) {
  }
  return if_unavailable;
}

template <typename Call>
void Forward(Call call) {
  try {
    if (Win32Module* module = Win32Module::Instance()) call(module->module());
  } catch (...) {
  }
}

bool __stdcall InitHWEntry(char* name, char* model, int* sample_type) {
  return Forward(false, [&](Module& p) { return p.InitHW(name, model, sample_type); });
}

bool __stdcall OpenHWEntry() {
  return Forward(false, [](Module& p) { return p.OpenHW(); });
}

int __stdcall StartHWEntry(int lo_hz) {
  return Forward(halvorn::kStartFailed, [&](Module& p) { return p.StartHW(lo_hz); });
}

void __stdcall StopHWEntry() {
  Forward([](Module& p) { p.StopHW(); });
}

bool __stdcall CloseHWEntry() {
  return Forward(false, [](Module& p) { return p.CloseHW(); });
}

int __stdcall SetHWLOEntry(int lo_hz) {
  return Forward(0, [&](Module& p) { return p.SetHWLO(lo_hz); });
}

int __stdcall GetHWLOEntry() {
  return Forward(halvorn::receiver::kDefaultLoHz, [](Module& p) { return p.GetHWLO(); });
}

int __stdcall GetHWSREntry() {
  return Forward(0, [](Module& p) { return p.GetHWSR(); });
}

int __stdcall GetStatusEntry() {
  return Forward(0, [](Module& p) { return p.GetStatus(); });
}

void __stdcall SetCallbackEntry(halvorn::HostCallback callback) {
  Forward([&](Module& p) { p.SetCallback(callback); });
}

void __stdcall ShowGUIEntry() {
  Forward([](Module& p) { p.ShowGUI(); });
}

void __stdcall HideGUIEntry() {
  Forward([](Module& p) { p.HideGUI(); });
}

void __stdcall TuneChangedEntry(int frequency_hz) {
  Forward([&](Module& p) { p.TuneChanged(frequency_hz); });
}

int __stdcall ExtIoGetSratesEntry(int index, double* rate_hz) {
  return Forward(halvorn::kExtendedRefused, [&](Module& p) { return p.ExtIoGetSrates(index, rate_hz); });
}

int __stdcall ExtIoGetActualSrateIdxEntry() {
  return Forward(halvorn::kExtendedUnknown, [](Module& p) { return p.ExtIoGetActualSrateIdx(); });
}

int __stdcall ExtIoSetSrateEntry(int index) {
  return Forward(halvorn::kExtendedRefused, [&](Module& p) { return p.ExtIoSetSrate(index); });
}

long __stdcall ExtIoGetBandwidthEntry(int index) {
  return Forward(long{halvorn::kExtendedUnknown}, [&](Module& p) { return long{p.ExtIoGetBandwidth(index)}; });
}

int __stdcall GetAttenuatorsEntry(int index, float* level_db) {
  return Forward(halvorn::kExtendedRefused, [&](Module& p) { return p.GetAttenuators(index, level_db); });
}

int __stdcall GetActualAttIdxEntry() {
  return Forward(halvorn::kExtendedUnknown, [](Module& p) { return p.GetActualAttIdx(); });
}

int __stdcall SetAttenuatorEntry(int index) {
  return Forward(halvorn::kExtendedRefused, [&](Module& p) { return p.SetAttenuator(index); });
}

void __stdcall VersionInfoEntry(const char* host_name, int major, int minor) {
  Forward([&](Module& p) { p.VersionInfo(host_name, major, minor); });
}

void __stdcall SwitchGUIEntry() {
  Forward([](Module& p) { p.SwitchGUI(); });
}

struct EntryPoint {
  const void* implementation;
  int argument_bytes;
  std::uint32_t result_when_gone;
};
constexpr auto kUnknownWhenGone = static_cast<std::uint32_t>(halvorn::kExtendedUnknown);

// In the order of the table the exported names jump through.
const EntryPoint kEntryPoints[] = {
    {reinterpret_cast<const void*>(&InitHWEntry), 12, 0},
    {reinterpret_cast<const void*>(&OpenHWEntry), 0, 0},
    {reinterpret_cast<const void*>(&StartHWEntry), 4, static_cast<std::uint32_t>(halvorn::kStartFailed)},
    {reinterpret_cast<const void*>(&StopHWEntry), 0, 0},
    {reinterpret_cast<const void*>(&CloseHWEntry), 0, 0},
    {reinterpret_cast<const void*>(&SetHWLOEntry), 4, 0},
    {reinterpret_cast<const void*>(&GetHWLOEntry), 0, halvorn::receiver::kDefaultLoHz},
    {reinterpret_cast<const void*>(&GetHWSREntry), 0, 0},
    {reinterpret_cast<const void*>(&GetStatusEntry), 0, 0},
    {reinterpret_cast<const void*>(&SetCallbackEntry), 4, 0},
    {reinterpret_cast<const void*>(&ShowGUIEntry), 0, 0},
    {reinterpret_cast<const void*>(&HideGUIEntry), 0, 0},
    {reinterpret_cast<const void*>(&TuneChangedEntry), 4, 0},
    {reinterpret_cast<const void*>(&ExtIoGetSratesEntry), 8, halvorn::kExtendedRefused},
    {reinterpret_cast<const void*>(&ExtIoGetActualSrateIdxEntry), 0, kUnknownWhenGone},
    {reinterpret_cast<const void*>(&ExtIoSetSrateEntry), 4, halvorn::kExtendedRefused},
    {reinterpret_cast<const void*>(&ExtIoGetBandwidthEntry), 4, kUnknownWhenGone},
    {reinterpret_cast<const void*>(&GetAttenuatorsEntry), 8, halvorn::kExtendedRefused},
    {reinterpret_cast<const void*>(&GetActualAttIdxEntry), 0, kUnknownWhenGone},
    {reinterpret_cast<const void*>(&SetAttenuatorEntry), 4, halvorn::kExtendedRefused},
    {reinterpret_cast<const void*>(&VersionInfoEntry), 12, 0},
    {reinterpret_cast<const void*>(&SwitchGUIEntry), 0, 0},
};
constexpr int kEntryPointCount = sizeof kEntryPoints / sizeof kEntryPoints[0];

}  // namespace

// What each exported name jumps through.
extern "C" {
const void* halvorn_entry_points[kEntryPointCount] = {
    kEntryPoints[0].implementation,  kEntryPoints[1].implementation,  kEntryPoints[2].implementation,
    kEntryPoints[3].implementation,  kEntryPoints[4].implementation,  kEntryPoints[5].implementation,
    kEntryPoints[6].implementation,  kEntryPoints[7].implementation,  kEntryPoints[8].implementation,
    kEntryPoints[9].implementation,  kEntryPoints[10].implementation, kEntryPoints[11].implementation,
    kEntryPoints[12].implementation, kEntryPoints[13].implementation, kEntryPoints[14].implementation,
    kEntryPoints[15].implementation, kEntryPoints[16].implementation, kEntryPoints[17].implementation,
    kEntryPoints[18].implementation, kEntryPoints[19].implementation, kEntryPoints[20].implementation,
    kEntryPoints[21].implementation,
};
}

// The exported names themselves, with their stdcall decoration: one jump
// each, so nothing of theirs is on the stack while the entry point runs.
#define HALVORN_EXPORT(name, bytes, index)                  \
  asm(".text\n"                                             \
      ".globl _" #name "@" #bytes "\n"                      \
      "_" #name "@" #bytes ":\n"                            \
      "  jmp *_halvorn_entry_points+" #index "*4\n");

HALVORN_EXPORT(InitHW, 12, 0)
HALVORN_EXPORT(OpenHW, 0, 1)
HALVORN_EXPORT(StartHW, 4, 2)
HALVORN_EXPORT(StopHW, 0, 3)
HALVORN_EXPORT(CloseHW, 0, 4)
HALVORN_EXPORT(SetHWLO, 4, 5)
HALVORN_EXPORT(GetHWLO, 0, 6)
HALVORN_EXPORT(GetHWSR, 0, 7)
HALVORN_EXPORT(GetStatus, 0, 8)
HALVORN_EXPORT(SetCallback, 4, 9)
HALVORN_EXPORT(ShowGUI, 0, 10)
HALVORN_EXPORT(HideGUI, 0, 11)
HALVORN_EXPORT(TuneChanged, 4, 12)
HALVORN_EXPORT(ExtIoGetSrates, 8, 13)
HALVORN_EXPORT(ExtIoGetActualSrateIdx, 0, 14)
HALVORN_EXPORT(ExtIoSetSrate, 4, 15)
HALVORN_EXPORT(ExtIoGetBandwidth, 4, 16)
HALVORN_EXPORT(GetAttenuators, 8, 17)
HALVORN_EXPORT(GetActualAttIdx, 0, 18)
HALVORN_EXPORT(SetAttenuator, 4, 19)
HALVORN_EXPORT(VersionInfo, 12, 20)
HALVORN_EXPORT(SwitchGUI, 0, 21)

namespace halvorn {

std::vector<win::ModuleDoor::Entry> EntryPointDoorEntries() {
  std::vector<win::ModuleDoor::Entry> entries;
  for (const EntryPoint& entry : kEntryPoints) {
    entries.push_back({entry.implementation, entry.argument_bytes, win::ModuleDoor::Way::kHoldingTheModule,
                       win::ModuleDoor::WhenGone::kReturn, entry.result_when_gone});
  }
  return entries;
}

void EnterEntryPointsThrough(const win::ModuleDoor& door) {
  for (int i = 0; i < kEntryPointCount; ++i) halvorn_entry_points[i] = door.Into(kEntryPoints[i].implementation);
}

}  // namespace halvorn
