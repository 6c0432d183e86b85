// `wza mount`: serves a mount tree and its entries to the kernel through libfuse3's
// low-level interface. Inode numbers are node numbers plus one (the root is node 0).
#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "decode/entry_reader.h"
#include "mount/direct_io_mapping.h"
#include "mount/mount_fuse.h"
#include "mount/mount_point.h"
#include "mount/mount_tree.h"
#include "mount/page_cache_feed.h"
#include "names/name_encoding.h"
#include "names/printable_text.h"

namespace {

// Nothing in a mounted archive ever changes: the kernel may keep names and sizes for good.
constexpr double kKeepFor = 86400.0;
constexpr unsigned kLargestRequest = 1u << 20;

struct MountState {
  std::string archivePath;
  bool foreground = false;
  OpenArchive open;
  MountTree tree;
  ArchiveReader reader;
  struct stat archive {};
  PageCacheFeed feed;
};

MountState& StateOf(fuse_req_t request) {
  return *static_cast<MountState*>(fuse_req_userdata(request));
}

bool NodeOf(const MountState& state, fuse_ino_t inode, uint32_t& node) {
  if (inode < FUSE_ROOT_ID || inode - FUSE_ROOT_ID >= state.tree.nodes.size()) return false;
  node = static_cast<uint32_t>(inode - FUSE_ROOT_ID);
  return true;
}

struct stat AttributesOf(const MountState& state, uint32_t node) {
  const MountNode& item = state.tree.nodes[node];
  struct stat attributes {};
  attributes.st_ino = node + FUSE_ROOT_ID;
  attributes.st_uid = state.archive.st_uid;
  attributes.st_gid = state.archive.st_gid;
  attributes.st_atim = state.archive.st_atim;
  attributes.st_mtim = state.archive.st_mtim;
  attributes.st_ctim = state.archive.st_ctim;
  attributes.st_blksize = kLargestRequest;
  if (item.isFolder) {
    attributes.st_mode = S_IFDIR | 0555;
    attributes.st_nlink = 2 + item.subfolders;
  } else {
    attributes.st_mode = S_IFREG | 0444;
    attributes.st_nlink = 1;
    attributes.st_size = static_cast<off_t>(ShownSize(state.open.catalogue.entries[item.entry]));
    attributes.st_blocks = (attributes.st_size + 511) / 512;
  }
  return attributes;
}

void Lookup(fuse_req_t request, fuse_ino_t parent, const char* name) {
  MountState& state = StateOf(request);
  uint32_t folder = 0;
  if (!NodeOf(state, parent, folder)) return static_cast<void>(fuse_reply_err(request, ENOENT));
  if (!state.tree.nodes[folder].isFolder)
    return static_cast<void>(fuse_reply_err(request, ENOTDIR));
  fuse_entry_param entry{};
  entry.entry_timeout = kKeepFor;  // a name not there stays away too
  uint32_t child = 0;
  if (FindChild(state.tree, folder, name, child)) {
    entry.ino = child + FUSE_ROOT_ID;
    entry.attr = AttributesOf(state, child);
    entry.attr_timeout = kKeepFor;
  }
  fuse_reply_entry(request, &entry);
}

void GetAttributes(fuse_req_t request, fuse_ino_t inode, fuse_file_info*) {
  MountState& state = StateOf(request);
  uint32_t node = 0;
  if (!NodeOf(state, inode, node)) return static_cast<void>(fuse_reply_err(request, ENOENT));
  const struct stat attributes = AttributesOf(state, node);
  fuse_reply_attr(request, &attributes, kKeepFor);
}

void OpenFolder(fuse_req_t request, fuse_ino_t inode, fuse_file_info* info) {
  MountState& state = StateOf(request);
  uint32_t node = 0;
  if (!NodeOf(state, inode, node)) return static_cast<void>(fuse_reply_err(request, ENOENT));
  if (!state.tree.nodes[node].isFolder) return static_cast<void>(fuse_reply_err(request, ENOTDIR));
  info->cache_readdir = 1;
  info->keep_cache = 1;
  fuse_reply_open(request, info);
}

// Offsets: 0 is ".", 1 is "..", 2 + i the folder's child i, in name order. With `plus`
// each name comes with its attributes, sparing the kernel one lookup per name.
void ListFolder(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, bool plus) {
  MountState& state = StateOf(request);
  uint32_t node = 0;
  if (!NodeOf(state, inode, node)) return static_cast<void>(fuse_reply_err(request, ENOENT));
  const MountNode& folder = state.tree.nodes[node];
  std::vector<char> buffer(size);
  size_t used = 0;
  for (size_t at = static_cast<size_t>(offset); at < folder.children.size() + 2; ++at) {
    const uint32_t shown = at == 0 ? node : at == 1 ? folder.parent : folder.children[at - 2];
    const char* name = at == 0 ? "." : at == 1 ? ".." : state.tree.nodes[shown].name.c_str();
    fuse_entry_param entry{};
    entry.ino = shown + FUSE_ROOT_ID;
    entry.attr = AttributesOf(state, shown);
    entry.attr_timeout = kKeepFor;
    entry.entry_timeout = kKeepFor;
    const off_t next = static_cast<off_t>(at + 1);
    const size_t length = plus ? fuse_add_direntry_plus(request, buffer.data() + used, size - used,
                                                        name, &entry, next)
                               : fuse_add_direntry(request, buffer.data() + used, size - used, name,
                                                   &entry.attr, next);
    if (length > size - used) break;
    used += length;
  }
  fuse_reply_buf(request, buffer.data(), used);
}

void ReadFolder(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info*) {
  ListFolder(request, inode, size, offset, false);
}

void ReadFolderPlus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                    fuse_file_info*) {
  ListFolder(request, inode, size, offset, true);
}

