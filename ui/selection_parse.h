// Reading the result of the multi-select open dialog. Kept apart from the dialog and free
// of Win32 so that every form of result can be tested on a plain buffer.
#pragma once

#include <string>
#include <vector>

// The buffer the dialog writes its result into.
constexpr size_t kSelectionBufferSize = 65520;

struct Selection {
  std::string folder;              // ends with exactly one "\"
  std::vector<std::string> names;  // bare file names, in the dialog's order
};

// Parses the result in place, whichever form the dialog used: one full path followed by a
// zero byte, or the folder, a zero byte, each name followed by a zero byte, and one more
// zero byte. Never reads or writes outside the buffer, whatever it holds.
Selection ParseSelection(std::vector<char>& buffer);

// The dialog's result for files of one folder (`folder` without its closing "\", except a
// drive root such as "D:\"), in the form the dialog uses for that many: one full path, or
// the folder followed by the names. Zero bytes fill the buffer to kSelectionBufferSize.
std::vector<char> SelectionResult(const std::string& folder, const std::vector<std::string>& names);
