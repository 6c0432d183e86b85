#include "mount/direct_io_mapping.h"

#include <linux/fuse.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The kernel's flag (protocol 7.39); older kernel headers do not name it.
constexpr uint64_t kDirectIoAllowMmap = 1ull << 36;
constexpr uint32_t kDirectIoAllowMmapHigh = static_cast<uint32_t>(kDirectIoAllowMmap >> 32);

// The id of the kernel's first request while it waits for its answer; 0 otherwise.
std::atomic<uint64_t> pendingInit{0};

// Notes the first request when the kernel offers the flag in it.
ssize_t ReadRequest(int fd, void* buffer, size_t length, void*) {
  const ssize_t got = ::read(fd, buffer, length);
  if (got < static_cast<ssize_t>(sizeof(fuse_in_header) + sizeof(fuse_init_in))) return got;
  fuse_in_header header;
  std::memcpy(&header, buffer, sizeof header);
  if (header.opcode != FUSE_INIT) return got;
  fuse_init_in init;
  std::memcpy(&init, static_cast<const char*>(buffer) + sizeof header, sizeof init);
  if ((init.flags & FUSE_INIT_EXT) != 0 && (init.flags2 & kDirectIoAllowMmapHigh) != 0) {
    pendingInit = header.unique;
  }
  return got;
}

// The answer to the first request goes as a header and the answer itself: the flag is
// added there.
ssize_t WriteReply(int fd, iovec* pieces, int count, void*) {
  const uint64_t init = pendingInit.load();
  if (init != 0 && count >= 2 && pieces[0].iov_len == sizeof(fuse_out_header) &&
      pieces[1].iov_len >= offsetof(fuse_init_out, flags2) + sizeof(uint32_t)) {
    fuse_out_header header;
    std::memcpy(&header, pieces[0].iov_base, sizeof header);
    if (header.unique == init && header.error == 0) {
      fuse_init_out answer{};
      std::memcpy(&answer, pieces[1].iov_base, std::min(sizeof answer, pieces[1].iov_len));
      answer.flags |= FUSE_INIT_EXT;
      answer.flags2 |= kDirectIoAllowMmapHigh;
      std::memcpy(pieces[1].iov_base, &answer, std::min(sizeof answer, pieces[1].iov_len));
      pendingInit = 0;
    }
  }
  return ::writev(fd, pieces, count);
}

}  // namespace

void AllowMappingDirectIo(fuse_session* session) {
  fuse_custom_io io{};
  io.read = ReadRequest;
  io.writev = WriteReply;
  // Refused only when short of memory: the session then serves as it is, without the flag.
  fuse_session_custom_io(session, &io, fuse_session_fd(session));
}
