// POSIX side of the file layer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_handle_posix.h"
#include "platform/file_io.h"
#include "platform/folder_handle_posix.h"
#include "platform/interrupt.h"
#include "platform/system_message.h"

namespace platform {

void FileCloser::operator()(File* file) const noexcept {
  if (file != nullptr) {
    ::close(file->fd);
    delete file;
  }
}

namespace {

void SetError(std::string* error) {
  if (error != nullptr) *error = SystemMessage(errno);
}

}  // namespace

FilePtr OpenForRead(const std::string& path, std::string* error) {
  // Without blocking: a named pipe given as an archive would wait for a writer forever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    SetError(error);
    return nullptr;
  }
  // A folder opens fine on POSIX but is no archive: refuse it here as Windows does. A pipe,
  // socket or character device has no fixed bytes to read at a position.
  struct stat info {};
  std::string refused;
  if (::fstat(fd, &info) != 0) {
    refused = SystemMessage(errno);
  } else if (S_ISDIR(info.st_mode)) {
    refused = SystemMessage(EISDIR);
  } else if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
    refused = "not a regular file";
  } else if (::fcntl(fd, F_SETFL, 0) != 0) {  // reads wait for the disk as usual again
    refused = SystemMessage(errno);
  }
  if (refused.empty()) return FilePtr(new File{fd, info.st_dev, info.st_ino});
  if (error != nullptr) *error = refused;
  ::close(fd);
  return nullptr;
}

void FolderCloser::operator()(Folder* folder) const noexcept {
  if (folder != nullptr) {
    ::close(folder->fd);
    delete folder;
  }
}

namespace {

#ifdef O_PATH
constexpr int kFolderHandleFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderHandleFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
// O_NONBLOCK: a named pipe put where a file goes would otherwise hold the open forever.
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Paths are walked folder by folder, so the kernel never sees the whole path: one it would
// refuse whole is refused here the same way.
bool FitsLimit(const Folder& folder, const std::string& name, std::string* error) {
  if (folder.prefix.size() + name.size() <= kMaxPathLength) return true;
  if (error != nullptr) *error = SystemMessage(ENAMETOOLONG);
  return false;
}

std::string NotFollowed(const Folder& parent, const std::string& name) {
  return "\"" + parent.prefix + name + "\" is a symbolic link, not followed";
}

// Why something that is no regular file cannot take an entry's bytes.
std::string InTheWay(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder of that name is in the way";
  if (S_ISFIFO(mode)) return "a named pipe (FIFO) of that name is in the way";
  if (S_ISSOCK(mode)) return "a socket of that name is in the way";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device of that name is in the way";
  return "something of that name that is not a file is in the way";
}

FilePtr Failed(Creation& creation, std::string* error, const std::string& reason) {
  creation = Creation::Failed;
  if (error != nullptr) *error = reason;
  return nullptr;
}

FilePtr FailedWithErrno(Creation& creation, std::string* error) {
  return Failed(creation, error, SystemMessage(errno));
}

// A regular file stands where the entry goes, as one look by name found: it is opened as
// it is (never followed, never waited on) and emptied. Emptying fails on anything but a
// regular file, so something else put there since is never written; no second look.
FilePtr EmptyExistingFile(Folder& folder, const std::string& name, Creation& creation,
                          std::string* error) {
  const int fd =
      ::openat(folder.fd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return FailedWithErrno(creation, error);
  FilePtr file(new File{fd});
  if (::ftruncate(fd, 0) != 0) {
    if (errno == EINVAL) return Failed(creation, error, "it was replaced while being opened");
    return FailedWithErrno(creation, error);
  }
  creation = Creation::Made;
  return file;
}

// A link where the file goes: the link goes (never what it leads to), and a new file takes
// its place.
FilePtr ReplaceLink(Folder& folder, const std::string& name, Creation& creation,
                    std::string* error) {
  if (::unlinkat(folder.fd, name.c_str(), 0) != 0) return FailedWithErrno(creation, error);
  const int fd = ::openat(folder.fd, name.c_str(), kCreateFlags, 0666);
  if (fd < 0) return FailedWithErrno(creation, error);
  creation = Creation::Made;
  return FilePtr(new File{fd});
}

}  // namespace

FolderPtr OpenFolder(const std::string& path, std::string* error, bool* missing) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), kFolderHandleFlags);
  if (fd < 0) {
    if (missing != nullptr) *missing = errno == ENOENT;
    SetError(error);
    return nullptr;
  }
  const bool ends = !path.empty() && path.back() == '/';
  return FolderPtr(new Folder{fd, path.empty() || ends ? path : path + '/'});
}

