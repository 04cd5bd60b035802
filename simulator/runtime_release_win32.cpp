// The library is linked with its own copy of the C++ runtime, which is set up
// afresh at every load. The runtime's emergency exception pool (18.5 KiB of
// heap, taken as the library loads) is never given back by the runtime
// itself, so each load left it behind in the host process. It is given back
// here when FreeLibrary unloads the library.
#include <windows.h>

namespace __gnu_cxx {
// The runtime's own release of that pool, kept for leak checkers.
void __freeres();
}  // namespace __gnu_cxx

namespace {

// A TLS callback rather than DllMain: it is told, as DllMain is, whether the
// unload is a FreeLibrary (reserved null) or the process ending, and the
// module's DllMain is not this file's.
void NTAPI ReleaseRuntime(PVOID /*library*/, DWORD reason, PVOID reserved) {
  // At process exit other threads were stopped wherever they were, perhaps
  // inside the heap: nothing is freed then, and nothing needs to be.
  // At a FreeLibrary no thread runs the library's code any more (each input
  // thread holds the library until it has ended), so no exception is in
  // flight and the pool is unused.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
}

}  // namespace

// After the runtime's own callbacks (.CRT$XLC to .CRT$XLF) and before the
// end of the list (.CRT$XLZ).
extern "C" __attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK halvornsim_release_runtime =
    &ReleaseRuntime;
