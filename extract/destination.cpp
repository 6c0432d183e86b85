#include "extract/destination.h"

#include "platform/file_io.h"

namespace {

constexpr const char* kNoTarget = "a symbolic link to something that does not exist";

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The path without its trailing separators; a root stays as it is.
std::string Trimmed(std::string path) {
  while (path.size() > 1 && platform::IsPathSeparator(path.back())) path.pop_back();
  return path;
}

// The folder above `path` (trimmed), or "" above a root or a bare name.
std::string ParentOf(const std::string& path) {
  const size_t cut = path.find_last_of(platform::kPathSeparators);
  if (cut == std::string::npos || path.size() == 1) return std::string();
  return cut == 0 ? path.substr(0, 1) : Trimmed(path.substr(0, cut));
}

}  // namespace

std::string DestinationProblem(const std::string& destination) {
  const std::string named = Trimmed(destination);
  // From the destination up to the first thing that is there: that decides.
  for (std::string at = named; !at.empty(); at = ParentOf(at)) {
    const platform::PathKind kind = platform::KindAt(at);
    if (kind == platform::PathKind::Missing) continue;
    const bool itself = at == named;
    const std::string start = "destination " + Quoted(destination);
    if (kind == platform::PathKind::NotFolder) {
      return itself ? start + " is a file, not a folder"
                    : start + " lies below " + Quoted(at) + ", which is a file";
    }
    if (kind == platform::PathKind::BrokenLink) {
      return itself ? start + " is " + kNoTarget
                    : start + " lies below " + Quoted(at) + ", " + kNoTarget;
    }
    return std::string();
  }
  return std::string();
}
