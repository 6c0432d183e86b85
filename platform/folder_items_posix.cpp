// POSIX side of listing a folder without following links.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/folder_items.h"
#include "platform/system_message.h"

namespace platform {

namespace {

ItemKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return ItemKind::File;
  if (S_ISDIR(mode)) return ItemKind::Folder;
  if (S_ISLNK(mode)) return ItemKind::Link;
  return ItemKind::Special;
}

void SetError(std::string* error, int code) {
  if (error != nullptr) *error = SystemMessage(code);
}

}  // namespace

bool ListFolderItems(const std::string& folder, bool followLink, std::vector<FolderItem>& items,
                     std::string* error) {
  items.clear();
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const int fd = ::open(folder.c_str(), flags);
  if (fd < 0) {
    SetError(error, errno);
    return false;
  }
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    SetError(error, errno);
    ::close(fd);
    return false;
  }
  bool ok = true;
  for (;;) {
    errno = 0;
    const dirent* item = ::readdir(listing);
    if (item == nullptr) {
      if (errno != 0) {
        SetError(error, errno);
        ok = false;
      }
      break;
    }
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      SetError(error, errno);
      ok = false;
      break;
    }
    FolderItem listed;
    listed.name = name;
    listed.kind = KindOf(info.st_mode);
    if (listed.kind == ItemKind::File) listed.size = static_cast<uint64_t>(info.st_size);
    items.push_back(std::move(listed));
  }
  ::closedir(listing);  // closes fd as well
  return ok;
}

}  // namespace platform
