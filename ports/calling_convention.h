// The two calling conventions at the module's edges: the host's callback is
// cdecl, every exported entry and every entry of the device library stdcall.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define HALVORN_STDCALL __attribute__((__stdcall__))
#define HALVORN_CDECL __attribute__((__cdecl__))
#else
// Other targets have one calling convention; the native build only exists to
// test the core.
#define HALVORN_STDCALL
#define HALVORN_CDECL
#endif
