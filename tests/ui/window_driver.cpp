#include "tests/ui/window_driver.h"

#include <commdlg.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr DWORD kPollMs = 20;
// How long one cross-process message may take before the tool counts as hung.
constexpr UINT kSendTimeoutMs = 10000;

LRESULT SendW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

struct WindowSearch {
  DWORD processId;
  const char* className;
  const char* caption;
  bool visibleOnly;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
  WindowSearch& search = *reinterpret_cast<WindowSearch*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.processId) return TRUE;
  if (search.visibleOnly && !IsWindowVisible(window)) return TRUE;
  if (search.className && lstrcmpiA(ClassOf(window).c_str(), search.className) != 0) return TRUE;
  if (search.caption && TextOf(window) != search.caption) return TRUE;
  search.found.push_back(window);
  return TRUE;
}

// Tooltip windows stay hidden until they pop up, so this search ignores visibility.
std::vector<HWND> AllProcessWindows(DWORD processId, const char* className) {
  WindowSearch search{processId, className, nullptr, false, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForDialogWith(const Tool& tool, const char* childClass, int childId, DWORD timeoutMs) {
  HWND dialog = nullptr;
  WaitUntil(
      [&] {
        for (HWND candidate : ProcessWindows(tool.process.dwProcessId, "#32770", nullptr)) {
          for (HWND child : Descendants(candidate)) {
            if ((!childClass || lstrcmpiA(ClassOf(child).c_str(), childClass) == 0) &&
                (childId < 0 || GetDlgCtrlID(child) == childId)) {
              dialog = candidate;
              return true;
            }
          }
        }
        return false;
      },
      timeoutMs);
  return dialog;
}

}  // namespace

std::string ToolPath() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  return (std::filesystem::path(self).parent_path() / "WzaUnpacker.exe").string();
}

bool StartTool(Tool& tool, std::string* error, const std::vector<std::string>& args) {
  const std::string path = ToolPath();
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (error) *error = "not found: " + path;
    return false;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string commandLine = "\"" + path + "\"";
  for (const std::string& arg : args) commandLine += " \"" + arg + "\"";  // no quotes in paths
  if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &tool.process)) {
    if (error) *error = "CreateProcess failed with error " + std::to_string(GetLastError());
    return false;
  }
  const bool shown = WaitUntil([&] {
    tool.window = nullptr;
    const std::vector<HWND> windows =
        ProcessWindows(tool.process.dwProcessId, "Game_UnArch20913173", nullptr);
    if (windows.size() == 1) tool.window = windows[0];
    return tool.window != nullptr || !IsRunning(tool);
  });
  if (!shown || !tool.window) {
    if (error) *error = IsRunning(tool) ? "no main window appeared" : "the tool ended at start";
    return false;
  }
  // The tool posts its font to every control at start; wait until its queue is drained.
  WaitForInputIdle(tool.process.hProcess, kWindowTimeoutMs);
  return true;
}

void StopTool(Tool& tool) {
  if (tool.process.hProcess) {
    if (IsRunning(tool)) {
      TerminateProcess(tool.process.hProcess, 1);
      WaitForSingleObject(tool.process.hProcess, kWindowTimeoutMs);
    }
    CloseHandle(tool.process.hProcess);
    CloseHandle(tool.process.hThread);
  }
  tool.process = PROCESS_INFORMATION{};
  tool.window = nullptr;
}

