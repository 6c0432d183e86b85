// Win32 side of the file layer. Paths arrive as ANSI text; they are converted with the
// ANSI code page and handed to the wide-character calls, so that output paths longer
// than MAX_PATH work through the "\\?\" prefix instead of failing silently.
#include <windows.h>

#include <string>

#include "platform/file_handle_win32.h"
#include "platform/file_io.h"
#include "platform/folder_handle_win32.h"
#include "platform/system_message.h"
#include "platform/wide_path_win32.h"

namespace platform {

void FileCloser::operator()(File* file) const noexcept {
  if (file != nullptr) {
    ::CloseHandle(file->handle);
    delete file;
  }
}

namespace {

void SetError(std::string* error, DWORD code) {
  if (error != nullptr) *error = SystemMessage(code);
}

}  // namespace

FilePtr OpenForRead(const std::string& path, std::string* error) {
  // Shared for reading only: no one, this process included, may write the file meanwhile.
  const HANDLE handle = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetError(error, ::GetLastError());
    return nullptr;
  }
  // A pipe or a console has no fixed bytes to read at a position.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    if (error != nullptr) *error = "not a regular file";
    return nullptr;
  }
  return FilePtr(new File{handle});
}

void FolderCloser::operator()(Folder* folder) const noexcept {
  if (folder != nullptr) {
    ::CloseHandle(folder->handle);
    delete folder;
  }
}

namespace {

bool IsFileAt(File& file, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION open;
  if (!::GetFileInformationByHandle(file.handle, &open)) return false;
  // No access asked for: this opens even a file others hold without sharing.
  const HANDLE named = ::CreateFileW(WidePath(path).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION other;
  const bool known = ::GetFileInformationByHandle(named, &other) != 0;
  ::CloseHandle(named);
  return known && open.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         open.nFileIndexHigh == other.nFileIndexHigh && open.nFileIndexLow == other.nFileIndexLow;
}

}  // namespace

bool FileLength(File& file, uint64_t& length) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.handle, &size)) return false;
  length = static_cast<uint64_t>(size.QuadPart);
  return true;
}

size_t ReadAt(File& file, uint64_t position, void* buffer, size_t count) {
  size_t done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (done < count) {
    const uint64_t at = position + done;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const size_t left = count - done;
    const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!::ReadFile(file.handle, bytes + done, ask, &got, &where) || got == 0) break;
    done += got;
  }
  return done;
}

bool WriteAll(File& file, const void* data, size_t count, std::string* error) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const DWORD ask = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD put = 0;
    if (!::WriteFile(file.handle, bytes, ask, &put, nullptr) || put == 0) {
      SetError(error, put == 0 && ::GetLastError() == 0 ? ERROR_WRITE_FAULT : ::GetLastError());
      return false;
    }
    bytes += put;
    count -= put;
  }
  return true;
}

bool StartOver(File& file, std::string* error) {
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(file.handle, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.handle)) {
    return true;
  }
  SetError(error, ::GetLastError());
  return false;
}

bool CreateFolder(const std::string& path, std::string* error) {
  if (::CreateDirectoryW(WidePath(path).c_str(), nullptr)) return true;
  const DWORD reason = ::GetLastError();
  if (reason == ERROR_ALREADY_EXISTS && IsFolder(path)) return true;
  // "Exists" here means a file stands where the folder should be.
  SetError(error, reason == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : reason);
  return false;
}

bool FileSizeAt(const std::string& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

PathKind KindAt(const std::string& path) {
  const std::wstring wide = WidePath(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD reason = ::GetLastError();
    return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                            : PathKind::Unknown;
  }
  // The attributes are the link's own: whether it leads anywhere shows only on opening it.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const HANDLE target =
        ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
      const DWORD reason = ::GetLastError();
      return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND ? PathKind::BrokenLink
                                                                              : PathKind::Unknown;
    }
    ::CloseHandle(target);
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::NotFolder;
}

