// The sizes the window hands the system in each record's size field. The 32-bit tool uses
// the classic records: the tooltip record with lParam but without the reserved pointer
// newer headers add, and the full open-dialog record. The 64-bit build keeps the same
// choices at that platform's own sizes, where pointers and handles are 8 bytes.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <cstddef>

// The headers' TTTOOLINFOA_V2_SIZE, written so the compiler can check it.
constexpr UINT kToolInfoSize = offsetof(TTTOOLINFOA, lParam) + sizeof(LPARAM);
constexpr UINT kWindowClassSize = sizeof(WNDCLASSEXA);
constexpr UINT kWindowInfoSize = sizeof(WINDOWINFO);
constexpr DWORD kOpenDialogSize = sizeof(OPENFILENAMEA);

#ifdef _WIN64
static_assert(kToolInfoSize == 64, "tooltip record, 64-bit");
static_assert(kWindowClassSize == 80, "window class record, 64-bit");
static_assert(kWindowInfoSize == 60, "window information record: no pointers, the same");
static_assert(kOpenDialogSize == 152, "open-dialog record with FlagsEx, 64-bit");
#else
static_assert(kToolInfoSize == 44, "tooltip record, 32-bit");
static_assert(kWindowClassSize == 48, "window class record, 32-bit");
static_assert(kWindowInfoSize == 60, "window information record, 32-bit");
static_assert(kOpenDialogSize == 88, "open-dialog record with FlagsEx, 32-bit");
#endif