FolderPtr OpenFolderIn(Folder& parent, const std::string& name, std::string* error, bool* missing) {
  if (!FitsLimit(parent, name, error)) return nullptr;
  const int fd = ::openat(parent.fd, name.c_str(), kFolderHandleFlags | O_NOFOLLOW);
  if (fd >= 0) return FolderPtr(new Folder{fd, parent.prefix + name + '/'});
  const int reason = errno;
  if (missing != nullptr) *missing = reason == ENOENT;
  struct stat there {};
  const bool link = (reason == ENOTDIR || reason == ELOOP) &&
                    ::fstatat(parent.fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISLNK(there.st_mode);
  if (error != nullptr) *error = link ? NotFollowed(parent, name) : SystemMessage(reason);
  return nullptr;
}

bool MakeFolderIn(Folder& parent, const std::string& name, std::string* error) {
  if (!FitsLimit(parent, name, error)) return false;
  if (::mkdirat(parent.fd, name.c_str(), 0777) == 0 || errno == EEXIST) return true;
  SetError(error);
  return false;
}

FilePtr CreateFileIn(Folder& folder, const std::string& name, const CreateRules& rules,
                     Creation& creation, std::string* error) {
  if (!FitsLimit(folder, name, error)) {
    creation = Creation::Failed;
    return nullptr;
  }
  // The common case, nothing there: this one call and no other.
  const int fd = ::openat(folder.fd, name.c_str(), kCreateFlags, 0666);
  if (fd >= 0) {
    creation = Creation::Made;
    return FilePtr(new File{fd});
  }
  if (errno != EEXIST) return FailedWithErrno(creation, error);
  struct stat there {};
  if (::fstatat(folder.fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
    return FailedWithErrno(creation, error);
  }
  if (S_ISDIR(there.st_mode)) return Failed(creation, error, InTheWay(there.st_mode));
  if (rules.keepExisting) {
    creation = Creation::Kept;
    return nullptr;
  }
  if (S_ISLNK(there.st_mode)) return ReplaceLink(folder, name, creation, error);
  if (!S_ISREG(there.st_mode)) return Failed(creation, error, InTheWay(there.st_mode));
  if (rules.keep != nullptr && there.st_dev == rules.keep->device &&
      there.st_ino == rules.keep->inode) {
    creation = Creation::IsKeepFile;
    return nullptr;
  }
  return EmptyExistingFile(folder, name, creation, error);
}

bool RemoveFileIn(Folder& folder, const std::string& name, std::string* error) {
  if (::unlinkat(folder.fd, name.c_str(), 0) == 0) return true;
  SetError(error);
  return false;
}

bool FileLength(File& file, uint64_t& length) {
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return false;
  length = static_cast<uint64_t>(info.st_size);
  return true;
}

size_t ReadAt(File& file, uint64_t position, void* buffer, size_t count) {
  size_t done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (done < count) {
    const ssize_t got =
        ::pread(file.fd, bytes + done, count - done, static_cast<off_t>(position + done));
    // An interrupt ends the read (the run stops); any other signal does not.
    if (got < 0 && errno == EINTR && !Interrupted()) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool WriteAll(File& file, const void* data, size_t count, std::string* error) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const ssize_t put = ::write(file.fd, bytes, count);
    if (put < 0 && errno == EINTR && !Interrupted()) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      SetError(error);
      return false;
    }
    bytes += put;
    count -= static_cast<size_t>(put);
  }
  return true;
}

bool StartOver(File& file, std::string* error) {
  if (::ftruncate(file.fd, 0) == 0 && ::lseek(file.fd, 0, SEEK_SET) == 0) return true;
  SetError(error);
  return false;
}

bool CreateFolder(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  const int reason = errno;
  if (reason == EEXIST && IsFolder(path)) return true;
  // "Exists" here means a file stands where the folder should be.
  if (error != nullptr) *error = SystemMessage(reason == EEXIST ? ENOTDIR : reason);
  return false;
}

bool FileSizeAt(const std::string& path, uint64_t& size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

PathKind KindAt(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::NotFolder;
  }
  if (errno == ENOTDIR) return PathKind::Missing;
  if (errno != ENOENT) return PathKind::Unknown;
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) ? PathKind::BrokenLink
                                                                    : PathKind::Missing;
}

}  // namespace platform
