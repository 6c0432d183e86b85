// The thin file layer the core stands on: one open-file type for reading, writing,
// copying ranges and replacing a file whole. One implementation per platform
// (file_io_*.cpp, file_replace_*.cpp); nothing above this header knows which.
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
// with the system's reason in *error when given. Only a regular file (or on POSIX a block
// device) is opened: a named pipe or a device that would block or never end is refused.
FilePtr OpenForRead(const std::string& path, std::string* error = nullptr);

// Length of an open file in bytes; false if the system cannot tell.
bool FileLength(File& file, uint64_t& length);

// Reads up to `count` bytes at an absolute 64-bit position. Returns the bytes delivered,
// fewer only at the end of the file or on a read error.
size_t ReadAt(File& file, uint64_t position, void* buffer, size_t count);

// Writes `count` bytes at `position`. False on any failure, reason in *error.
bool WriteAt(File& file, uint64_t position, const void* data, size_t count,
             std::string* error = nullptr);

// Appends `count` bytes at the file's current end. False on any failure, reason in *error.
bool WriteAll(File& file, const void* data, size_t count, std::string* error = nullptr);

// Empties a file made by CreateFileIn, so that writing starts at its beginning again.
// False on failure, reason in *error.
bool StartOver(File& file, std::string* error = nullptr);

// Creates one folder, symbolic links in `path` followed: for the folders the user names.
// True when it was made or already exists as a folder; otherwise the system's reason in
// *error when given.
bool CreateFolder(const std::string& path, std::string* error = nullptr);

// Size of the file at `path`, without opening it for reading; false if it is not a file.
bool FileSizeAt(const std::string& path, uint64_t& size);

bool IsFolder(const std::string& path);

// Output goes into folders reached one at a time from the one the user chose. What the
// user named is theirs, links and all; below it nothing is ever followed, so no link or
// junction planted there sends a file elsewhere.
struct Folder;  // an open folder; defined by each implementation
struct FolderCloser {
  void operator()(Folder* folder) const noexcept;
};
using FolderPtr = std::unique_ptr<Folder, FolderCloser>;

// Opens the folder at `path`, links in it followed. Null on failure, reason in *error;
// *missing is set when nothing is there.
FolderPtr OpenFolder(const std::string& path, std::string* error = nullptr,
                     bool* missing = nullptr);

// Opens the folder `name` (one component) inside `parent`, never through a link. Null on
// failure, reason in *error (a link there is named as one); *missing is set when nothing
// is there.
FolderPtr OpenFolderIn(Folder& parent, const std::string& name, std::string* error = nullptr,
                       bool* missing = nullptr);

// Makes the folder `name` inside `parent`. True when made or when something of that name
// is there already (opening it tells what); otherwise the reason in *error.
bool MakeFolderIn(Folder& parent, const std::string& name, std::string* error = nullptr);

// Whether CreateFileIn made a file, and if not, why.
enum class Creation {
  Made,        // a new file, or a file that was there emptied or a link there replaced
  Kept,        // keepExisting, and something other than a folder is there: left alone
  IsKeepFile,  // what is there is the file `keep`, by whatever name: left alone
  Failed,      // reason in *error
};

struct CreateRules {
  bool keepExisting = false;  // never replace what is there
  File* keep = nullptr;       // never write this file (the archive being read)
};

// Creates the file `name` in `folder` for writing. Nothing there: one call makes it. A
// symbolic link there is replaced by the file (never written through); a file is emptied;
// a folder, a named pipe, a socket or a device is never opened and fails with a reason.
// Never opens anything that could block. Null unless *creation is Made.
FilePtr CreateFileIn(Folder& folder, const std::string& name, const CreateRules& rules,
                     Creation& creation, std::string* error = nullptr);

// Deletes the file `name` in `folder`. False on failure, reason in *error.
bool RemoveFileIn(Folder& folder, const std::string& name, std::string* error = nullptr);

enum class PathKind {
  Missing,     // nothing there (or a file stands where a folder on the way should be)
  Folder,      // a folder, or a link to one
  NotFolder,   // a file or anything else that is no folder
  BrokenLink,  // a symbolic link to something that does not exist
  Unknown,     // the system will not tell (no permission, a loop of links...)
};

// What stands at `path`, symbolic links followed.
PathKind KindAt(const std::string& path);

// Files as `wza pack` uses them: sources opened without following links, a hidden
// temporary output written at given positions and renamed into place once whole, and
// ranges copied by the kernel where it can.

// Opens the regular file `name` (one component) inside `folder`, a link there not followed,
// a FIFO or device refused without waiting on it. Null on failure, reason in *error.
FilePtr OpenRegularFileIn(Folder& folder, const std::string& name, std::string* error);

// A second handle on the file `file` has open (never a file opened again by its name): what
// is read through it stays that file's bytes though another file be renamed over its
// name meanwhile. Null on failure, reason in *error.
FilePtr ShareOpenFile(File& file, std::string* error);

// Creates a new, hidden file in `folder` whose name is made from `forName`
// (".NAME.XXXXXX", hidden on Windows too). Its path goes to `path`. Null on failure.
FilePtr CreateHiddenFile(const std::string& folder, const std::string& forName, std::string& path,
                         std::string* error);

// Copies `length` bytes from one file to the other, by the kernel (copy_file_range) where
// it can, else through a buffer. False, reason in *error, on a failed read or write; a
// source shorter than asked gives "file changed while read".
bool CopyBetween(File& from, uint64_t fromPosition, File& to, uint64_t toPosition, uint64_t length,
                 std::string* error);

bool SetFileLength(File& file, uint64_t length, std::string* error);

// Writes the file's data through to the disk.
bool FlushToDisk(File& file, std::string* error);

// Gives the file the permissions of the file at `model` (POSIX), and makes it visible
// (Windows), before it takes the model's place. Without a model: the usual ones.
bool PrepareToReplace(const std::string& temporary, const std::string& model, std::string* error);

// Gives `temporary` the name `path` in one step, replacing a file there.
bool RenameOver(const std::string& temporary, const std::string& path, std::string* error);

// Writes the folder's list of names through to the disk, so that a rename in it lasts
// through a power cut. True where the system has nothing more to do.
bool FlushFolder(const std::string& folder, std::string* error);

// Removes the temporary file at `path` (one this process made); false when it cannot.
bool RemoveTemporary(const std::string& path);

// Where a symbolic link at `path` finally leads (POSIX); false when `path` is no link.
bool LinkTarget(const std::string& path, std::string& target);

// The absolute path of an existing file or folder with every link resolved, in a form
// only meant for comparing (letters in one case on Windows); false when it cannot be had.
bool ResolvedPath(const std::string& path, std::string& resolved);

}  // namespace platform
