// Choosing archives: the system's multi-select open dialog, centred on the screen.
#include <windows.h>

#include <commdlg.h>

#include <vector>

#include "ui/main_window_state.h"
#include "ui/record_sizes.h"
#include "ui/selection_parse.h"

namespace {

constexpr char kFilter[] =
    "Tarnel, Mossk, Vexmoor & Quillon Archives (*.wza, *.big)\0*.wza;*.big\0"
    "All files (*.*)\0*.*\0";
constexpr DWORD kOpenFlags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST |
                             OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLEHOOK |
                             OFN_EXTENSIONDIFFERENT;
static_assert(kOpenFlags == 0x00081E24, "open dialog flags");

UINT_PTR CALLBACK OpenDialogHook(HWND dialog, UINT message, WPARAM, LPARAM) {
  // The hook sees the inner dialog of the explorer-style dialog; its parent is the window.
  if (message == WM_INITDIALOG) CentreOnScreen(GetParent(dialog));
  return 0;
}

}  // namespace

void SelectArchives() {
  MainWindowState& s = MainState;
  std::vector<char> buffer(kSelectionBufferSize, 0);
  OPENFILENAMEA dialog;
  ZeroMemory(&dialog, sizeof dialog);
  dialog.lStructSize = kOpenDialogSize;
  dialog.hwndOwner = s.MainWindow;
  dialog.hInstance = GetModuleHandleA(nullptr);
  dialog.lpstrFilter = kFilter;  // the literal's own zero byte ends the list
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kSelectionBufferSize;
  dialog.Flags = kOpenFlags;
  dialog.lpfnHook = OpenDialogHook;
  dialog.FlagsEx = OFN_EX_NOPLACESBAR;
  if (!GetOpenFileNameA(&dialog)) {
    // A plain cancel stays silent; a selection the buffer cannot hold is told.
    if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) ShowError("Too many files selected");
    return;
  }

  ShowSelection(buffer);
}

void ShowSelection(std::vector<char>& buffer) {
  MainWindowState& s = MainState;
  const Selection selection = ParseSelection(buffer);
  SendMessageA(s.FileList, LB_RESETCONTENT, 0, 0);
  SetWindowTextA(s.PathEdit, selection.folder.c_str());
  SetWindowTextA(s.SaveToEdit, selection.folder.c_str());
  for (const std::string& name : selection.names) {
    SendMessageA(s.FileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  }
}
