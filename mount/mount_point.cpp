#include "mount/mount_point.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// The kernel writes a space, tab, newline or backslash in a path as "\" and three octal
// digits.
std::string Unescaped(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    const bool octal = field[i] == '\\' && i + 3 < field.size() &&
                       field.find_first_not_of("01234567", i + 1) >= i + 4;
    if (octal) {
      text += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

struct MountLine {
  long id = -1;
  std::string point;
  std::string type;
};

// One line of /proc/self/mountinfo: "ID PARENT MAJ:MIN ROOT POINT OPTIONS [TAGS...] - TYPE ...".
bool ParseLine(const std::string& line, MountLine& mount) {
  std::istringstream fields(line);
  std::string parent;
  std::string device;
  std::string root;
  std::string point;
  if (!(fields >> mount.id >> parent >> device >> root >> point)) return false;
  std::string field;
  while (fields >> field && field != "-") {
  }
  if (!(fields >> mount.type)) return false;
  mount.point = Unescaped(point);
  return true;
}

template <typename Visit>
void ForEachMount(Visit visit) {
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  MountLine mount;
  while (std::getline(table, line)) {
    if (ParseLine(line, mount)) visit(mount);
  }
}

}  // namespace

bool ResolveMountPoint(const std::string& given, std::string& absolute, std::string& why) {
  char resolved[PATH_MAX];
  struct stat info {};
  if (realpath(given.c_str(), resolved) == nullptr || stat(resolved, &info) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    why = "not a folder";
    return false;
  }
  absolute = resolved;
  return true;
}

long MountIdAt(const std::string& path, const std::string& type) {
  long id = -1;
  // Later lines are mounted on top of earlier ones.
  ForEachMount([&](const MountLine& mount) {
    if (mount.point == path && (type.empty() || mount.type == type)) id = mount.id;
  });
  return id;
}

bool WhereMounted(long id, std::string& path) {
  bool found = false;
  ForEachMount([&](const MountLine& mount) {
    if (mount.id != id) return;
    path = mount.point;
    found = true;
  });
  return found;
}
