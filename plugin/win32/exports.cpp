// The entry points the host calls, all made from entry_point_table.h. Each
// exported name is one jump through its own slot, so nothing of the name's is
// on the stack while the entry point runs; the slot leads to the forward by
// way of the module's door when there is one, and the caller then holds a
// reference on the module for as long as it is inside. Each forward hands the
// call to the module; no exception crosses into the host, and without a
// module object each gives the table's answer.
#include "plugin/win32/exports.h"

#include <type_traits>

#include "plugin/win32/win32_module.h"

namespace {

using halvorn::Module;
using halvorn::Win32Module;

template <typename Result, typename Call>
Result Forward(Call call, [[maybe_unused]] long answer_when_not_there) {
  try {
    if (Win32Module* module = Win32Module::Instance()) return call(module->module());
  } catch (...) {
  }
  if constexpr (!std::is_void_v<Result>) return static_cast<Result>(answer_when_not_there);
}

#define HALVORN_ENTRY_POINT(name, bytes, result, answer, parameters, arguments)                          \
  result __stdcall name##Forward parameters {                                                              \
    return Forward<result>([&](Module& module) { return module.name arguments; }, static_cast<long>(answer)); \
  }
#include "plugin/win32/entry_point_table.h"
#undef HALVORN_ENTRY_POINT

}  // namespace

// The slot each exported name jumps through.
extern "C" {
#define HALVORN_ENTRY_POINT(name, ...) const void* halvorn_way_into_##name = reinterpret_cast<const void*>(&name##Forward);
#include "plugin/win32/entry_point_table.h"
#undef HALVORN_ENTRY_POINT
}

// The exported names themselves, with their stdcall decoration; the .def
// file adds the plain names at the same addresses.
#define HALVORN_ENTRY_POINT(name, bytes, ...)           \
  asm(".text\n"                                         \
      ".globl _" #name "@" #bytes "\n"                  \
      "_" #name "@" #bytes ":\n"                        \
      "  jmp *_halvorn_way_into_" #name "\n");
#include "plugin/win32/entry_point_table.h"
#undef HALVORN_ENTRY_POINT

namespace halvorn {

std::vector<win::ModuleDoor::Entry> EntryPointDoorEntries() {
  return {
#define HALVORN_ENTRY_POINT(name, bytes, result, answer, ...)                                 \
  {reinterpret_cast<const void*>(&name##Forward), bytes, win::ModuleDoor::Way::kHoldingTheModule, \
   static_cast<std::uint32_t>(answer)},
#include "plugin/win32/entry_point_table.h"
#undef HALVORN_ENTRY_POINT
  };
}

void EnterEntryPointsThrough(const win::ModuleDoor& door) {
#define HALVORN_ENTRY_POINT(name, ...) halvorn_way_into_##name = door.Into(reinterpret_cast<const void*>(&name##Forward));
#include "plugin/win32/entry_point_table.h"
#undef HALVORN_ENTRY_POINT
}

}  // namespace halvorn
