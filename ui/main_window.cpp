// Program start, the main window with its controls, and its window procedure.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "ui/home_page.h"
#include "ui/main_window_state.h"
#include "ui/record_sizes.h"

MainWindowState MainState;

namespace {

constexpr char kClassName[] = "Game_UnArch20913173";
constexpr char kTitle[] = "Vexmoor WZA Unpacker v1.0 by Quorvel";
const std::string kWebLinkText = std::string("Web Site: ") + kHomePage;

struct ControlSpec {
  const char* className;
  const char* text;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
  int id;
  HWND* keep;  // where its handle is kept, if anywhere
};

HWND CreateControl(const ControlSpec& spec) {
  const HWND control = CreateWindowExA(spec.exStyle, spec.className, spec.text, spec.style, spec.x,
                                       spec.y, spec.width, spec.height, MainState.MainWindow,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
                                       GetModuleHandleA(nullptr), nullptr);
  if (spec.keep != nullptr) *spec.keep = control;
  return control;
}

// Controls 1 to 13, in creation order (which is also the Tab order).
void CreateUpperControls() {
  MainWindowState& s = MainState;
  const ControlSpec controls[] = {
      {"STATIC", "Path:", 0x50000000, 0, 8, 8, 117, 14, 0, nullptr},
      {"EDIT", "", 0x50010880, WS_EX_CLIENTEDGE, 8, 22, 117, 22, 0, &s.PathEdit},
      {"BUTTON", "...", 0x50010000, 0, 130, 21, 23, 23, kPathBrowseId, &s.PathBrowseButton},
      {"STATIC", "Save to:", 0x50000000, 0, 172, 8, 117, 14, 0, nullptr},
      {"EDIT", "", 0x50010880, WS_EX_CLIENTEDGE, 172, 22, 117, 22, 0, &s.SaveToEdit},
      {"BUTTON", "...", 0x50010000, 0, 294, 21, 23, 23, kSaveToBrowseId, &s.SaveToBrowseButton},
      {"STATIC", "Files:", 0x50000000, 0, 8, 62, 145, 14, 0, nullptr},
      {"LISTBOX", "", 0x50210400, WS_EX_CLIENTEDGE, 8, 76, 145, 145, kFileListId, &s.FileList},
      {"STATIC", "Current file:", 0x50000000, 0, 172, 62, 145, 14, 0, nullptr},
      {"msctls_progress32", "", 0x50000001, 0, 172, 76, 145, 17, 0, &s.CurrentProgress},
      {"STATIC", "Total:", 0x50000000, 0, 172, 102, 145, 14, 0, nullptr},
      {"msctls_progress32", "", 0x50000001, 0, 172, 116, 145, 17, 0, &s.TotalProgress},
      {"BUTTON", "Extract", 0x50010000, 0, 172, 142, 68, 26, kExtractId, &s.ExtractButton},
  };
  for (const ControlSpec& control : controls) CreateControl(control);
}

// The etched lines and frame follow the client area the system actually gave the window.
void CreateLowerControls() {
  MainWindowState& s = MainState;
  s.WindowInfo.cbSize = kWindowInfoSize;
  GetWindowInfo(s.MainWindow, &s.WindowInfo);
  const RECT& client = s.WindowInfo.rcClient;
  const int clientWidth = client.right - client.left;
  const int clientHeight = client.bottom - client.top;
  const int bx = static_cast<int>(s.WindowInfo.cxWindowBorders);
  const int by = static_cast<int>(s.WindowInfo.cyWindowBorders);

  s.SeparatorWidth = clientWidth - bx;
  CreateControl({"STATIC", "", 0x50000010, 0, bx, 52, s.SeparatorWidth, 0, 0, nullptr});
  s.SeparatorHeight = clientHeight - (by + 53);
  CreateControl({"STATIC", "", 0x50000011, 0, s.SeparatorWidth / 2, by + 53, 0, s.SeparatorHeight,
                 0, nullptr});
  CreateControl({"STATIC", "PWRBADGE", 0x5000000E, 0, 245, 142, 72, 26, kBadgeId, nullptr});
  CreateControl({"STATIC", kWebLinkText.c_str(), 0x50000001, 0, 170, 180, 150, 16, 0, &s.WebLink});
  // Created last, so it lies beneath every other control.
  CreateControl({"STATIC", "", 0x50000012, 0, 0, 0, kWindowWidth - 2 * bx, kWindowHeight - 2 * by,
                 0, nullptr});
}

BOOL CALLBACK InitChildControl(HWND child, LPARAM) {
  MainWindowState& s = MainState;
  // Posted, not sent: the loop delivers it, and no redraw is asked for.
  PostMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(s.DialogFont), 0);
  if (s.Tooltip != nullptr) {
    if (child == s.PathBrowseButton) {
      AddTool(s.Tooltip, s.MainWindow, child, "Select files");
    } else if (child == s.SaveToBrowseButton) {
      AddTool(s.Tooltip, s.MainWindow, child, "Select path for output files");
    } else if (child == s.ExtractButton) {
      AddTool(s.Tooltip, s.MainWindow, child, "Start Extracting");
    }
  }
  return TRUE;
}

