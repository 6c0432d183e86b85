// The file layer over byte buffers (memory_file.h). Reading works as on a disk; whatever
// would write or make folders fails with a reason, so extraction reports every entry as
// not created rather than writing anywhere.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/file_io.h"
#include "platform/memory_file.h"

namespace platform {

struct File {
  const unsigned char* data;
  size_t size;
};

struct Folder {};

void FileCloser::operator()(File* file) const noexcept {
  delete file;
}

void FolderCloser::operator()(Folder* folder) const noexcept {
  delete folder;
}

namespace {

struct MemoryFiles {
  std::mutex mutex;
  std::map<std::string, File> files;
};

MemoryFiles& Files() {
  static MemoryFiles files;
  return files;
}

const char kNoDisk[] = "files are held in memory only";

bool Refuse(std::string* error) {
  if (error != nullptr) *error = kNoDisk;
  return false;
}

}  // namespace

void SetMemoryFile(const std::string& path, const void* data, size_t size) {
  MemoryFiles& files = Files();
  std::lock_guard<std::mutex> lock(files.mutex);
  files.files[path] = File{static_cast<const unsigned char*>(data), size};
}

FilePtr OpenForRead(const std::string& path, std::string* error) {
  MemoryFiles& files = Files();
  std::lock_guard<std::mutex> lock(files.mutex);
  const auto found = files.files.find(path);
  if (found == files.files.end()) {
    if (error != nullptr) *error = "No such file or directory";
    return nullptr;
  }
  return FilePtr(new File(found->second));
}

bool FileLength(File& file, uint64_t& length) {
  length = file.size;
  return true;
}

size_t ReadAt(File& file, uint64_t position, void* buffer, size_t count) {
  if (position >= file.size) return 0;
  const size_t length = static_cast<size_t>(std::min<uint64_t>(count, file.size - position));
  std::memcpy(buffer, file.data + position, length);
  return length;
}

bool WriteAll(File&, const void*, size_t, std::string* error) {
  return Refuse(error);
}

bool StartOver(File&, std::string* error) {
  return Refuse(error);
}

bool CreateFolder(const std::string&, std::string* error) {
  return Refuse(error);
}

bool FileSizeAt(const std::string& path, uint64_t& size) {
  MemoryFiles& files = Files();
  std::lock_guard<std::mutex> lock(files.mutex);
  const auto found = files.files.find(path);
  if (found == files.files.end()) return false;
  size = found->second.size;
  return true;
}

bool IsFolder(const std::string&) {
  return false;
}

FolderPtr OpenFolder(const std::string&, std::string* error, bool* missing) {
  if (missing != nullptr) *missing = false;
  Refuse(error);
  return nullptr;
}

FolderPtr OpenFolderIn(Folder&, const std::string&, std::string* error, bool* missing) {
  return OpenFolder("", error, missing);
}

bool MakeFolderIn(Folder&, const std::string&, std::string* error) {
  return Refuse(error);
}

FilePtr CreateFileIn(Folder&, const std::string&, const CreateRules&, Creation& creation,
                     std::string* error) {
  creation = Creation::Failed;
  Refuse(error);
  return nullptr;
}

bool RemoveFileIn(Folder&, const std::string&, std::string* error) {
  return Refuse(error);
}

PathKind KindAt(const std::string& path) {
  uint64_t size = 0;
  return FileSizeAt(path, size) ? PathKind::NotFolder : PathKind::Missing;
}

}  // namespace platform
