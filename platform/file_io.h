// The thin file layer the core stands on. One implementation per platform
// (file_io_posix.cpp, file_io_win32.cpp); nothing above this header knows which.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Separator the platform's own paths use; archive names are rewritten to it.
// kPathSeparators: what separates folders in a path the user gives (an archive, the
// destination); kFileNameCuts: what may stand just before the file name in one. Entry
// names inside an archive keep their own rule: "\" and "/" both separate, everywhere.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr const char* kPathSeparators = "\\/";
constexpr const char* kFileNameCuts = "\\/:";  // "D:Data.big" names Data.big as well
constexpr size_t kMaxPathLength = 32767;       // with the "\\?\" prefix
constexpr bool kNamesIgnoreCase = true;        // "Data.big" and "DATA.BIG" are one file
#else
constexpr char kPathSeparator = '/';
constexpr const char* kPathSeparators = "/";
constexpr const char* kFileNameCuts = "/";
constexpr size_t kMaxPathLength = 4095;  // PATH_MAX less its NUL, on Linux
constexpr bool kNamesIgnoreCase = false;
#endif

// Whether `c` separates folders in a path of the platform's form (output paths, whose
// entry names were converted first, and the paths the user gives).
inline bool IsPathSeparator(char c) {
  return c == '/' || c == kPathSeparator;
}

struct File;  // an open file; defined by each implementation
struct FileCloser {
  void operator()(File* file) const noexcept;
};
using FilePtr = std::unique_ptr<File, FileCloser>;

// Opens an existing file for reading, shared for reading by others. Null on failure,
// with the system's reason in *error when given.
FilePtr OpenForRead(const std::string& path, std::string* error = nullptr);

// Creates or truncates a file for writing. Null on failure, reason in *error.
// Never the file `keep` (when given), by whatever name `path` reaches it: another
// spelling, a hard or symbolic link (the same device and inode; on Windows the same volume
// and file index). That one is left as it is, and *isKept is set.
FilePtr CreateForWrite(const std::string& path, std::string* error = nullptr, File* keep = nullptr,
                       bool* isKept = nullptr);

// Creates a file for writing only where there is none: never opens, truncates or follows
// what is there (a file, a folder, a link). Null on failure; when something is there,
// *exists is set and *error is left alone.
FilePtr CreateNewForWrite(const std::string& path, std::string* error = nullptr,
                          bool* exists = nullptr);

// Length of an open file in bytes; false if the system cannot tell.
bool FileLength(File& file, uint64_t& length);

// Reads up to `count` bytes at an absolute 64-bit position. Returns the bytes delivered,
// fewer only at the end of the file or on a read error.
size_t ReadAt(File& file, uint64_t position, void* buffer, size_t count);

// Appends `count` bytes at the file's current end. False on any failure, reason in *error.
bool WriteAll(File& file, const void* data, size_t count, std::string* error = nullptr);

// Empties a file made by CreateForWrite, so that writing starts at its beginning again.
// False on failure, reason in *error.
bool StartOver(File& file, std::string* error = nullptr);

// Creates one folder. True when it was made or already exists as a folder; otherwise
// the system's reason in *error when given.
bool CreateFolder(const std::string& path, std::string* error = nullptr);

// Size of the file at `path`, without opening it for reading; false if it is not a file.
bool FileSizeAt(const std::string& path, uint64_t& size);

bool IsFolder(const std::string& path);

// Deletes a file. False on failure, reason in *error.
bool RemoveFile(const std::string& path, std::string* error = nullptr);

enum class PathKind {
  Missing,     // nothing there (or a file stands where a folder on the way should be)
  Folder,      // a folder, or a link to one
  NotFolder,   // a file or anything else that is no folder
  BrokenLink,  // a symbolic link to something that does not exist
  Unknown,     // the system will not tell (no permission, a loop of links...)
};

// What stands at `path`, symbolic links followed.
PathKind KindAt(const std::string& path);

}  // namespace platform