void Open(fuse_req_t request, fuse_ino_t inode, fuse_file_info* info) {
  MountState& state = StateOf(request);
  uint32_t node = 0;
  if (!NodeOf(state, inode, node)) return static_cast<void>(fuse_reply_err(request, ENOENT));
  const MountNode& item = state.tree.nodes[node];
  if (item.isFolder) return static_cast<void>(fuse_reply_err(request, EISDIR));
  if ((info->flags & O_ACCMODE) != O_RDONLY)
    return static_cast<void>(fuse_reply_err(request, EROFS));
  // A small file is inflated now, or was ahead of the reader, and lies in the page cache.
  FeedOnOpen(state.feed, node);
  // Until an entry has been inflated to its end its length is only what it declares: its
  // reads bypass the page cache, so a damaged stream ends in exactly the bytes it holds
  // and an error, instead of being cut silently or padded by the kernel.
  const EntryCondition condition = ConditionOf(state.reader, item.entry);
  info->noflush = 1;  // nothing is ever written: closing needs no round trip
  if (condition == EntryCondition::Whole) {
    info->keep_cache = 1;
  } else {
    info->direct_io = 1;
  }
  fuse_reply_open(request, info);
}

void Read(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info*) {
  MountState& state = StateOf(request);
  uint32_t node = 0;
  if (!NodeOf(state, inode, node) || state.tree.nodes[node].isFolder || offset < 0) {
    return static_cast<void>(fuse_reply_err(request, EINVAL));
  }
  thread_local std::vector<unsigned char> buffer;
  buffer.resize(size);
  const ReadResult result = ReadEntryAt(state.reader, state.tree.nodes[node].entry,
                                        static_cast<uint64_t>(offset), buffer.data(), size);
  if (result.failed) return static_cast<void>(fuse_reply_err(request, EIO));
  fuse_reply_buf(request, reinterpret_cast<const char*>(buffer.data()), result.length);
}

void FileSystemFigures(fuse_req_t request, fuse_ino_t) {
  MountState& state = StateOf(request);
  struct statvfs figures {};
  figures.f_bsize = 4096;
  figures.f_frsize = 4096;
  figures.f_blocks = static_cast<fsblkcnt_t>((state.open.catalogue.fileLength + 4095) / 4096);
  figures.f_files = state.tree.nodes.size();
  figures.f_namemax = 255;
  fuse_reply_statfs(request, &figures);
}

// One read at a time per open file, in increasing offsets: a compressed entry inflates
// in order anyway, and reads arriving out of order would each start a decoder of their own.
void Start(void*, fuse_conn_info* connection) {
  connection->want &= ~(FUSE_CAP_ASYNC_READ | FUSE_CAP_ASYNC_DIO);
  // Fewer, larger requests: each one is a round trip through the kernel.
  connection->max_write = kLargestRequest;
  connection->max_readahead = kLargestRequest;
}

// A request that runs out of memory fails alone, with ENOMEM: nothing may be thrown
// through libfuse, which would end the mount. Each handler replies only as its last step.
template <auto Handler, typename... Arguments>
void Guarded(fuse_req_t request, Arguments... arguments) {
  try {
    Handler(request, arguments...);
  } catch (const std::bad_alloc&) {
    fuse_reply_err(request, ENOMEM);
  }
}

fuse_lowlevel_ops Operations() {
  fuse_lowlevel_ops operations{};
  operations.init = Start;
  operations.lookup = Guarded<Lookup>;
  operations.getattr = Guarded<GetAttributes>;
  operations.opendir = Guarded<OpenFolder>;
  operations.readdir = Guarded<ReadFolder>;
  operations.readdirplus = Guarded<ReadFolderPlus>;
  operations.open = Guarded<Open>;
  operations.read = Guarded<Read>;
  operations.statfs = Guarded<FileSystemFigures>;
  return operations;
}

