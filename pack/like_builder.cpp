#include "pack/like_builder.h"

#include "platform/file_io.h"

namespace like {

std::string NewRecordBytes(const Builder& b, size_t anchor) {
  // The bytes no field covers come from OLD's record before it: they look like their
  // neighbours, whatever they mean.
  const size_t model = anchor > 0 ? anchor - 1 : 0;
  const uint64_t at = b.shape.files + uint64_t{b.shape.recordSize} * model;
  std::string bytes(b.shape.recordSize, '\0');
  platform::ReadAt(b.oldFile, at, &bytes[0], bytes.size());
  return bytes;
}

std::string NewFolderBytes(const Builder& b) {
  std::string bytes(kFolderEntryLength, '\0');
  if (b.shape.folderCount > 0) {
    const uint64_t at = b.shape.folders + (b.shape.folderCount - 1) * kFolderEntryLength;
    platform::ReadAt(b.oldFile, at, &bytes[0], bytes.size());
  }
  return bytes;
}

}  // namespace like