void AskToAbort() {
  if (MessageBoxA(MainState.MainWindow, "Abort extracting?", "Question",
                  MB_YESNO | MB_ICONQUESTION) == IDYES) {
    MainState.Extracting = false;
  }
}

bool OverWebLink(LPARAM lParam) {
  POINT point;
  point.x = LOWORD(lParam);
  point.y = HIWORD(lParam);
  return ChildWindowFromPoint(MainState.MainWindow, point) == MainState.WebLink;
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MainWindowState& s = MainState;
  switch (message) {
    case WM_CLOSE:
    case WM_DESTROY:
      if (s.Extracting) {
        AskToAbort();  // closing during a run can only stop the run
      } else if (!s.RunActive) {
        PostQuitMessage(0);
      }
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kPathBrowseId:
          SelectArchives();
          break;
        case kSaveToBrowseId:
          SetWindowTextA(s.SaveToEdit, BrowseForDestination("").c_str());
          break;
        case kExtractId:
          if (s.Extracting) {
            AskToAbort();
          } else if (!s.RunActive) {
            RunExtraction();
          }
          break;
        default:
          break;
      }
      return 0;
    case WM_MOUSEMOVE:
      SetCursor(LoadCursorA(nullptr, OverWebLink(lParam) ? IDC_HAND : IDC_ARROW));
      return 0;
    case WM_LBUTTONUP:
      if (OverWebLink(lParam)) ShellExecuteA(s.MainWindow, "Open", kHomePage, "", "", SW_SHOW);
      return 0;
    case WM_THEMECHANGED:
      SetWindowPos(s.MainWindow, nullptr, 0, 0, kWindowWidth,
                   kWindowHeight + GetSystemMetrics(SM_CYCAPTION), SWP_NOMOVE);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  MainWindowState& s = MainState;
  InitCommonControls();

  s.Tooltip = CreateWindowExA(0, "tooltips_class32", "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (s.Tooltip != nullptr) {
    SetWindowPos(s.Tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  }

  s.WindowClass.cbSize = kWindowClassSize;
  s.WindowClass.style = CS_VREDRAW | CS_HREDRAW;
  s.WindowClass.lpfnWndProc = MainWindowProc;
  s.WindowClass.hInstance = instance;
  s.WindowClass.hIcon = LoadIconA(instance, "APPICON");
  s.WindowClass.hCursor = nullptr;  // the window procedure sets the cursor itself
  s.WindowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  s.WindowClass.lpszClassName = kClassName;
  RegisterClassExA(&s.WindowClass);

  s.WindowLeft = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  s.WindowTop = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  s.MainWindow = CreateWindowExA(0, kClassName, kTitle, 0x100A0000, s.WindowLeft, s.WindowTop,
                                 kWindowWidth, kWindowHeight + GetSystemMetrics(SM_CYCAPTION),
                                 nullptr, nullptr, instance, nullptr);
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));

  CreateUpperControls();
  CreateLowerControls();
  s.DialogFont = static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
  EnumChildWindows(s.MainWindow, InitChildControl, 0);

  ShowWindow(s.MainWindow, SW_SHOW);
  SetFocus(s.PathEdit);
  s.Extracting = false;
  OpenCommandLineFiles();

  for (;;) {
    const BOOL got = GetMessageA(&s.Message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;  // the quit message, or a failure that would only repeat
    if (s.MainWindow != nullptr && IsDialogMessageA(s.MainWindow, &s.Message)) continue;
    TranslateMessage(&s.Message);
    DispatchMessageA(&s.Message);
  }
  return 0;
}
