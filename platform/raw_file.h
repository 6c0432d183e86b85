// Files as `wza pack` uses them: sources opened without following links, a hidden
// temporary output written at given positions and renamed into place once whole, and
// ranges copied by the kernel where it can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_io.h"

namespace platform {

struct RawFile;  // defined by each implementation
struct RawFileCloser {
  void operator()(RawFile* file) const noexcept;
};
using RawFilePtr = std::unique_ptr<RawFile, RawFileCloser>;

// Opens a regular file for reading. A symbolic link at `path` is not followed unless
// `followLink`, and a FIFO or device is refused without waiting on it. Null on failure,
// reason in *error.
RawFilePtr OpenRegularFile(const std::string& path, std::string* error, bool followLink = false);

// Opens the regular file `name` (one component) inside `folder`, a link there not followed,
// a FIFO or device refused without waiting on it. Null on failure, reason in *error.
RawFilePtr OpenRegularFileIn(Folder& folder, const std::string& name, std::string* error);

struct File;  // file_io.h

// A second handle on the file `file` has open (never a file opened again by its name): what
// is read through it stays that file's bytes though another file be renamed over its
// name meanwhile. Null on failure, reason in *error.
RawFilePtr ShareOpenFile(File& file, std::string* error);

bool RawLength(RawFile& file, uint64_t& length);

// Reads up to `count` bytes at `position`; fewer only at the end or on an error.
size_t RawReadAt(RawFile& file, uint64_t position, void* buffer, size_t count);

// Creates a new, hidden file in `folder` whose name is made from `forName`
// (".NAME.XXXXXX", hidden on Windows too). Its path goes to `path`. Null on failure.
RawFilePtr CreateHiddenFile(const std::string& folder, const std::string& forName,
                            std::string& path, std::string* error);

bool RawWriteAt(RawFile& file, uint64_t position, const void* data, size_t count,
                std::string* error);

// Copies `length` bytes from one file to the other, by the kernel (copy_file_range) where
// it can, else through a buffer. False, reason in *error, on a failed read or write; a
// source shorter than asked gives "file changed while read".
bool CopyBetween(RawFile& from, uint64_t fromPosition, RawFile& to, uint64_t toPosition,
                 uint64_t length, std::string* error);

bool SetRawLength(RawFile& file, uint64_t length, std::string* error);

// Writes the file's data through to the disk.
bool FlushToDisk(RawFile& file, std::string* error);

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

// Whether two paths reach the same file (links, other spellings, hard links).
bool IsSameFile(const std::string& one, const std::string& other);

// The absolute path of an existing file or folder with every link resolved, in a form
// only meant for comparing (letters in one case on Windows); false when it cannot be had.
bool ResolvedPath(const std::string& path, std::string& resolved);

}  // namespace platform
