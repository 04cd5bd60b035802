/* A DLL with no runtime at all (linked -nostdlib, its own entry) for
   load_cycle_bench: what Wine's loader and Wine's threads alone keep. */
#include <windows.h>

BOOL WINAPI ProbeEntry(HINSTANCE library, DWORD reason, LPVOID reserved) {
  (void)library;
  (void)reason;
  (void)reserved;
  return TRUE;
}

/* Any address inside the DLL names it. */
static const char kInside = 0;

static DWORD WINAPI EndsHoldingTheLibrary(void* library) {
  /* Long enough for the caller's FreeLibrary to come first. */
  Sleep(20);
  FreeLibraryAndExitThread((HMODULE)library, 0);
}

/* Bit 16: a thread that holds the DLL and drops the last reference as it
   ends, as the simulator's input thread does. */
__declspec(dllexport) int __stdcall Exercise(int what) {
  if (what & 16) {
    HMODULE self = NULL;
    HANDLE thread;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)&kInside, &self)) return 0;
    thread = CreateThread(NULL, 0, &EndsHoldingTheLibrary, self, 0, NULL);
    if (thread == NULL) {
      FreeLibrary(self);
      return 0;
    }
    CloseHandle(thread);
  }
  return what;
}
