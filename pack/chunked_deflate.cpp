#include "pack/chunked_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/file_io.h"

namespace {

constexpr size_t kDictionary = 32u << 10;

struct Task {
  size_t source = 0;
  uint64_t chunk = 0;
};

struct Slot {
  DeflatedChunk chunk;
  bool ready = false;
};

}  // namespace

struct DeflatePipeline {
  const SourceTree* tree = nullptr;
  std::vector<DeflateSource> sources;
  std::vector<Task> tasks;
  int level = 6;
  std::function<bool()> interrupted;
  std::mutex lock;
  std::condition_variable taskFree;   // a slot was given back, or the end
  std::condition_variable chunkReady;
  std::vector<Slot> slots;  // a ring: task i lands in slots[i % size]
  size_t nextTake = 0;
  size_t nextGive = 0;
  bool stopping = false;
  std::vector<std::thread> threads;
};

namespace {

// What each thread keeps from chunk to chunk: its stream, its buffer, the file it reads.
struct Worker {
  z_stream stream{};
  bool started = false;
  std::vector<unsigned char> input;
  size_t source = static_cast<size_t>(-1);  // the tree's file open in `file`
  SourceReader reader;
  platform::FilePtr file;

  ~Worker() {
    if (started) deflateEnd(&stream);
  }
};

void Fail(DeflatedChunk& chunk, const std::string& why) {
  chunk.failed = true;
  chunk.error = why;
  chunk.bytes.clear();
}

bool ReadInput(Worker& worker, const SourceTree& tree, const DeflateSource& source, uint64_t from,
               size_t length, DeflatedChunk& chunk) {
  if (worker.source != source.file || !worker.file) {
    worker.file.reset();
    worker.source = source.file;
    std::string error;
    worker.file = OpenSourceFile(tree, source.file, worker.reader, &error);
    if (!worker.file) {
      Fail(chunk, error);
      return false;
    }
  }
  worker.input.resize(length);
  if (length > 0 && platform::ReadAt(*worker.file, from, worker.input.data(), length) != length) {
    Fail(chunk, "file changed or could not be read while packed");
    return false;
  }
  if (from + length == source.size && !EndsAsListed(*worker.file, source.size)) {
    Fail(chunk, kChangedWhilePacked);
    return false;
  }
  return true;
}

void DeflateTask(Worker& worker, const SourceTree& tree, const DeflateSource& source,
                 uint64_t index, int level, DeflatedChunk& chunk) {
  const uint64_t offset = index * kDeflateChunk;
  const size_t length = static_cast<size_t>(std::min<uint64_t>(kDeflateChunk, source.size - offset));
  const size_t dictionary = static_cast<size_t>(std::min<uint64_t>(kDictionary, offset));
  if (!ReadInput(worker, tree, source, offset - dictionary, dictionary + length, chunk)) return;
  if (!worker.started) {
    if (deflateInit2(&worker.stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      Fail(chunk, "out of memory");
      return;
    }
    worker.started = true;
  }
  z_stream& stream = worker.stream;
  deflateReset(&stream);
  unsigned char* in = worker.input.data();
  if (dictionary > 0) deflateSetDictionary(&stream, in, static_cast<uInt>(dictionary));
  const bool last = offset + length >= source.size;
  chunk.bytes.resize(deflateBound(&stream, static_cast<uLong>(length)) + 16);
  stream.next_in = in + dictionary;
  stream.avail_in = static_cast<uInt>(length);
  size_t produced = 0;
  for (;;) {
    stream.next_out = chunk.bytes.data() + produced;
    stream.avail_out = static_cast<uInt>(chunk.bytes.size() - produced);
    const int code = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    produced = chunk.bytes.size() - stream.avail_out;
    if (last ? code == Z_STREAM_END : (stream.avail_in == 0 && stream.avail_out > 0)) break;
    if (code == Z_STREAM_ERROR) {
      Fail(chunk, "deflate failed");
      return;
    }
    chunk.bytes.resize(chunk.bytes.size() * 2);
  }
  chunk.bytes.resize(produced);
  chunk.inputLength = length;
  chunk.adler = static_cast<uint32_t>(adler32(1, in + dictionary, static_cast<uInt>(length)));
  // Header and trailer are six bytes: a file stored whole is smaller unless it shrinks by more.
  if (source.storeIfSmaller && offset == 0 && last && length < produced + 6) {
    chunk.bytes.assign(in, in + length);
    chunk.stored = true;
  }
}

void RunDeflateThread(DeflatePipeline& pipeline) {
  Worker worker;
  std::unique_lock<std::mutex> hold(pipeline.lock);
  for (;;) {
    pipeline.taskFree.wait(hold, [&] {
      return pipeline.stopping || (pipeline.nextTake < pipeline.tasks.size() &&
                                   pipeline.nextTake < pipeline.nextGive + pipeline.slots.size());
    });
    if (pipeline.stopping) return;
    const size_t index = pipeline.nextTake++;
    const Task task = pipeline.tasks[index];
    hold.unlock();
    DeflatedChunk chunk;
    if (pipeline.interrupted && pipeline.interrupted()) {
      Fail(chunk, "interrupted");
    } else {
      try {
        DeflateTask(worker, *pipeline.tree, pipeline.sources[task.source], task.chunk,
                    pipeline.level, chunk);
      } catch (const std::bad_alloc&) {
        Fail(chunk, "out of memory");
      }
    }
    hold.lock();
    Slot& slot = pipeline.slots[index % pipeline.slots.size()];
    slot.chunk = std::move(chunk);
    slot.ready = true;
    pipeline.chunkReady.notify_all();
  }
}

}  // namespace

const char kChangedWhilePacked[] = "file changed while packed";

bool EndsAsListed(platform::File& file, uint64_t size) {
  uint64_t now = 0;
  return platform::FileLength(file, now) && now == size;
}

uint64_t ChunksOf(uint64_t size) {
  return size == 0 ? 1 : (size + kDeflateChunk - 1) / kDeflateChunk;
}

std::string ZlibHeader(int level) {
  const unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (flags << 6);
  header += 31 - header % 31;
  return std::string{static_cast<char>(header >> 8), static_cast<char>(header & 0xFF)};
}

void DeflatePipelineStop::operator()(DeflatePipeline* pipeline) const noexcept {
  {
    const std::lock_guard<std::mutex> hold(pipeline->lock);
    pipeline->stopping = true;
  }
  pipeline->taskFree.notify_all();
  for (std::thread& thread : pipeline->threads) thread.join();
  delete pipeline;
}

DeflatePipelinePtr StartDeflating(const SourceTree& tree, std::vector<DeflateSource> sources,
                                  int level, size_t workers, std::function<bool()> interrupted) {
  DeflatePipelinePtr pipeline(new DeflatePipeline);
  pipeline->tree = &tree;
  pipeline->sources = std::move(sources);
  pipeline->level = level;
  pipeline->interrupted = std::move(interrupted);
  for (size_t s = 0; s < pipeline->sources.size(); ++s) {
    const uint64_t chunks = ChunksOf(pipeline->sources[s].size);
    for (uint64_t c = 0; c < chunks; ++c) pipeline->tasks.push_back({s, c});
  }
  workers = std::max<size_t>(workers, 1);
  // Chunks under way or waiting to be written: one per thread and a few to spare.
  pipeline->slots.resize(workers + 4);
  for (size_t i = 0; i < workers && !pipeline->tasks.empty(); ++i) {
    try {
      pipeline->threads.emplace_back(RunDeflateThread, std::ref(*pipeline));
    } catch (const std::system_error&) {
      if (i == 0) throw;
      break;
    }
  }
  return pipeline;
}

bool NextDeflatedChunk(DeflatePipeline& pipeline, DeflatedChunk& chunk) {
  std::unique_lock<std::mutex> hold(pipeline.lock);
  Slot& slot = pipeline.slots[pipeline.nextGive % pipeline.slots.size()];
  while (!slot.ready) {
    if (pipeline.interrupted && pipeline.interrupted()) return false;
    pipeline.chunkReady.wait_for(hold, std::chrono::milliseconds(50));
  }
  chunk = std::move(slot.chunk);
  slot.ready = false;
  ++pipeline.nextGive;
  pipeline.taskFree.notify_all();
  return true;
}
