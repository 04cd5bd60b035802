// Each of the project's DLLs carries its own copy of the C++ runtime and of
// the threads library, set up afresh at every load. Neither gives back what
// it takes at a load: the runtime's emergency exception pool (18.5 KiB of
// heap) and the threads library's TLS index (a process has 1088, and the
// threads library aborts the process when it finds none), nor the threads
// library's record of the thread that unloads the DLL. This file gives them
// back when FreeLibrary unloads the DLL. It must be linked as an object of
// the DLL itself: nothing refers to it.
//
// The order of a DLL's code, measured under Wine 8 and read in the mingw-w64
// start-up code's objects:
//   load:    TLS callbacks, the C initializers, DllEntryPoint, the static
//            constructors, DllMain;
//   unload:  TLS callbacks (whose `reserved` is null even at process exit),
//            DllMain, DllEntryPoint, then the atexit list, last registered
//            first: static destructors, the runtime's own.
// DllEntryPoint puts the release first on that list (no C initializer of ours
// registers anything), so it is the last code of the DLL an unload runs.
#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace __gnu_cxx {
// The runtime's own release of that pool, kept for leak checkers.
void __freeres();
}  // namespace __gnu_cxx

extern "C" {
// The threads library's TLS callback (its DLL_THREAD_DETACH releases the
// calling thread's record: a handle, an event, its keys' values).
extern const PIMAGE_TLS_CALLBACK __xl_f;
}

namespace {

// The threads library takes one index per load; the spare slots are for code
// that may take more. An index beyond them stays taken, as it would have.
// Slots hold index + 1, so that 0 is an empty slot.
constexpr int kMostIndexes = 8;
std::atomic<DWORD> g_indexes[kMostIndexes];
std::atomic<int> g_recorded{0};

// Set by DllEntryPoint at unload, read by the release just after it.
HINSTANCE g_module = nullptr;
bool g_freelibrary = false;

// Looked up at each call: a function-local static would take the runtime's
// once-only lock, which may be what is asking for the index.
template <typename Fn>
Fn Kernel32(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

DWORD WINAPI RecordingTlsAlloc() {
  const auto tls_alloc = Kernel32<DWORD(WINAPI*)()>("TlsAlloc");
  const DWORD index = tls_alloc != nullptr ? tls_alloc() : TLS_OUT_OF_INDEXES;
  if (index == TLS_OUT_OF_INDEXES) return index;
  const int slot = g_recorded.fetch_add(1);
  if (slot < kMostIndexes) g_indexes[slot].store(index + 1);
  return index;
}

// An index the DLL gives back itself is no longer its to free at unload.
BOOL WINAPI ForgettingTlsFree(DWORD index) {
  for (auto& recorded : g_indexes) {
    DWORD expected = index + 1;
    if (recorded.compare_exchange_strong(expected, 0)) break;
  }
  const auto tls_free = Kernel32<BOOL(WINAPI*)(DWORD)>("TlsFree");
  return tls_free != nullptr && tls_free(index);
}

// The threads library's record of a thread (a thread handle, an event, its
// keys' values) goes at the thread's DLL_THREAD_DETACH, which will never come
// for this DLL from the thread that unloads it. Other threads still alive at
// the unload keep theirs.
void ReleaseThreadRecord() { __xl_f(g_module, DLL_THREAD_DETACH, nullptr); }

// The last code of the DLL that an unload runs.
void ReleaseAtUnload() {
  // At process exit the other threads were stopped wherever they were,
  // perhaps inside the heap: nothing is freed then, and nothing needs to be.
  if (!g_freelibrary) return;
  // No thread runs the DLL's code any more, so no exception is in flight.
  __gnu_cxx::__freeres();
  // Whatever the static destructors took for this thread since.
  ReleaseThreadRecord();
  // Freeing an index clears it in every thread, so whoever takes it next
  // finds it empty.
  for (auto& recorded : g_indexes) {
    const DWORD slot = recorded.exchange(0);
    if (slot != 0) ForgettingTlsFree(slot - 1);
  }
}

}  // namespace

extern "C" {

// The runtime reaches TlsAlloc and TlsFree through these import pointers:
// defined here, they take the place of the import library's.
extern DWORD(WINAPI* const halvorn_tls_alloc_import)() __asm__("__imp__TlsAlloc@0");
extern BOOL(WINAPI* const halvorn_tls_free_import)(DWORD) __asm__("__imp__TlsFree@4");
__attribute__((used)) DWORD(WINAPI* const halvorn_tls_alloc_import)() = &RecordingTlsAlloc;
__attribute__((used)) BOOL(WINAPI* const halvorn_tls_free_import)(DWORD) = &ForgettingTlsFree;

// The start-up code calls it with DllMain's arguments: at a load before the
// static constructors, at unload after DllMain. The C runtime's default does
// nothing.
BOOL WINAPI DllEntryPoint(HINSTANCE module, DWORD reason, LPVOID reserved) {
  // Registered before any static constructor runs, so it runs last.
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = module;
    std::atexit(&ReleaseAtUnload);
  }
  if (reason == DLL_PROCESS_DETACH) {
    // A null `reserved` means FreeLibrary; otherwise the process is ending.
    g_freelibrary = reserved == nullptr;
    // Before the static destructors, as when a thread ends before them.
    if (g_freelibrary) ReleaseThreadRecord();
  }
  return TRUE;
}

}  // extern "C"
