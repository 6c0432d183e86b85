// Win32 side of the file layer: pack's sources, its output and the replacing of a file.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/file_handle_win32.h"
#include "platform/folder_handle_win32.h"
#include "platform/system_message.h"
#include "platform/wide_path_win32.h"

namespace platform {

namespace {

void SetError(std::string* error, DWORD code) {
  if (error != nullptr) *error = SystemMessage(code);
}

OVERLAPPED At(uint64_t position) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(position);
  where.OffsetHigh = static_cast<DWORD>(position >> 32);
  return where;
}

FilePtr OpenRegularFile(const std::string& path, std::string* error) {
  // FILE_FLAG_OPEN_REPARSE_POINT: a link is opened as itself, and then refused.
  const HANDLE handle =
      ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetError(error, ::GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info) || ::GetFileType(handle) != FILE_TYPE_DISK ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    if (error != nullptr) *error = "not a regular file";
    ::CloseHandle(handle);
    return nullptr;
  }
  return FilePtr(new File{handle});
}

}  // namespace

// The folder is held open, so its name leads where it did when it was opened; the file in
// it is opened as itself, a link there refused.
FilePtr OpenRegularFileIn(Folder& folder, const std::string& name, std::string* error) {
  return OpenRegularFile(folder.prefix + name, error);
}

FilePtr ShareOpenFile(File& file, std::string* error) {
  HANDLE handle = nullptr;
  const HANDLE process = ::GetCurrentProcess();
  if (!::DuplicateHandle(process, file.handle, process, &handle, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    SetError(error, ::GetLastError());
    return nullptr;
  }
  return FilePtr(new File{handle});
}

FilePtr CreateHiddenFile(const std::string& folder, const std::string& forName, std::string& path,
                         std::string* error) {
  const std::string base =
      (folder.empty() ? std::string(".") : folder) + "\\." + forName.substr(0, 200) + ".";
  DWORD reason = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const unsigned long tag =
        (::GetCurrentProcessId() * 7919ul + ::GetTickCount() + attempt) % 1000000ul;
    const std::string candidate = base + std::to_string(tag) + ".tmp";
    const HANDLE handle =
        ::CreateFileW(WidePath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      path = candidate;
      return FilePtr(new File{handle});
    }
    reason = ::GetLastError();
    if (reason != ERROR_FILE_EXISTS && reason != ERROR_ALREADY_EXISTS) break;
  }
  SetError(error, reason);
  return nullptr;
}

bool WriteAt(File& file, uint64_t position, const void* data, size_t count, std::string* error) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    OVERLAPPED where = At(position);
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(count, 0x40000000u));
    DWORD put = 0;
    if (!::WriteFile(file.handle, bytes, ask, &put, &where) || put == 0) {
      const DWORD reason = ::GetLastError();
      SetError(error, reason == 0 ? ERROR_WRITE_FAULT : reason);
      return false;
    }
    bytes += put;
    position += put;
    count -= put;
  }
  return true;
}

bool CopyBetween(File& from, uint64_t fromPosition, File& to, uint64_t toPosition, uint64_t length,
                 std::string* error) {
  std::vector<unsigned char> buffer(static_cast<size_t>(std::min<uint64_t>(length, 1u << 20)));
  while (length > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
    if (ReadAt(from, fromPosition, buffer.data(), want) != want) {
      if (error != nullptr) *error = "file changed while read";
      return false;
    }
    if (!WriteAt(to, toPosition, buffer.data(), want, error)) return false;
    fromPosition += want;
    toPosition += want;
    length -= want;
  }
  return true;
}

bool SetFileLength(File& file, uint64_t length, std::string* error) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  if (::SetFilePointerEx(file.handle, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.handle)) {
    return true;
  }
  SetError(error, ::GetLastError());
  return false;
}

bool FlushToDisk(File& file, std::string* error) {
  if (::FlushFileBuffers(file.handle)) return true;
  SetError(error, ::GetLastError());
  return false;
}

bool PrepareToReplace(const std::string& temporary, const std::string&, std::string* error) {
  if (::SetFileAttributesW(WidePath(temporary).c_str(), FILE_ATTRIBUTE_NORMAL)) return true;
  SetError(error, ::GetLastError());
  return false;
}

bool RenameOver(const std::string& temporary, const std::string& path, std::string* error) {
  if (::MoveFileExW(WidePath(temporary).c_str(), WidePath(path).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  SetError(error, ::GetLastError());
  return false;
}

bool FlushFolder(const std::string&, std::string*) {
  return true;  // RenameOver's MOVEFILE_WRITE_THROUGH returns once the rename is on disk
}

bool RemoveTemporary(const std::string& path) {
  return ::DeleteFileW(WidePath(path).c_str()) != 0;
}

bool LinkTarget(const std::string&, std::string&) {
  return false;  // links to archives are a POSIX habit; Windows replaces what is named
}

namespace {

using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Vista and later resolve links and junctions from an open handle; looked up at run time so the
// exe still starts on XP, where the full path (which has no symbolic links to resolve) stands in.
DWORD FinalPath(const std::wstring& path, std::wstring& full) {
  static const auto finalPath = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  const HANDLE handle =
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  const DWORD length = finalPath != nullptr
                           ? finalPath(handle, &full[0], 32768, 0)
                           : ::GetFullPathNameW(path.c_str(), 32768, &full[0], nullptr);
  ::CloseHandle(handle);
  return length;
}

}  // namespace

bool ResolvedPath(const std::string& path, std::string& resolved) {
  std::wstring full(32768, L'\0');
  const DWORD length = FinalPath(WidePath(path), full);
  if (length == 0 || length >= 32768) return false;
  full.resize(length);
  ::CharLowerBuffW(&full[0], length);
  for (wchar_t& c : full) {
    if (c == L'/') c = L'\\';
  }
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, full.data(), static_cast<int>(full.size()),
                                          nullptr, 0, nullptr, nullptr);
  resolved.assign(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, full.data(), static_cast<int>(full.size()), &resolved[0], bytes,
                        nullptr, nullptr);
  return true;
}

}  // namespace platform
