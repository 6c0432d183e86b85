// What one press of Extract does: read the controls, check them and the free space, then
// run the extraction with the window kept alive between entries.
#include <windows.h>

#include <commctrl.h>

#include <exception>
#include <new>
#include <string>
#include <vector>

#include "extract/extraction_run.h"
#include "ui/main_window_state.h"

namespace {

// The pump runs at most this often: enough for the bars to move smoothly and for Cancel
// to answer at once, without a trip through the message queue for every small entry.
constexpr DWORD kPumpIntervalMs = 15;

std::string ReadEdit(HWND edit) {
  char text[260] = {};
  GetWindowTextA(edit, text, sizeof text);
  return text;
}

// The folder text with a "\" added unless it ends with one.
std::string AsFolder(const std::string& text) {
  return !text.empty() && text.back() == '\\' ? text : text + '\\';
}

std::vector<std::string> ListedNames() {
  std::vector<std::string> names;
  const LRESULT count = SendMessageA(MainState.FileList, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageA(MainState.FileList, LB_GETTEXTLEN, i, 0);
    std::string name(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    SendMessageA(MainState.FileList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&name[0]));
    name.resize(name.find('\0'));
    names.push_back(name);
  }
  return names;
}

uint64_t TotalSize(const std::vector<std::string>& paths) {
  uint64_t total = 0;
  for (const std::string& path : paths) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;  // a name not found adds nothing
    total += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    FindClose(search);
  }
  return total;
}

// The drive's free clusters first; where the drive root tells nothing (a network or
// relative destination), the free bytes of the folder itself; failing both, no check.
bool EnoughFreeSpace(const std::string& destination, uint64_t totalBytes) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (GetDiskFreeSpaceA(destination.substr(0, 3).c_str(), &sectorsPerCluster, &bytesPerSector,
                        &freeClusters, &clusters) &&
      sectorsPerCluster != 0 && bytesPerSector != 0) {
    return FitsInFreeClusters(totalBytes, sectorsPerCluster, bytesPerSector, freeClusters);
  }
  ULARGE_INTEGER available, total, free;
  if (GetDiskFreeSpaceExA(destination.c_str(), &available, &total, &free)) {
    return totalBytes <= available.QuadPart;
  }
  return true;
}

void SetExtractTooltip(const char* text) {
  MainWindowState& s = MainState;
  if (s.Tooltip == nullptr) return;
  DeleteTool(s.Tooltip, s.MainWindow, s.ExtractButton);
  AddTool(s.Tooltip, s.MainWindow, s.ExtractButton, text);
}

void EnterRunningState() {
  MainWindowState& s = MainState;
  EnableWindow(s.PathBrowseButton, FALSE);
  EnableWindow(s.SaveToBrowseButton, FALSE);
  SetWindowTextA(s.ExtractButton, "Cancel");
  SetExtractTooltip("Abort Extracting");
  s.Extracting = true;
}

// Back to idle, whatever ended the run.
void LeaveRunningState() {
  MainWindowState& s = MainState;
  SendMessageA(s.CurrentProgress, PBM_SETPOS, 0, 0);
  SendMessageA(s.TotalProgress, PBM_SETPOS, 0, 0);
  EnableWindow(s.PathBrowseButton, TRUE);
  EnableWindow(s.SaveToBrowseButton, TRUE);
  SetWindowTextA(s.ExtractButton, "Extract");
  SetExtractTooltip("Start Extracting");
  s.Extracting = false;
}

void Pump() {
  MainWindowState& s = MainState;
  while (PeekMessageA(&s.Message, s.MainWindow, 0, 0, PM_REMOVE)) DispatchMessageA(&s.Message);
}

RunSummary ExtractAll(const std::vector<std::string>& paths, const std::string& destination,
                      uint64_t totalBytes) {
  MainWindowState& s = MainState;
  int shownCurrent = 0;
  int shownTotal = 0;
  DWORD lastPump = GetTickCount();
  RunCallbacks callbacks;
  callbacks.selectArchive = [&](size_t k) {
    SendMessageA(s.FileList, LB_SETCURSEL, static_cast<WPARAM>(k), 0);
  };
  callbacks.setBars = [&](int current, int total) {
    if (current != shownCurrent) SendMessageA(s.CurrentProgress, PBM_SETPOS, current, 0);
    if (total != shownTotal) SendMessageA(s.TotalProgress, PBM_SETPOS, total, 0);
    shownCurrent = current;
    shownTotal = total;
  };
  callbacks.pump = [&] {
    const DWORD now = GetTickCount();
    if (now - lastPump < kPumpIntervalMs) return;
    lastPump = now;
    Pump();
  };
  callbacks.reportArchive = [&](const std::string& path, LoadOutcome outcome, const std::string&) {
    const std::string message = LoadOutcomeMessage(outcome, path);
    if (!message.empty()) ShowError(message);
    lastPump = GetTickCount() - kPumpIntervalMs;  // let the window catch up after the box
  };
  callbacks.shouldContinue = [&] { return s.Extracting; };
  return RunArchives(paths, destination, totalBytes, callbacks);
}

}  // namespace

void RunExtraction() {
  MainWindowState& s = MainState;
  const std::string pathText = ReadEdit(s.PathEdit);
  if (pathText.empty()) {
    ShowError("Please select files first");
    return;
  }
  const std::string source = AsFolder(pathText);
  const std::string destinationText = ReadEdit(s.SaveToEdit);
  if (destinationText.empty()) {
    ShowError("Please select destination path");
    return;
  }
  const std::string destination = AsFolder(destinationText);

  std::vector<std::string> paths;
  for (const std::string& name : ListedNames()) paths.push_back(source + name);
  const uint64_t totalBytes = TotalSize(paths);
  if (!EnoughFreeSpace(destination, totalBytes)) {
    ShowError("Not enough free space");
    return;
  }

  s.RunActive = true;
  EnterRunningState();
  std::string failure;
  RunSummary summary;
  try {
    summary = ExtractAll(paths, destination, totalBytes);
  } catch (const std::bad_alloc&) {
    failure = "Not enough memory to go on extracting.";
  } catch (const std::exception& error) {
    failure = std::string("Extracting stopped: ") + error.what();
  }
  if (failure.empty()) {
    MessageBoxA(s.MainWindow, DoneMessage(summary).c_str(), "Information", MB_ICONINFORMATION);
  } else {
    ShowError(failure);
  }
  LeaveRunningState();
  s.RunActive = false;
}