bool WaitForExit(Tool& tool, DWORD timeoutMs, DWORD& exitCode) {
  if (WaitForSingleObject(tool.process.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(tool.process.hProcess, &exitCode) != 0;
}

bool IsRunning(const Tool& tool) {
  return tool.process.hProcess && WaitForSingleObject(tool.process.hProcess, 0) == WAIT_TIMEOUT;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
}

std::vector<HWND> ProcessWindows(DWORD processId, const char* className, const char* caption) {
  WindowSearch search{processId, className, caption, true, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForProcessWindow(DWORD processId, const char* className, const char* caption,
                          DWORD timeoutMs) {
  HWND window = nullptr;
  WaitUntil(
      [&] {
        const std::vector<HWND> found = ProcessWindows(processId, className, caption);
        window = found.empty() ? nullptr : found.front();
        return window != nullptr;
      },
      timeoutMs);
  return window;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  std::wstring wide(text.size(), L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         &wide[0], static_cast<int>(wide.size()));
  wide.resize(length > 0 ? length : 0);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string narrow(length > 0 ? length : 0, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], length,
                      nullptr, nullptr);
  return narrow;
}

std::string TextOf(HWND window) {
  // GetWindowText does not ask another process's controls, and the ANSI message came back
  // as UTF-16 under Wine: ask with the W message.
  const LRESULT length = SendW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied = SendW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return Narrow(text);
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

RECT RectInParent(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::vector<Control> ChildControls(HWND parent) {
  std::vector<Control> controls;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    Control control;
    control.handle = child;
    control.className = ClassOf(child);
    control.text = TextOf(child);
    control.style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    control.exStyle = static_cast<DWORD>(GetWindowLongA(child, GWL_EXSTYLE));
    control.id = GetDlgCtrlID(child);
    control.rect = RectInParent(child);
    controls.push_back(control);
  }
  return controls;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> all;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    all.push_back(child);
    const std::vector<HWND> below = Descendants(child);
    all.insert(all.end(), below.begin(), below.end());
  }
  return all;
}

HWND FindDescendant(HWND parent, const char* className) {
  for (HWND child : Descendants(parent)) {
    if (lstrcmpiA(ClassOf(child).c_str(), className) == 0) return child;
  }
  return nullptr;
}

void Click(HWND button) {
  PostMessageA(button, BM_CLICK, 0, 0);
}

void PressCloseBox(HWND window) {
  PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

HWND WaitForMessageBox(const Tool& tool, const char* caption, DWORD timeoutMs) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        for (HWND candidate : ProcessWindows(tool.process.dwProcessId, "#32770", caption)) {
          if (GetDlgItem(candidate, 0xFFFF)) {
            box = candidate;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return box;
}

std::string MessageBoxText(HWND box) {
  return TextOf(GetDlgItem(box, 0xFFFF));
}

bool AnswerMessageBox(HWND box, int buttonId) {
  HWND button = GetDlgItem(box, buttonId);
  if (!button) return false;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return WaitUntilGone(box);
}

std::vector<std::string> OpenBoxes(const Tool& tool) {
  std::vector<std::string> boxes;
  for (HWND box : ProcessWindows(tool.process.dwProcessId, "#32770", nullptr)) {
    boxes.push_back(TextOf(box) + ": " + MessageBoxText(box));
  }
  return boxes;
}

std::vector<std::string> ListBoxItems(HWND listBox) {
  std::vector<std::string> items;
  const LRESULT count = SendW(listBox, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendW(listBox, LB_GETTEXTLEN, i, 0);
    if (length < 0) break;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = SendW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    items.push_back(Narrow(text));
  }
  return items;
}

int ListBoxSelection(HWND listBox) {
  return static_cast<int>(SendW(listBox, LB_GETCURSEL, 0, 0));
}

int ProgressPosition(HWND progressBar) {
  return static_cast<int>(SendW(progressBar, PBM_GETPOS, 0, 0));
}

bool SyncWith(const Tool& tool) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(tool.window, WM_NULL, 0, 0, SMTO_NORMAL, kWindowTimeoutMs, &ignored) !=
         0;
}

HWND FocusOf(const Tool& tool) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(tool.process.dwThreadId, &info)) return nullptr;
  return info.hwndFocus;
}

void MoveMouse(int x, int y) {
  // Inside a Wine virtual desktop a warp alone reaches no window; the injected move does.
  SetCursorPos(x, y);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT input{};
  input.type = INPUT_MOUSE;
  // Rounded up, so that scaling back to pixels lands on x and y exactly.
  input.mi.dx = static_cast<LONG>((x * 65536LL + width - 1) / width);
  input.mi.dy = static_cast<LONG>((y * 65536LL + height - 1) / height);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
}

void PostKey(HWND window, WPARAM virtualKey) {
  const UINT scan = MapVirtualKeyA(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
  PostMessageA(window, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
  PostMessageA(window, WM_KEYUP, virtualKey, 1 | (scan << 16) | 0xC0000000u);
}

RemoteBuffer::RemoteBuffer(HANDLE process, size_t size) : process(process), size(size) {
  address = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteBuffer::~RemoteBuffer() {
  if (address) VirtualFreeEx(process, address, 0, MEM_RELEASE);
}

bool RemoteBuffer::Write(size_t offset, const void* data, size_t count) {
  SIZE_T written = 0;
  return address && offset + count <= size &&
         WriteProcessMemory(process, static_cast<char*>(address) + offset, data, count, &written) &&
         written == count;
}

bool RemoteBuffer::Read(size_t offset, void* data, size_t count) const {
  SIZE_T read = 0;
  return address && offset + count <= size &&
         ReadProcessMemory(process, static_cast<const char*>(address) + offset, data, count,
                           &read) &&
         read == count;
}

std::vector<ToolTip> ToolTipsOf(const Tool& tool) {
  std::vector<ToolTip> tips;
  constexpr size_t kTextChars = 256;
  // The record without the reserved pointer, as the tool registers its tools.
  const UINT kInfoSize = TTTOOLINFOW_V2_SIZE;
  for (HWND tooltip : AllProcessWindows(tool.process.dwProcessId, TOOLTIPS_CLASSA)) {
    const LRESULT count = SendW(tooltip, TTM_GETTOOLCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      RemoteBuffer remote(tool.process.hProcess, sizeof(TTTOOLINFOW) + kTextChars * 2);
      auto* remoteText =
          reinterpret_cast<wchar_t*>(static_cast<char*>(remote.address) + sizeof(TTTOOLINFOW));
      TTTOOLINFOW info{};
      info.cbSize = kInfoSize;
      info.lpszText = remoteText;
      const std::wstring blank(kTextChars, L'\0');
      if (!remote.Write(0, &info, sizeof info) ||
          !remote.Write(sizeof info, blank.data(), blank.size() * 2)) {
        continue;
      }
      if (!SendW(tooltip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote.address))) continue;
      std::wstring text(kTextChars, L'\0');
      remote.Read(0, &info, sizeof info);
      remote.Read(sizeof info, &text[0], text.size() * 2);
      text.resize(wcsnlen(text.c_str(), kTextChars));
      tips.push_back(ToolTip{info.uFlags, info.hwnd, info.uId, Narrow(text)});
    }
  }
  return tips;
}

HWND WaitForOpenDialog(const Tool& tool, DWORD timeoutMs) {
  return WaitForDialogWith(tool, nullptr, 0x47C, timeoutMs);
}

bool OpenDialogEnter(HWND dialog, const std::string& text) {
  // The file-name box is a ComboBoxEx holding a combo box holding the edit.
  HWND combo = GetDlgItem(dialog, 0x47C);
  HWND edit = combo ? FindDescendant(combo, "Edit") : nullptr;
  if (!edit) return false;
  const std::wstring wide = Widen(text);
  SendW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  // Sent, not posted, so a following call finds the dialog done with this one. Open never
  // blocks here: a missing file shows a box that the caller sees, and closing the dialog
  // only ends its loop.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)), SMTO_NORMAL,
                      kSendTimeoutMs, &ignored);
  return true;
}

std::string OpenDialogFolder(const Tool& tool, HWND dialog) {
  RemoteBuffer remote(tool.process.hProcess, MAX_PATH * 2 * sizeof(wchar_t));
  const std::wstring blank(MAX_PATH * 2, L'\0');
  remote.Write(0, blank.data(), blank.size() * 2);
  const LRESULT length =
      SendW(dialog, CDM_GETFOLDERPATH, MAX_PATH * 2, reinterpret_cast<LPARAM>(remote.address));
  if (length <= 0) return {};
  // An A dialog answers in ANSI.
  std::string folder(MAX_PATH * 2, '\0');
  remote.Read(0, &folder[0], folder.size());
  folder.resize(strnlen(folder.c_str(), folder.size()));
  return folder;
}

HWND WaitForFolderBrowser(const Tool& tool, DWORD timeoutMs) {
  return WaitForDialogWith(tool, WC_TREEVIEWA, -1, timeoutMs);
}

HWND FolderTree(HWND browser) {
  return FindDescendant(browser, WC_TREEVIEWA);
}

std::string TreeItemText(const Tool& tool, HWND tree, HTREEITEM item) {
  constexpr size_t kChars = 520;
  RemoteBuffer remote(tool.process.hProcess, sizeof(TVITEMW) + kChars * 2);
  TVITEMW info{};
  info.mask = TVIF_TEXT | TVIF_HANDLE;
  info.hItem = item;
  info.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote.address) + sizeof info);
  info.cchTextMax = kChars;
  const std::wstring blank(kChars, L'\0');
  remote.Write(0, &info, sizeof info);
  remote.Write(sizeof info, blank.data(), blank.size() * 2);
  if (!SendW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.address))) return {};
  std::wstring text(kChars, L'\0');
  remote.Read(sizeof info, &text[0], text.size() * 2);
  text.resize(wcsnlen(text.c_str(), kChars));
  return Narrow(text);
}

