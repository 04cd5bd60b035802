// Every exported entry point, once. From this table come the exported names
// (plain and stdcall-decorated, in the .def file), the jump each name makes,
// the forward to the module, the module door's way in and the answer a caller
// gets when the module is not there (not made, or gone).
//
//   HALVORN_ENTRY_POINT(name, argument bytes, result, answer when not there,
//                       (parameters), (arguments))
//
// No include guard: each user defines HALVORN_ENTRY_POINT and includes it.
HALVORN_ENTRY_POINT(InitHW, 12, bool, false, (char* name, char* model, int* sample_type), (name, model, sample_type))
HALVORN_ENTRY_POINT(OpenHW, 0, bool, false, (), ())
HALVORN_ENTRY_POINT(StartHW, 4, int, halvorn::kStartFailed, (int lo_hz), (lo_hz))
HALVORN_ENTRY_POINT(StopHW, 0, void, 0, (), ())
HALVORN_ENTRY_POINT(CloseHW, 0, bool, false, (), ())
HALVORN_ENTRY_POINT(SetHWLO, 4, int, 0, (int lo_hz), (lo_hz))
HALVORN_ENTRY_POINT(GetHWLO, 0, int, halvorn::receiver::kDefaultLoHz, (), ())
HALVORN_ENTRY_POINT(GetHWSR, 0, int, 0, (), ())
HALVORN_ENTRY_POINT(GetStatus, 0, int, 0, (), ())
HALVORN_ENTRY_POINT(SetCallback, 4, void, 0, (halvorn::HostCallback callback), (callback))
HALVORN_ENTRY_POINT(ShowGUI, 0, void, 0, (), ())
HALVORN_ENTRY_POINT(HideGUI, 0, void, 0, (), ())
HALVORN_ENTRY_POINT(TuneChanged, 4, void, 0, (int frequency_hz), (frequency_hz))
HALVORN_ENTRY_POINT(ExtIoGetSrates, 8, int, halvorn::kExtendedRefused, (int index, double* rate_hz), (index, rate_hz))
HALVORN_ENTRY_POINT(ExtIoGetActualSrateIdx, 0, int, halvorn::kExtendedUnknown, (), ())
HALVORN_ENTRY_POINT(ExtIoSetSrate, 4, int, halvorn::kExtendedRefused, (int index), (index))
HALVORN_ENTRY_POINT(ExtIoGetBandwidth, 4, long, halvorn::kExtendedUnknown, (int index), (index))
HALVORN_ENTRY_POINT(GetAttenuators, 8, int, halvorn::kExtendedRefused, (int index, float* level_db), (index, level_db))
HALVORN_ENTRY_POINT(GetActualAttIdx, 0, int, halvorn::kExtendedUnknown, (), ())
HALVORN_ENTRY_POINT(SetAttenuator, 4, int, halvorn::kExtendedRefused, (int index), (index))
HALVORN_ENTRY_POINT(VersionInfo, 12, void, 0, (const char* host_name, int major, int minor), (host_name, major, minor))
HALVORN_ENTRY_POINT(SwitchGUI, 0, void, 0, (), ())