namespace {

bool IsMissing(DWORD reason) {
  return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND;
}

// What stands at a path, as the folder listing tells it: a link's own attributes, never
// its target's. INVALID_FILE_ATTRIBUTES when nothing is there.
struct Found {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  bool link = false;  // a symbolic link or junction: a reparse point standing for another name
};

Found FoundAt(const std::wstring& path) {
  Found found;
  WIN32_FIND_DATAW data;
  const HANDLE search = ::FindFirstFileW(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  ::FindClose(search);
  found.attributes = data.dwFileAttributes;
  // Cloud placeholders and deduplicated files are reparse points too, but stand for
  // themselves. Wine gives its links no tag at all.
  const DWORD tag = data.dwReserved0;
  found.link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
               (tag == 0 || IsReparseTagNameSurrogate(tag));
  return found;
}

// A folder held open. Below the destination it is held without delete sharing, so that no
// one can rename it away and put a link or junction in its place while entries go into it.
HANDLE HoldFolder(const std::wstring& path, bool follow) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (follow ? FILE_SHARE_DELETE : 0);
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, share, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

bool IsHeldFolder(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return ::GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HANDLE CreateNewFile(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

FilePtr Made(Creation& creation, HANDLE handle) {
  creation = Creation::Made;
  return FilePtr(new File{handle});
}

FilePtr Failed(Creation& creation, std::string* error, DWORD reason) {
  creation = Creation::Failed;
  SetError(error, reason);
  return nullptr;
}

// A link or junction where the file goes (or another reparse point, such as a cloud
// placeholder, that opening might pass through): it goes, never what it leads to, and a new
// file takes its place.
FilePtr ReplaceLink(const std::wstring& path, const Found& found, Creation& creation,
                    std::string* error) {
  const bool removed = (found.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                           ? ::RemoveDirectoryW(path.c_str()) != 0
                           : ::DeleteFileW(path.c_str()) != 0;
  if (!removed) return Failed(creation, error, ::GetLastError());
  const HANDLE handle = CreateNewFile(path);
  if (handle == INVALID_HANDLE_VALUE) return Failed(creation, error, ::GetLastError());
  return Made(creation, handle);
}

// A file where the entry goes: opened as it is, never through a link, and emptied.
FilePtr EmptyExistingFile(const std::string& path, const std::wstring& system,
                          const CreateRules& rules, Creation& creation, std::string* error) {
  // Files are read without write sharing (OpenForRead), so the system itself refuses to open
  // the archive for writing; its identity is looked at only then, to say why.
  const HANDLE handle = ::CreateFileW(system.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD reason = ::GetLastError();
    if (rules.keep != nullptr && reason == ERROR_SHARING_VIOLATION && IsFileAt(*rules.keep, path)) {
      creation = Creation::IsKeepFile;
      return nullptr;
    }
    return Failed(creation, error, reason);
  }
  FilePtr file = Made(creation, handle);
  if (StartOver(*file, error)) return file;
  creation = Creation::Failed;
  return nullptr;
}

}  // namespace

FolderPtr OpenFolder(const std::string& path, std::string* error, bool* missing) {
  const std::string named = path.empty() ? "." : path;
  const HANDLE handle = HoldFolder(WidePath(named), true);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD reason = ::GetLastError();
    if (missing != nullptr) *missing = IsMissing(reason);
    SetError(error, reason);
    return nullptr;
  }
  if (!IsHeldFolder(handle)) {
    ::CloseHandle(handle);
    SetError(error, ERROR_DIRECTORY);
    return nullptr;
  }
  const bool ends = IsPathSeparator(named.back());
  return FolderPtr(new Folder{handle, ends ? named : named + kPathSeparator});
}

FolderPtr OpenFolderIn(Folder& parent, const std::string& name, std::string* error, bool* missing) {
  const std::string path = parent.prefix + name;
  const std::wstring system = WidePath(path);
  const HANDLE handle = HoldFolder(system, false);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD reason = ::GetLastError();
    if (missing != nullptr) *missing = IsMissing(reason);
    SetError(error, reason);
    return nullptr;
  }
  // Held, so the name stays where it is while it is looked at. Wine shows a link only in
  // what is found by name, not in what the handle tells.
  if (FoundAt(system).link) {
    ::CloseHandle(handle);
    if (error != nullptr) *error = "\"" + path + "\" is a symbolic link or junction, not followed";
    return nullptr;
  }
  if (!IsHeldFolder(handle)) {
    ::CloseHandle(handle);
    SetError(error, ERROR_DIRECTORY);  // a file stands where the folder should be
    return nullptr;
  }
  return FolderPtr(new Folder{handle, path + kPathSeparator});
}

bool MakeFolderIn(Folder& parent, const std::string& name, std::string* error) {
  if (::CreateDirectoryW(WidePath(parent.prefix + name).c_str(), nullptr)) return true;
  const DWORD reason = ::GetLastError();
  if (reason == ERROR_ALREADY_EXISTS) return true;
  SetError(error, reason);
  return false;
}

FilePtr CreateFileIn(Folder& folder, const std::string& name, const CreateRules& rules,
                     Creation& creation, std::string* error) {
  const std::string path = folder.prefix + name;
  const std::wstring system = WidePath(path);
  // The common case, nothing there: this one call.
  const HANDLE handle = CreateNewFile(system);
  if (handle != INVALID_HANDLE_VALUE) return Made(creation, handle);
  const DWORD reason = ::GetLastError();
  const Found found = FoundAt(system);
  if (found.attributes == INVALID_FILE_ATTRIBUTES) return Failed(creation, error, reason);
  if (found.link || (found.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (rules.keepExisting) {
      creation = Creation::Kept;
      return nullptr;
    }
    if ((found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return ReplaceLink(system, found, creation, error);
    }
    return EmptyExistingFile(path, system, rules, creation, error);
  }
  creation = Creation::Failed;
  if (error != nullptr) *error = "a folder of that name is in the way";
  return nullptr;
}

bool RemoveFileIn(Folder& folder, const std::string& name, std::string* error) {
  if (::DeleteFileW(WidePath(folder.prefix + name).c_str())) return true;
  SetError(error, ::GetLastError());
  return false;
}

}  // namespace platform
