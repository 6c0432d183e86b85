// The progress bar `wza extract` draws on stderr when stderr is a terminal.
#pragma once

#include <string>

struct ProgressLine {
  bool enabled = false;
  std::string label;  // the archive being extracted, as PrintableText shows it
  int shown = -1;     // percentage last drawn
};

bool StderrIsTerminal();
void DrawProgress(ProgressLine& line, int percent);
// Clears the bar so that error lines and the summary start on a clean line.
void ClearProgress(ProgressLine& line);
