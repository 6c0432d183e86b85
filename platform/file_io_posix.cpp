// POSIX side of the file layer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"

namespace platform {

struct File {
  int fd;
};

void FileCloser::operator()(File* file) const noexcept {
  if (file != nullptr) {
    ::close(file->fd);
    delete file;
  }
}

namespace {

// strerror_r comes in two forms, GNU's returning the text and POSIX's filling the buffer;
// unlike strerror, both may be called by threads failing at the same time.
[[maybe_unused]] std::string MessageOf(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] std::string MessageOf(const char* text, const char*) {
  return text;
}

std::string SystemMessage(int code) {
  char buffer[256] = "";
  return MessageOf(::strerror_r(code, buffer, sizeof buffer), buffer);
}

void SetError(std::string* error) {
  if (error != nullptr) *error = SystemMessage(errno);
}

}  // namespace

FilePtr OpenForRead(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error);
    return nullptr;
  }
  // A folder opens fine on POSIX but is no archive: refuse it here as Windows does.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    if (error != nullptr) *error = SystemMessage(EISDIR);
    ::close(fd);
    return nullptr;
  }
  return FilePtr(new File{fd});
}

namespace {

bool SameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

bool IsFileAt(File& file, const std::string& path) {
  struct stat open {};
  struct stat named {};
  return ::fstat(file.fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && SameFile(open, named);
}

#ifdef O_PATH
constexpr int kFolderHandleFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderHandleFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The folder the last file was created in, held open. Entries come folder by folder, and
// opening by a deep path makes the kernel walk every level again for each file; opening
// relative to the held folder walks none. One per thread, so workers never share it.
struct HeldFolder {
  std::string path;
  int fd = -1;
  ~HeldFolder() {
    if (fd >= 0) ::close(fd);
  }
};

int OpenForWriting(const std::string& path, int flags) {
  thread_local HeldFolder held;
  const size_t cut = path.rfind('/');
  // A path the system would refuse whole is refused the same way, not made relative.
  if (cut == std::string::npos || cut == 0 || path.size() > kMaxPathLength) {
    return ::open(path.c_str(), flags, 0666);
  }
  if (held.fd < 0 || held.path.size() != cut || path.compare(0, cut, held.path) != 0) {
    const int fd = ::open(path.substr(0, cut).c_str(), kFolderHandleFlags);
    // Opening by the whole path then gives the caller the system's own reason.
    if (fd < 0) return ::open(path.c_str(), flags, 0666);
    if (held.fd >= 0) ::close(held.fd);
    held.fd = fd;
    held.path.assign(path, 0, cut);
  }
  return ::openat(held.fd, path.c_str() + cut + 1, flags, 0666);
}

}  // namespace

FilePtr CreateForWrite(const std::string& path, std::string* error, File* keep, bool* isKept) {
  // With a file to keep, the file is opened as it is, compared, and only then cut to
  // nothing: one walk along the path, and no moment between the check and the open.
  const int truncate = keep == nullptr ? O_TRUNC : 0;
  const int fd = OpenForWriting(path, O_WRONLY | O_CREAT | O_CLOEXEC | truncate);
  if (fd < 0) {
    SetError(error);
    // A write-protected file refuses the open itself; the reason is still that it is kept.
    if (keep != nullptr && isKept != nullptr) *isKept = IsFileAt(*keep, path);
    return nullptr;
  }
  FilePtr file(new File{fd});
  if (keep == nullptr) return file;
  struct stat made {};
  struct stat kept {};
  if (::fstat(fd, &made) != 0 || ::fstat(keep->fd, &kept) != 0) {
    SetError(error);
    return nullptr;
  }
  if (SameFile(made, kept)) {
    if (isKept != nullptr) *isKept = true;
    return nullptr;
  }
  if (made.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    SetError(error);
    return nullptr;
  }
  return file;
}

FilePtr CreateNewForWrite(const std::string& path, std::string* error, bool* exists) {
  const int fd = OpenForWriting(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
  if (fd >= 0) return FilePtr(new File{fd});
  if (errno == EEXIST) {
    if (exists != nullptr) *exists = true;
  } else {
    SetError(error);
  }
  return nullptr;
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
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

bool WriteAll(File& file, const void* data, size_t count, std::string* error) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const ssize_t put = ::write(file.fd, bytes, count);
    if (put < 0 && errno == EINTR) continue;
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

bool RemoveFile(const std::string& path, std::string* error) {
  if (::unlink(path.c_str()) == 0) return true;
  SetError(error);
  return false;
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
