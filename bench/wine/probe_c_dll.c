/* A trivial plain C DLL for load_cycle_bench: the mingw C startup code and
   nothing of C++, the baseline for what loading alone costs. */
#include <windows.h>

__declspec(dllexport) int __stdcall Exercise(int what) { return what; }
