// GetTickCount64 for Windows before Vista. The thread library mingw-w64 links in statically
// calls it through its import pointer, and an import Windows XP lacks would stop both exes
// at start with a missing entry point. Defining that pointer here keeps the import out of
// the exe: the linker takes this definition before it looks in kernel32's import library.
// Linked into each exe as an object of its own, never from a static library, whose members
// are pulled in only for symbols still missing when the linker reaches it.
#include <windows.h>

namespace {

// Milliseconds from the performance counter, which Windows 2000 and later have; only the
// differences matter to the thread library (its waits with a timeout).
ULONGLONG WINAPI TickCount64() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&counter) ||
      frequency.QuadPart <= 0) {
    return GetTickCount();
  }
  const ULONGLONG ticks = static_cast<ULONGLONG>(counter.QuadPart);
  const ULONGLONG perSecond = static_cast<ULONGLONG>(frequency.QuadPart);
  return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

}  // namespace

#ifdef _WIN64
#define WZA_TICK_IMPORT "__imp_GetTickCount64"
#else
#define WZA_TICK_IMPORT "__imp__GetTickCount64@0"  // stdcall's decorated name
#endif

extern "C" {
ULONGLONG(WINAPI* tickCount64Import)() __asm__(WZA_TICK_IMPORT) = TickCount64;
}
