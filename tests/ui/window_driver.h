// Drives WzaUnpacker.exe from a second Win32 process, the way a user meets it: finds its
// windows, reads its controls, clicks, answers message boxes and works the two dialogs.
// Everything crosses the process boundary, so texts are read with the W messages and
// structures the tool fills are passed through memory allocated in the tool's process.
#pragma once

#include <windows.h>
// windows.h first: commctrl.h builds on it.
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

// Generous: a cold Wine start or a loaded machine can take seconds.
constexpr DWORD kWindowTimeoutMs = 30000;

struct Tool {
  PROCESS_INFORMATION process{};
  HWND window = nullptr;  // the main window once it is up
};

// WzaUnpacker.exe beside the running test program.
std::string ToolPath();

// Starts the tool, with `args` on its command line, and waits for its main window. False
// (with the reason in *error) when the program is missing or no window showed up in time.
bool StartTool(Tool& tool, std::string* error, const std::vector<std::string>& args = {});
// Ends the tool if it still runs and releases the handles; safe to call twice.
void StopTool(Tool& tool);
bool WaitForExit(Tool& tool, DWORD timeoutMs, DWORD& exitCode);
bool IsRunning(const Tool& tool);

// Polls `condition` every few milliseconds; true as soon as it holds.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWindowTimeoutMs);

// Visible top-level windows of one process with that class (null: any) and caption
// (null: any).
std::vector<HWND> ProcessWindows(DWORD processId, const char* className, const char* caption);
HWND WaitForProcessWindow(DWORD processId, const char* className, const char* caption,
                          DWORD timeoutMs = kWindowTimeoutMs);

std::string TextOf(HWND window);
std::string ClassOf(HWND window);
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// A child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child);

struct Control {
  HWND handle = nullptr;
  std::string className;
  std::string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  int id = 0;
  RECT rect{};  // in the parent's client coordinates
};

// Direct children from the top of the z-order down (creation order for our window).
std::vector<Control> ChildControls(HWND parent);
// Every descendant, depth first.
std::vector<HWND> Descendants(HWND parent);
// First descendant with that class (case-insensitive), or null.
HWND FindDescendant(HWND parent, const char* className);

// Posts BM_CLICK: a click that opens a modal dialog must not block the caller.
void Click(HWND button);
// Posts the close button's command, as the title bar's close box does.
void PressCloseBox(HWND window);

// Message boxes: "#32770" windows of the tool's process, found by caption.
HWND WaitForMessageBox(const Tool& tool, const char* caption, DWORD timeoutMs = kWindowTimeoutMs);
std::string MessageBoxText(HWND box);
// Presses IDOK, IDYES or IDNO and waits until the box is gone.
bool AnswerMessageBox(HWND box, int buttonId);
// Message boxes of the tool that are open right now (caption and text), for diagnostics.
std::vector<std::string> OpenBoxes(const Tool& tool);

std::vector<std::string> ListBoxItems(HWND listBox);
int ListBoxSelection(HWND listBox);
int ProgressPosition(HWND progressBar);

// Returns once the tool's UI thread has handled everything sent to it before: it answers
// a sent message only when it waits for messages again.
bool SyncWith(const Tool& tool);

// The window that has the keyboard focus in the tool's UI thread.
HWND FocusOf(const Tool& tool);
// Moves the mouse pointer to a screen point, as a user's hand would.
void MoveMouse(int x, int y);
// Posts a key press and release to one window of the tool.
void PostKey(HWND window, WPARAM virtualKey);

// Memory in the tool's process, for messages whose lParam points at a structure.
struct RemoteBuffer {
  HANDLE process = nullptr;
  void* address = nullptr;
  size_t size = 0;
  RemoteBuffer(HANDLE process, size_t size);
  ~RemoteBuffer();
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  bool Write(size_t offset, const void* data, size_t count);
  bool Read(size_t offset, void* data, size_t count) const;
};

struct ToolTip {
  UINT flags = 0;
  HWND owner = nullptr;
  UINT_PTR id = 0;
  std::string text;
};

// The tools registered with every tooltip window of the tool's process.
std::vector<ToolTip> ToolTipsOf(const Tool& tool);

// The open dialog (explorer style): the "#32770" holding the file-name combo box 0x47C.
HWND WaitForOpenDialog(const Tool& tool, DWORD timeoutMs = kWindowTimeoutMs);
// Types `text` into the file-name box and presses Open: a folder path navigates there,
// one or more quoted names pick files of the current folder.
bool OpenDialogEnter(HWND dialog, const std::string& text);
// The folder the open dialog shows (CDM_GETFOLDERPATH).
std::string OpenDialogFolder(const Tool& tool, HWND dialog);

// The folder browser: the "#32770" holding a SysTreeView32.
HWND WaitForFolderBrowser(const Tool& tool, DWORD timeoutMs = kWindowTimeoutMs);
HWND FolderTree(HWND browser);
// Label of a tree item, and the items below one (expanding it first).
std::string TreeItemText(const Tool& tool, HWND tree, HTREEITEM item);
std::vector<HTREEITEM> TreeChildren(HWND tree, HTREEITEM item);
HTREEITEM TreeSelection(HWND tree);
bool SelectTreeItem(HWND tree, HTREEITEM item);
// Texts of the browser's static controls (its title and status lines).
std::vector<std::string> StaticTexts(HWND dialog);

// Presses a dialog button by id (IDOK, IDCANCEL) through the dialog's WM_COMMAND.
void PressDialogButton(HWND dialog, int buttonId);
bool WaitUntilGone(HWND window, DWORD timeoutMs = kWindowTimeoutMs);

// Copies the whole screen into a 24-bit BMP file.
bool SaveScreenshot(const std::string& path);
// Saves a screenshot named `name`.bmp into the folder named by WZA_UI_SHOTS, when set.
void Snapshot(const std::string& name);
