// Deflating new entry data on several threads in bounded memory. Each file is cut into
// chunks of a fixed size; a chunk is deflated with the 32 KiB before it as its dictionary
// and ends on a byte boundary, so the chunks, one after the other between a zlib header and
// the Adler-32 of the whole, make one zlib stream. The chunks do not depend on the number
// of threads: the same files give the same bytes at any -j.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pack/source_tree.h"
#include "platform/file_io.h"

constexpr size_t kDeflateChunk = 128u << 10;

struct DeflateSource {
  size_t file = 0;  // into the SourceTree
  uint64_t size = 0;
  bool storeIfSmaller = false;  // a one-chunk file that deflates to more comes back stored
};

struct DeflatedChunk {
  std::vector<unsigned char> bytes;  // raw deflate data (or the file's bytes when stored)
  uint32_t adler = 1;                // Adler-32 of the chunk's input
  uint64_t inputLength = 0;
  bool stored = false;
  bool failed = false;  // the file could not be read: `error` says why
  std::string error;
};

// What a file that is not as it was listed is named with.
extern const char kChangedWhilePacked[];

// Whether an open file is still `size` bytes long, as listed: read to that size, one that
// grew meanwhile would go in cut short. Checked when a file is opened and read to its end.
bool EndsAsListed(platform::File& file, uint64_t size);

// Chunks a file of `size` bytes is cut into (one for an empty file).
uint64_t ChunksOf(uint64_t size);

// The two bytes zlib starts a stream of `level` with.
std::string ZlibHeader(int level);

struct DeflatePipeline;
struct DeflatePipelineStop {
  void operator()(DeflatePipeline* pipeline) const noexcept;  // waits for the threads
};
using DeflatePipelinePtr = std::unique_ptr<DeflatePipeline, DeflatePipelineStop>;

// Starts deflating `sources`, files of `tree`, in order, on `workers` threads. `interrupted`
// (optional) must be safe to call from any thread.
DeflatePipelinePtr StartDeflating(const SourceTree& tree, std::vector<DeflateSource> sources,
                                  int level, size_t workers, std::function<bool()> interrupted);

// The next chunk, in order of the sources and their chunks; waits for it. False once
// interrupted.
bool NextDeflatedChunk(DeflatePipeline& pipeline, DeflatedChunk& chunk);
