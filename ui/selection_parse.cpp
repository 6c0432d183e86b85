#include "ui/selection_parse.h"

#include <algorithm>

namespace {
constexpr char kSeparatorMark = 0x01;  // stands for a zero byte between parts; no name holds it
}

Selection ParseSelection(std::vector<char>& b) {
  Selection selection;
  const size_t n = b.size();
  if (n < 3) return selection;
  const auto at = [&](size_t i) -> char { return i < n ? b[i] : 0; };

  // Mark each single zero byte; the first double zero (from index 1 on) ends the result.
  size_t end = n - 1;
  for (size_t i = 0; i + 1 < n; ++i) {
    if (b[i] == 0 && b[i + 1] != 0) b[i] = kSeparatorMark;
    if (i >= 1 && b[i] == 0 && b[i + 1] == 0) {
      end = i;
      break;
    }
  }
  // Join the folder to the first name: in the one-file form there is no mark, nothing changes.
  for (size_t i = 0; i < end && b[i] != 0; ++i) {
    if (b[i] == kSeparatorMark) {
      b[i] = '\\';
      break;
    }
  }
  b[end] = kSeparatorMark;

  // The last backslash in the buffer ends the folder: file names hold none.
  size_t k = 0;
  for (size_t i = n - 1; i >= 1; --i) {
    if (b[i] == '\\') {
      k = i;
      break;
    }
  }
  selection.folder.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(k + 1));
  // Several files in a drive root leave "D:\\": cut it back to "D:\".
  const std::string& folder = selection.folder;
  if (folder.size() >= 2 && folder[folder.size() - 1] == '\\' &&
      folder[folder.size() - 2] == '\\') {
    selection.folder.pop_back();
  }

  size_t s = k + 1;
  if (at(s) == kSeparatorMark) ++s;
  for (size_t i = s + 1; i < n; ++i) {
    if (b[i] == kSeparatorMark) {
      selection.names.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(s),
                                   b.begin() + static_cast<std::ptrdiff_t>(i));
      s = i + 1;
    }
    if (i + 1 >= n || (at(s + 1) == 0 && at(s + 2) == 0)) break;
  }
  return selection;
}

std::vector<char> SelectionResult(const std::string& folder,
                                  const std::vector<std::string>& names) {
  std::string result;
  if (names.size() == 1) {
    result = folder + (!folder.empty() && folder.back() == '\\' ? "" : "\\") + names[0];
    result += '\0';
  } else {
    result = folder + '\0';
    for (const std::string& name : names) result += name + '\0';
  }
  std::vector<char> buffer(kSelectionBufferSize, 0);
  // Leave room for the closing zero bytes the parse looks for.
  std::copy_n(result.begin(), std::min(result.size(), buffer.size() - 2), buffer.begin());
  return buffer;
}