std::vector<HTREEITEM> TreeChildren(HWND tree, HTREEITEM item) {
  SendW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
  std::vector<HTREEITEM> children;
  auto child = reinterpret_cast<HTREEITEM>(
      SendW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
  while (child) {
    children.push_back(child);
    child = reinterpret_cast<HTREEITEM>(
        SendW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
  }
  return children;
}

HTREEITEM TreeSelection(HWND tree) {
  return reinterpret_cast<HTREEITEM>(SendW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

bool SelectTreeItem(HWND tree, HTREEITEM item) {
  return SendW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

std::vector<std::string> StaticTexts(HWND dialog) {
  std::vector<std::string> texts;
  for (HWND child : Descendants(dialog)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Static") == 0) texts.push_back(TextOf(child));
  }
  return texts;
}

void PressDialogButton(HWND dialog, int buttonId) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, buttonId)));
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  return WaitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

bool SaveScreenshot(const std::string& path) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as BMP files store rows
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  std::vector<char> pixels(static_cast<size_t>(stride) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&header, sizeof header, 1, out);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  return std::fclose(out) == 0;
}

void Snapshot(const std::string& name) {
  const char* folder = std::getenv("WZA_UI_SHOTS");
  if (!folder || !*folder) return;
  // Let the tool finish painting what it just showed.
  Sleep(300);
  SaveScreenshot(std::string(folder) + "\\" + name + ".bmp");
}
