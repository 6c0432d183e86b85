// Win32 side of the file layer. Paths arrive as ANSI text; they are converted with the
// ANSI code page and handed to the wide-character calls, so that output paths longer
// than MAX_PATH work through the "\\?\" prefix instead of failing silently.
#include <windows.h>

#include <string>

#include "platform/file_io.h"

namespace platform {

struct File {
  HANDLE handle;
};

void FileCloser::operator()(File* file) const noexcept {
  if (file != nullptr) {
    ::CloseHandle(file->handle);
    delete file;
  }
}

namespace {

void SetError(std::string* error, DWORD code) {
  if (error == nullptr) return;
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) {
    *error = "system error " + std::to_string(code);
  } else {
    error->assign(text, length);
    while (!error->empty() && (error->back() == '\n' || error->back() == '\r' ||
                               error->back() == ' ' || error->back() == '.')) {
      error->pop_back();
    }
  }
  if (text != nullptr) ::LocalFree(text);
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int count =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
  return wide;
}

// Short paths go to the system as they are. Long ones are made absolute and normalised
// (the "\\?\" form takes the path literally: no "/", no doubled separators) and prefixed.
std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD got = ::GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (got == 0 || got >= needed) return wide;
  full.resize(got);
  std::wstring collapsed;
  collapsed.reserve(full.size());
  for (size_t i = 0; i < full.size(); ++i) {
    // Keep the two leading backslashes of a UNC path; collapse every other doubled one.
    if (full[i] == L'\\' && i > 1 && !collapsed.empty() && collapsed.back() == L'\\') continue;
    collapsed.push_back(full[i]);
  }
  if (collapsed.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + collapsed.substr(2);
  return L"\\\\?\\" + collapsed;
}

}  // namespace

FilePtr OpenForRead(const std::string& path, std::string* error) {
  // Shared for reading only: no one, this process included, may write the file meanwhile.
  const HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetError(error, ::GetLastError());
    return nullptr;
  }
  return FilePtr(new File{handle});
}

namespace {

bool IsFileAt(File& file, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION open;
  if (!::GetFileInformationByHandle(file.handle, &open)) return false;
  // No access asked for: this opens even a file others hold without sharing.
  const HANDLE named = ::CreateFileW(SystemPath(path).c_str(), 0,
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

FilePtr CreateForWrite(const std::string& path, std::string* error, File* keep, bool* isKept) {
  // Files are read without write sharing (OpenForRead), so the system itself refuses to open
  // a kept file for writing; its identity is looked at only then, to say why.
  const HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD reason = ::GetLastError();
    SetError(error, reason);
    if (keep != nullptr && isKept != nullptr && reason == ERROR_SHARING_VIOLATION) {
      *isKept = IsFileAt(*keep, path);
    }
    return nullptr;
  }
  return FilePtr(new File{handle});
}

FilePtr CreateNewForWrite(const std::string& path, std::string* error, bool* exists) {
  const HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return FilePtr(new File{handle});
  const DWORD reason = ::GetLastError();
  // A folder of that name refuses the file with "access denied"; it is there all the same.
  if (reason == ERROR_FILE_EXISTS || reason == ERROR_ALREADY_EXISTS ||
      (reason == ERROR_ACCESS_DENIED && IsFolder(path))) {
    if (exists != nullptr) *exists = true;
  } else {
    SetError(error, reason);
  }
  return nullptr;
}

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
  if (::CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return true;
  const DWORD reason = ::GetLastError();
  if (reason == ERROR_ALREADY_EXISTS && IsFolder(path)) return true;
  // "Exists" here means a file stands where the folder should be.
  SetError(error, reason == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : reason);
  return false;
}

bool FileSizeAt(const std::string& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const std::string& path, std::string* error) {
  if (::DeleteFileW(SystemPath(path).c_str())) return true;
  SetError(error, ::GetLastError());
  return false;
}

PathKind KindAt(const std::string& path) {
  const std::wstring wide = SystemPath(path);
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

}  // namespace platform
