// The process-wide record of the main window: its class, every handle the tool works
// through, the shared message record and the run's flags.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MainWindowState {
  WNDCLASSEXA WindowClass;
  HWND MainWindow;
  HWND PathEdit;
  HWND PathBrowseButton;
  HWND SaveToEdit;
  HWND SaveToBrowseButton;
  HWND FileList;
  HWND CurrentProgress;
  HWND TotalProgress;
  HWND ExtractButton;
  HWND WebLink;
  HWND Tooltip;  // null when it could not be made: the window then works without tooltips
  int WindowLeft;
  int WindowTop;
  MSG Message;  // used by the main loop and by the run's pump
  HFONT DialogFont;
  WINDOWINFO WindowInfo;
  int SeparatorWidth;
  int SeparatorHeight;
  bool Extracting;  // a run is writing entries; cleared by a confirmed abort
  // True for the whole of RunExtraction. After a confirmed abort Extracting is already
  // false while the run still finishes its entry and walks the remaining archives: this
  // flag keeps a second run from starting and the process from quitting in that time.
  bool RunActive;
};

extern MainWindowState MainState;

// Control ids of the three buttons; the list box and the badge have ids nothing looks up.
constexpr int kPathBrowseId = 10;
constexpr int kSaveToBrowseId = 11;
constexpr int kExtractId = 12;
constexpr int kFileListId = 14;
constexpr int kBadgeId = 15;

// The window's nominal size, without the caption.
constexpr int kWindowWidth = 332;
constexpr int kWindowHeight = 213;

// Registers or removes a control's tooltip with the tooltip window.
BOOL AddTool(HWND tooltip, HWND owner, HWND control, const char* text);
void DeleteTool(HWND tooltip, HWND owner, HWND control);

// Moves a window so that it is centred on the screen.
void CentreOnScreen(HWND window);

// The three commands.
void SelectArchives();
// Writes a selection in the open dialog's result form (see selection_parse.h) into
// "Path:", "Save to:" and the file list, as choosing those files in the dialog does.
void ShowSelection(std::vector<char>& buffer);
// Archives given on the command line (dropped on the exe, "Open with"): shown as if chosen
// in the open dialog; those that cannot be are named in one error box.
void OpenCommandLineFiles();
std::string BrowseForDestination(const std::string& title);
void RunExtraction();

// Shows a modal box owned by the main window.
void ShowError(const std::string& text);
