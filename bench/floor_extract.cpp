// The floor `wza extract` is measured against: the least work that writes the same files.
// It takes the entries from the generator's manifest (no catalogue, no name checks), makes
// every folder once up front, then for each entry reads, inflates and writes it through
// 1 MiB blocks with one reused inflate stream. Blocks, not whole entries: an entry of tens
// of MB inflated into one buffer leaves the caches and is slower, so that would be no floor.
//
//   wza_bench_floor ARCHIVE MANIFEST DEST
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

struct Entry {
  bool compressed = false;
  uint64_t position = 0;
  uint32_t storedSize = 0;
  uint32_t size = 0;
  std::string path;
};

bool ReadManifest(const char* path, std::vector<Entry>& entries) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return false;
  int compressed = 0;
  Entry entry;
  char name[4096];
  while (std::fscanf(file, "%d %" SCNu64 " %" SCNu32 " %" SCNu32 " %4095s", &compressed,
                     &entry.position, &entry.storedSize, &entry.size, name) == 5) {
    entry.compressed = compressed != 0;
    entry.path = name;
    entries.push_back(entry);
  }
  std::fclose(file);
  return !entries.empty();
}

bool WriteAll(int fd, const unsigned char* data, size_t length) {
  while (length > 0) {
    const ssize_t put = ::write(fd, data, length);
    if (put <= 0) return false;
    data += put;
    length -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: wza_bench_floor ARCHIVE MANIFEST DEST\n");
    return 2;
  }
  std::vector<Entry> entries;
  if (!ReadManifest(argv[2], entries)) {
    std::fprintf(stderr, "wza_bench_floor: cannot read %s\n", argv[2]);
    return 2;
  }
  const std::string dest = std::string(argv[3]) + "/";

  std::set<std::string> folders;  // ordered, so a parent is made before its children
  for (const Entry& entry : entries) {
    for (size_t p = entry.path.find('/'); p != std::string::npos; p = entry.path.find('/', p + 1)) {
      folders.insert(entry.path.substr(0, p));
    }
  }
  ::mkdir(argv[3], 0777);
  for (const std::string& folder : folders) ::mkdir((dest + folder).c_str(), 0777);

  const int archive = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (archive < 0) {
    std::perror(argv[1]);
    return 2;
  }
  constexpr size_t kBlock = 1u << 20;
  std::vector<unsigned char> in(kBlock);
  std::vector<unsigned char> out(kBlock);
  z_stream stream{};
  inflateInit(&stream);
  int failed = 0;
  for (const Entry& entry : entries) {
    const int fd =
        ::open((dest + entry.path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      ++failed;
      continue;
    }
    bool ok = true;
    uint64_t done = 0;
    if (entry.compressed) inflateReset(&stream);
    int code = Z_OK;
    while (ok && done < entry.storedSize && code != Z_STREAM_END) {
      const size_t want = std::min<uint64_t>(kBlock, entry.storedSize - done);
      ok = ::pread(archive, in.data(), want, static_cast<off_t>(entry.position + done)) ==
           static_cast<ssize_t>(want);
      done += want;
      if (!entry.compressed) {
        ok = ok && WriteAll(fd, in.data(), want);
        continue;
      }
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(want);
      do {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(kBlock);
        code = inflate(&stream, Z_NO_FLUSH);
        ok = ok && (code == Z_OK || code == Z_STREAM_END) &&
             WriteAll(fd, out.data(), kBlock - stream.avail_out);
      } while (ok && stream.avail_out == 0 && code != Z_STREAM_END);
    }
    if (::close(fd) != 0 || !ok) ++failed;
  }
  inflateEnd(&stream);
  ::close(archive);
  if (failed > 0) std::fprintf(stderr, "wza_bench_floor: %d entries failed\n", failed);
  return failed > 0 ? 1 : 0;
}
