// Times one full run of the window as a user makes it: pick the archive in the open dialog
// (the destination then defaults to the archive's folder), press Extract, wait for the
// closing box. Prints the milliseconds from the press to the box. Used by bench/run.sh.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/ui/window_driver.h"

namespace {

constexpr DWORD kRunTimeoutMs = 30 * 60 * 1000;

int Fail(Tool& tool, const char* what) {
  std::fprintf(stderr, "window_run: %s\n", what);
  StopTool(tool);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_run ARCHIVE\n");
    return 2;
  }
  const std::string archive = argv[1];
  const size_t cut = archive.find_last_of("\\/");
  if (cut == std::string::npos) {
    std::fprintf(stderr, "window_run: give the archive with its folder\n");
    return 2;
  }
  Tool tool;
  std::string error;
  if (!StartTool(tool, &error)) {
    std::fprintf(stderr, "window_run: %s\n", error.c_str());
    return 1;
  }
  Click(GetDlgItem(tool.window, 10));
  HWND dialog = WaitForOpenDialog(tool);
  if (dialog == nullptr) return Fail(tool, "the open dialog did not appear");
  if (!OpenDialogEnter(dialog, archive.substr(0, cut + 1)) ||
      !OpenDialogEnter(dialog, archive.substr(cut + 1)) || !WaitUntilGone(dialog) ||
      !SyncWith(tool)) {
    return Fail(tool, "the archive could not be picked");
  }

  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  Click(GetDlgItem(tool.window, 12));
  HWND done = WaitForMessageBox(tool, "Information", kRunTimeoutMs);
  QueryPerformanceCounter(&end);
  if (done == nullptr) return Fail(tool, "no closing box");
  const std::string text = MessageBoxText(done);
  if (text != "Done") return Fail(tool, ("the run ended with: " + text).c_str());
  std::printf("%lld\n", (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);

  AnswerMessageBox(done, IDOK);
  PressCloseBox(tool.window);
  DWORD code = 0;
  WaitForExit(tool, kWindowTimeoutMs, code);
  StopTool(tool);
  return 0;
}
