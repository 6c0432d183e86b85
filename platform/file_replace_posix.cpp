// POSIX side of the file layer: pack's sources, its output and the replacing of a file.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/file_handle_posix.h"
#include "platform/folder_handle_posix.h"
#include "platform/system_message.h"

namespace platform {

namespace {

void SetError(std::string* error, int code) {
  if (error != nullptr) *error = SystemMessage(code);
}

// Pieces the kernel is asked to copy at a time: large enough to cost few calls, small
// enough that an interrupt is seen soon after it comes.
constexpr uint64_t kKernelCopyPiece = 64u << 20;
constexpr size_t kCopyBuffer = 1u << 20;

bool CopyThroughBuffer(File& from, uint64_t fromPosition, File& to, uint64_t toPosition,
                       uint64_t length, std::string* error) {
  std::vector<unsigned char> buffer(static_cast<size_t>(std::min<uint64_t>(length, kCopyBuffer)));
  while (length > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
    const size_t got = ReadAt(from, fromPosition, buffer.data(), want);
    if (got < want) {
      if (error != nullptr) *error = "file changed while read";
      return false;
    }
    if (!WriteAt(to, toPosition, buffer.data(), got, error)) return false;
    fromPosition += got;
    toPosition += got;
    length -= got;
  }
  return true;
}

// O_NONBLOCK: a FIFO put there in the meantime must not hold the open.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

// The file just opened as `fd`, if it is a regular one.
FilePtr RegularOnly(int fd, std::string* error) {
  if (fd < 0) {
    SetError(error, errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (error != nullptr) *error = "not a regular file";
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return FilePtr(new File{fd});
}

}  // namespace

FilePtr OpenRegularFileIn(Folder& folder, const std::string& name, std::string* error) {
  return RegularOnly(::openat(folder.fd, name.c_str(), kReadFlags | O_NOFOLLOW), error);
}

FilePtr ShareOpenFile(File& file, std::string* error) {
  const int fd = ::fcntl(file.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    SetError(error, errno);
    return nullptr;
  }
  return FilePtr(new File{fd});
}

FilePtr CreateHiddenFile(const std::string& folder, const std::string& forName, std::string& path,
                         std::string* error) {
  // Room for the dot and the suffix within the 255 bytes a name may have.
  std::string name = "." + forName.substr(0, 200) + ".XXXXXX";
  std::string pattern = (folder.empty() ? std::string(".") : folder) + "/" + name;
  const int fd = ::mkostemp(&pattern[0], O_CLOEXEC);
  if (fd < 0) {
    SetError(error, errno);
    return nullptr;
  }
  path = pattern;
  return FilePtr(new File{fd});
}

bool WriteAt(File& file, uint64_t position, const void* data, size_t count, std::string* error) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const ssize_t put = ::pwrite(file.fd, bytes, count, static_cast<off_t>(position));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      SetError(error, put == 0 ? EIO : errno);
      return false;
    }
    bytes += put;
    position += static_cast<uint64_t>(put);
    count -= static_cast<size_t>(put);
  }
  return true;
}

bool CopyBetween(File& from, uint64_t fromPosition, File& to, uint64_t toPosition, uint64_t length,
                 std::string* error) {
#ifdef __linux__
  while (length > 0) {
    auto in = static_cast<off64_t>(fromPosition);
    auto out = static_cast<off64_t>(toPosition);
    const size_t want = static_cast<size_t>(std::min(length, kKernelCopyPiece));
    const ssize_t copied = ::copy_file_range(from.fd, &in, to.fd, &out, want, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0) {
      const int reason = errno;
      // Not across these file systems, or not by this kernel: the buffer does it.
      if (reason == EXDEV || reason == EINVAL || reason == ENOSYS || reason == EOPNOTSUPP ||
          reason == EBADF || reason == EPERM) {
        return CopyThroughBuffer(from, fromPosition, to, toPosition, length, error);
      }
      SetError(error, reason);
      return false;
    }
    if (copied == 0) {
      if (error != nullptr) *error = "file changed while read";
      return false;
    }
    fromPosition += static_cast<uint64_t>(copied);
    toPosition += static_cast<uint64_t>(copied);
    length -= static_cast<uint64_t>(copied);
  }
  return true;
#else
  return CopyThroughBuffer(from, fromPosition, to, toPosition, length, error);
#endif
}

bool SetFileLength(File& file, uint64_t length, std::string* error) {
  if (::ftruncate(file.fd, static_cast<off_t>(length)) == 0) return true;
  SetError(error, errno);
  return false;
}

bool FlushToDisk(File& file, std::string* error) {
  if (::fsync(file.fd) == 0) return true;
  SetError(error, errno);
  return false;
}

bool PrepareToReplace(const std::string& temporary, const std::string& model, std::string* error) {
  struct stat info {};
  mode_t mode = 0;
  if (!model.empty() && ::stat(model.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
  } else {
    // mkostemp made it 0600: what a new file gets, the umask taken off.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::chmod(temporary.c_str(), mode) == 0) return true;
  SetError(error, errno);
  return false;
}

bool RenameOver(const std::string& temporary, const std::string& path, std::string* error) {
  if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
  SetError(error, errno);
  return false;
}

bool FlushFolder(const std::string& folder, std::string* error) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, errno);
    return false;
  }
  // EINVAL: a file system that cannot flush a folder (some FUSE ones); nothing more to do.
  const bool flushed = ::fsync(fd) == 0 || errno == EINVAL;
  if (!flushed) SetError(error, errno);
  ::close(fd);
  return flushed;
}

bool RemoveTemporary(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool LinkTarget(const std::string& path, std::string& target) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && ResolvedPath(path, target);
}

bool ResolvedPath(const std::string& path, std::string& resolved) {
  char* full = ::realpath(path.c_str(), nullptr);
  if (full == nullptr) return false;
  resolved = full;
  ::free(full);
  return true;
}

}  // namespace platform
