// FailureInProgram, the same on every platform that has the unwinder: the
// frame walk over _Unwind_Backtrace. Only an ELF executable tells its own
// code range (the linker's symbols); elsewhere the walk finds the caller of
// operator new alone.
#include <unwind.h>

#include <algorithm>
#include <iterator>
#include <new>

#include "platform/platform.h"

#if defined(__ELF__)
// The start and the end of the executable's code, provided by the linker.
extern "C" char __executable_start;  // NOLINT
extern "C" char etext;               // NOLINT
#endif

namespace tabulon::platform {
namespace {

bool InProgramCode(std::uintptr_t address) {
#if defined(__ELF__)
  return address >= reinterpret_cast<std::uintptr_t>(&__executable_start) &&
         address < reinterpret_cast<std::uintptr_t>(&etext);
#else
  (void)address;
  return false;
#endif
}

// The state of one walk, outwards from FailureInProgram. For exhausted
// memory it also notes the frame that called operator new, found by the
// start of the handler's function and of operator new's.
struct FrameWalk {
  std::uintptr_t Handler = 0;  // start of the new-handler, when walking for it
  bool AfterHandler = false;   // the handler's own frame has been passed
  bool LeftProgram = false;
  const void* Found = nullptr;
  const void* AllocationCaller = nullptr;
};

bool IsOperatorNew(std::uintptr_t start) {
  using Plain = void* (*)(std::size_t);
  using NoThrow = void* (*)(std::size_t, const std::nothrow_t&) noexcept;
  static const std::uintptr_t kStarts[] = {
      reinterpret_cast<std::uintptr_t>(static_cast<Plain>(&::operator new)),
      reinterpret_cast<std::uintptr_t>(static_cast<Plain>(&::operator new[])),
      reinterpret_cast<std::uintptr_t>(static_cast<NoThrow>(&::operator new)),
      reinterpret_cast<std::uintptr_t>(static_cast<NoThrow>(&::operator new[])),
  };
  return std::find(std::begin(kStarts), std::end(kStarts), start) != std::end(kStarts);
}

void NoteAllocationCaller(FrameWalk& walk, _Unwind_Context* context, std::uintptr_t ip) {
  std::uintptr_t start = _Unwind_GetRegionStart(context);
  if (!walk.AfterHandler) {
    walk.AfterHandler = start == walk.Handler;
    return;
  }
  // The handler is called by operator new (operator new[] and the nothrow
  // forms call it in turn), or directly by a block that could not grow: the
  // first frame that is none of them asked for the memory.
  if (walk.AllocationCaller == nullptr && !IsOperatorNew(start)) {
    walk.AllocationCaller = reinterpret_cast<const void*>(ip);
  }
}

_Unwind_Reason_Code VisitFrame(_Unwind_Context* context, void* state) {
  FrameWalk& walk = *static_cast<FrameWalk*>(state);
  std::uintptr_t ip = _Unwind_GetIP(context);
  if (ip == 0) return _URC_END_OF_STACK;
  if (walk.Handler != 0) NoteAllocationCaller(walk, context, ip);
  if (!InProgramCode(ip)) {
    walk.LeftProgram = true;
  } else if (walk.LeftProgram) {
    walk.Found = reinterpret_cast<const void*>(ip);
    return _URC_END_OF_STACK;
  }
  return _URC_NO_REASON;
}

}  // namespace

[[gnu::noinline]] const void* FailureInProgram(std::uintptr_t handler) noexcept {
  FrameWalk walk;
  walk.Handler = handler;
  _Unwind_Backtrace(VisitFrame, &walk);
  return walk.Found != nullptr ? walk.Found : walk.AllocationCaller;
}

}  // namespace tabulon::platform