// A comma or backslash in the archive's path would end or bend the option it is in.
std::string EscapedOption(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == ',' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// A detached mount has no terminal left: its reports go to the system log.
void Report(const MountState& state, const std::string& message) {
  if (state.foreground) {
    PrintError(message);
  } else {
    syslog(LOG_WARNING, "%s", PrintableText(message).c_str());
  }
}

void ReportDamage(MountState& state, size_t entry, const std::string& why) {
  Report(state, state.archivePath + ": " + ShownPath(state.open.catalogue, entry) + ": " + why);
}

// libfuse's own messages name the mount point: they are printed by the same rule.
void PrintFuseMessage(fuse_log_level, const char* format, va_list arguments) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::string message = text;
  while (!message.empty() && message.back() == '\n') message.pop_back();
  PrintError(message);
}

bool Prepare(MountState& state, const NameEncoding& names) {
  std::string detail;
  const LoadOutcome outcome = LoadCatalogue(state.archivePath, state.open, &detail);
  if (outcome != LoadOutcome::Loaded && outcome != LoadOutcome::NoEntries) {
    PrintError(LoadFailureLine(state.archivePath, outcome, detail));
    return false;
  }
  if (stat(state.archivePath.c_str(), &state.archive) != 0) {
    PrintError(state.archivePath + ": " + std::strerror(errno));
    return false;
  }
  std::vector<std::string> leftOut;
  const std::vector<bool> notConverted = ConvertCatalogueNames(names, state.open.catalogue);
  state.tree = BuildMountTree(state.open.catalogue, notConverted, names.codePage, leftOut);
  for (const std::string& line : leftOut) PrintError(state.archivePath + ": " + line);
  StartReader(state.reader, state.open, ReaderLimits());
  state.reader.reportDamage = [&state](size_t entry, const std::string& why) {
    ReportDamage(state, entry, why);
  };
  return true;
}

// Takes the mount away; false, reported, when it stays. libfuse unmounts by the path it
// was mounted at: should the mount have been moved (a folder above it renamed) and
// another one been put there since, that one is not ours to take away.
bool Unmount(MountState& state, fuse_session* session, const std::string& mountPoint, long id) {
  std::string now;
  if (id >= 0 && WhereMounted(id, now) && now != mountPoint && MountIdAt(mountPoint, "") >= 0) {
    Report(state, now + ": not unmounted: the mount was moved here from " + mountPoint +
                      ", where another one is now");
    return false;
  }
  fuse_session_unmount(session);
  if (id >= 0 && WhereMounted(id, now)) {
    Report(state, now + ": could not be unmounted");
    return false;
  }
  return true;
}

bool ServeMounted(MountState& state, fuse_session* session) {
  AllowMappingDirectIo(session);
  // Detaches only now, so that `wza mount` returns once the mount can be used.
  if (fuse_daemonize(state.foreground ? 1 : 0) != 0) return false;
  if (!state.foreground) openlog("wza", LOG_PID, LOG_USER);
  fuse_loop_config* config = fuse_loop_cfg_create();
  StartFeed(state.feed, session, state.tree, state.reader);
  // A signal (Ctrl-C) ends the loop with its number; only errors are negative.
  const bool served = fuse_session_loop_mt(session, config) >= 0;
  StopFeed(state.feed);
  fuse_loop_cfg_destroy(config);
  return served;
}

// `mountPoint` is absolute: libfuse serves from "/" and unmounts by this path.
bool Serve(MountState& state, const std::string& mountPoint) {
  const fuse_lowlevel_ops operations = Operations();
  const std::string options =
      "ro,default_permissions,subtype=wza,fsname=" + EscapedOption(state.archivePath);
  const char* arguments[] = {"wza", "-o", options.c_str()};
  fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(arguments));
  fuse_set_log_func(PrintFuseMessage);
  fuse_session* session = fuse_session_new(&args, &operations, sizeof operations, &state);
  fuse_opt_free_args(&args);
  if (session == nullptr) return false;
  bool served = false;
  if (fuse_set_signal_handlers(session) == 0) {
    if (fuse_session_mount(session, mountPoint.c_str()) == 0) {
      const long id = MountIdAt(mountPoint, "fuse.wza");
      served = ServeMounted(state, session);
      if (!Unmount(state, session, mountPoint, id)) served = false;
    }
    fuse_remove_signal_handlers(session);
  }
  fuse_session_destroy(session);
  return served;
}

}  // namespace

bool RunMount(const std::string& archive, const std::string& mountPoint, bool foreground,
              const NameEncoding& names) {
  std::string absolute;
  std::string why;
  if (!ResolveMountPoint(mountPoint, absolute, why)) {
    PrintError(mountPoint + ": " + why);
    return false;
  }
  auto state = std::make_unique<MountState>();
  state->archivePath = archive;
  state->foreground = foreground;
  return Prepare(*state, names) && Serve(*state, absolute);
}
