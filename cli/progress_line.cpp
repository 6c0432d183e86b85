#include "cli/progress_line.h"

#include <algorithm>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#define WZA_ISATTY _isatty
#define WZA_FILENO _fileno
#else
#include <unistd.h>
#define WZA_ISATTY isatty
#define WZA_FILENO fileno
#endif

namespace {
constexpr int kBarWidth = 30;
constexpr size_t kLabelWidth = 40;
}  // namespace

bool StderrIsTerminal() {
  return WZA_ISATTY(WZA_FILENO(stderr)) != 0;
}

void DrawProgress(ProgressLine& line, int percent) {
  percent = std::clamp(percent, 0, 100);  // the bar's width follows from it
  if (!line.enabled || percent == line.shown) return;
  line.shown = percent;
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::string label = line.label;
  if (label.size() > kLabelWidth) {
    size_t from = label.size() - (kLabelWidth - 3);
    // Not into the middle of a UTF-8 character.
    while (from < label.size() && (static_cast<unsigned char>(label[from]) & 0xC0) == 0x80) ++from;
    label = "..." + label.substr(from);
  }
  std::fprintf(stderr, "\r[%s] %3d%%  %-*s", bar.c_str(), percent, static_cast<int>(kLabelWidth),
               label.c_str());
  std::fflush(stderr);
}

void ClearProgress(ProgressLine& line) {
  if (!line.enabled || line.shown < 0) return;
  std::fprintf(stderr, "\r%*s\r", kBarWidth + 9 + static_cast<int>(kLabelWidth), "");
  std::fflush(stderr);
  line.shown = -1;
}
