// End-to-end tests of `wza mount`: the real program mounts archives built by the archive
// writer, and the mounts are read with the system's own tools and calls. They need FUSE
// (/dev/fuse and fusermount3) and are skipped where it is missing.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string WhyNoMounts() {
  if (access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is missing or not usable";
  if (RunProgram("/usr/bin/env", {"sh", "-c", "command -v fusermount3"}).exitCode != 0) {
    return "fusermount3 is not installed";
  }
  return "";
}

#define SKIP_WITHOUT_FUSE()                                               \
  do {                                                                    \
    const std::string why = WhyNoMounts();                                \
    if (!why.empty()) GTEST_SKIP() << "wza mount tests skipped: " << why; \
  } while (false)

bool IsMounted(const fs::path& point) {
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    // The fifth field is the mount point; test folders hold no characters it escapes.
    size_t at = 0;
    for (int field = 0; field < 4 && at != std::string::npos; ++field) at = line.find(' ', at) + 1;
    if (line.compare(at, line.find(' ', at) - at, point.string()) == 0) return true;
  }
  return false;
}

ProgramResult Fusermount(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"fusermount3"};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram("/usr/bin/env", all);
}

// One mount, always undone at the end of its scope, whatever the test did.
struct Mount {
  fs::path point;
  pid_t foreground = -1;  // the `wza mount -f` process, when the test keeps one
  fs::path log;           // its stderr

  ~Mount() {
    if (IsMounted(point)) Fusermount({"-u", point.string()});
    if (IsMounted(point)) RunProgram("/usr/bin/env", {"umount", "-l", point.string()});
    if (foreground > 0) {
      kill(foreground, SIGTERM);
      waitpid(foreground, nullptr, 0);
    }
  }
};

// Mounts in the background, as a user would; wza returns once the mount is ready.
ProgramResult MountArchive(Mount& mount, const fs::path& archive, const fs::path& point) {
  fs::create_directories(point);
  mount.point = point;
  return RunWza({"mount", archive.string(), point.string()});
}

bool WaitFor(const std::function<bool()>& done, int seconds = 20) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Mounts with -f in a child process whose stderr goes to mount.log; with `relative` the
// child runs in the mount point's parent folder and names it by its last component only.
bool MountInForeground(Mount& mount, const fs::path& archive, const fs::path& point,
                       bool relative = false) {
  fs::create_directories(point);
  mount.point = point;
  mount.log = point.parent_path() / "mount.log";
  const std::string wza = SiblingProgram("wza");
  const std::string given = relative ? point.filename().string() : point.string();
  mount.foreground = fork();
  if (mount.foreground == 0) {
    const int err = open(mount.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, 2);
    if (relative && chdir(point.parent_path().c_str()) != 0) _exit(126);
    execl(wza.c_str(), wza.c_str(), "mount", "-f", archive.c_str(), given.c_str(), nullptr);
    _exit(127);
  }
  // The mount shows before wza has finished setting it up; once it answers, wza serves it.
  return WaitFor([&] { return IsMounted(point); }) && fs::is_directory(point);
}

// Waits for the foreground mount's process to end; its exit code, or -1.
int WaitForExit(Mount& mount, int seconds = 20) {
  int status = 0;
  const bool ended =
      WaitFor([&] { return waitpid(mount.foreground, &status, WNOHANG) != 0; }, seconds);
  if (!ended) return -1;
  mount.foreground = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Text-like bytes that deflate into many blocks: lines with counters and some noise.
std::string LargeText(size_t size, uint32_t seed) {
  std::string text;
  text.reserve(size + 64);
  uint32_t state = seed;
  for (size_t line = 0; text.size() < size; ++line) {
    state = state * 1664525u + 1013904223u;
    text += "line " + std::to_string(line) + " value " + std::to_string(state >> 12) + " ";
    text.append(state % 23, static_cast<char>('a' + state % 26));
    text += '\n';
  }
  text.resize(size);
  return text;
}

// The folder for large archives: memory-backed where the machine has one.
fs::path LargeFolder(const TempFolder& fallback) {
  if (!fs::is_directory("/dev/shm")) return fallback.path;
  const fs::path path = fallback.path.filename().string() + "-large";
  return "/dev/shm" / path;
}

struct RemoveOnExit {
  fs::path path;
  ~RemoveOnExit() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// Reads with read(2) in `chunk` pieces until the end or an error; errno of the error or 0.
int ReadAll(const fs::path& path, std::string& bytes, size_t chunk = 65536) {
  bytes.clear();
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return errno;
  std::string buffer(chunk, '\0');
  int error = 0;
  for (;;) {
    const ssize_t got = read(fd, &buffer[0], chunk);
    if (got < 0) error = errno;
    if (got <= 0) break;
    bytes.append(buffer, 0, static_cast<size_t>(got));
  }
  close(fd);
  return error;
}

// Maps the first `length` bytes of a file shared and read-only, as programs that map files
// do, and copies them; errno of a failure or 0.
int ReadMapped(const fs::path& path, size_t length, std::string& bytes) {
  bytes.clear();
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return errno;
  void* map = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
  const int error = map == MAP_FAILED ? errno : 0;
  if (map != MAP_FAILED) {
    bytes.assign(static_cast<const char*>(map), length);
    munmap(map, length);
  }
  close(fd);
  return error;
}

// The sample archive with what extraction leaves out or replaces: duplicate names (the
// later entry wins), names that would leave the folder or name devices, a large entry.
ArchiveSpec MountSpec(uint32_t version, uint32_t recordSize) {
  ArchiveSpec spec = SampleSpec(version, recordSize, "data");
  spec.folders.push_back({"dup",
                          {{"same.txt", "first", true},
                           {"same.txt", "second", false},
                           {"big.txt", LargeText(700000, 7), true},
                           {"..\\..\\evil.txt", "evil", false},
                           {"nul.txt", "device", true},
                           {"bell\a.txt", "control", false}}});
  return spec;
}

TEST(WzaMount, ShowsWhatExtractWritesForEveryArchiveKind) {
  SKIP_WITHOUT_FUSE();
  for (uint32_t version : {1u, 2u, 4u, 9u}) {
    for (uint32_t recordSize : {17u, 20u, 22u}) {
      SCOPED_TRACE("version " + std::to_string(version) + ", record size " +
                   std::to_string(recordSize));
      TempFolder folder;
      const fs::path archive = folder.path / "Data.big";
      WriteFile(archive, BuildArchive(MountSpec(version, recordSize)).bytes);
      ASSERT_EQ(RunWza({"extract", "-q", "-d", (folder.path / "out").string(), archive.string()})
                    .exitCode,
                1);
      Mount mount;
      const ProgramResult mounted = MountArchive(mount, archive, folder.path / "mnt");
      ASSERT_EQ(mounted.exitCode, 0) << mounted.err;
      ASSERT_TRUE(IsMounted(mount.point));
      const ProgramResult copy =
          RunProgram("/usr/bin/env",
                     {"cp", "-r", (mount.point / ".").string(), (folder.path / "copy").string()});
      ASSERT_EQ(copy.exitCode, 0) << copy.err;
      const auto tree = ReadTree(folder.path / "copy");
      EXPECT_EQ(tree, ReadTree(folder.path / "out" / "__Data.big"));
      EXPECT_EQ(tree.at("data/dup/same.txt"), "second");
      EXPECT_EQ(tree.at("data/dup/big.txt"), LargeText(700000, 7));
    }
  }
}

// --names as for extract: Shift-JIS names whose second byte is "\" stay whole characters,
// a lone "\" and the one between a folder and its files separate although the page reads
// them as "¥", a name not valid in the code page is left out and named.
TEST(WzaMount, NamesReadInACodePageShowAsExtractWritesThem) {
  SKIP_WITHOUT_FUSE();
  ArchiveSpec spec;
  spec.folders = {{"", {{"ok.txt", "ok"}, {"caf\xe9.txt", "not Shift-JIS"}}},
                  {"\x83\x5c\x83\x74\x83\x67", {{"\x95\x5c.txt", "hyou"}}},  // ソフト/表.txt
                  {"art\\ui", {{"x.png", "x"}}}};
  TempFolder folder;
  const fs::path archive = folder.path / "j.big";
  WriteFile(archive, BuildArchive(spec).bytes);
  const fs::path out = folder.path / "out";
  ASSERT_EQ(RunWza({"extract", "-q", "--names", "SHIFT_JIS", "-d", out.string(), archive.string()})
                .exitCode,
            1);
  Mount mount;
  fs::create_directories(folder.path / "mnt");
  mount.point = folder.path / "mnt";
  const ProgramResult mounted =
      RunWza({"mount", "--names=SHIFT_JIS", archive.string(), mount.point.string()});
  ASSERT_EQ(mounted.exitCode, 0) << mounted.err;
  EXPECT_EQ(CountOf(mounted.err, "data/caf\\xe9.txt: name not valid SHIFT_JIS, not shown"), 1u)
      << mounted.err;
  const ProgramResult copy = RunProgram(
      "/usr/bin/env", {"cp", "-r", (mount.point / ".").string(), (folder.path / "copy").string()});
  ASSERT_EQ(copy.exitCode, 0) << copy.err;
  const auto tree = ReadTree(folder.path / "copy");
  EXPECT_EQ(tree, ReadTree(out / "__j.big"));
  EXPECT_EQ(tree.at("data/ok.txt"), "ok");
  EXPECT_EQ(tree.at("data/ソフト/表.txt"), "hyou");
  EXPECT_EQ(tree.at("data/art/ui/x.png"), "x");

  const ProgramResult unknown =
      RunWza({"mount", "--names", "no-such-page", archive.string(), mount.point.string()});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("--names no-such-page"), std::string::npos) << unknown.err;
}

TEST(WzaMount, FindAndStatSeeTheTreeAndNoHostileName) {
  SKIP_WITHOUT_FUSE();
  TempFolder folder;
  const fs::path archive = folder.path / "Data.big";
  WriteFile(archive, BuildArchive(MountSpec(2, 20)).bytes);
  Mount mount;
  const ProgramResult mounted = MountArchive(mount, archive, folder.path / "mnt");
  ASSERT_EQ(mounted.exitCode, 0) << mounted.err;
  // Each name left out is reported once, when the archive is mounted, its control bytes
  // escaped as everywhere wza prints a name.
  EXPECT_EQ(CountOf(mounted.err, "evil.txt: unsafe name"), 1u) << mounted.err;
  EXPECT_EQ(CountOf(mounted.err, "nul.txt: unsafe name"), 1u) << mounted.err;
  EXPECT_EQ(CountOf(mounted.err, "bell\\x07.txt: unsafe name"), 1u) << mounted.err;
  EXPECT_EQ(mounted.err.find('\a'), std::string::npos) << mounted.err;
  // libfuse's own messages name the mount point, and are escaped the same way.
  const ProgramResult nowhere =
      RunWza({"mount", archive.string(), (folder.path / "no\x1b[2J").string()});
  EXPECT_EQ(nowhere.exitCode, 2);
  EXPECT_NE(nowhere.err.find("no\\x1b[2J"), std::string::npos) << nowhere.err;
  EXPECT_EQ(nowhere.err.find('\x1b'), std::string::npos) << nowhere.err;
  // A file is no mount point: it would be hidden behind a mount that answers nothing.
  Mount overFile;
  overFile.point = folder.path / "file.txt";
  WriteFile(overFile.point, "kept");
  const ProgramResult onFile = RunWza({"mount", archive.string(), overFile.point.string()});
  EXPECT_EQ(onFile.exitCode, 2);
  EXPECT_EQ(CountOf(onFile.err, "file.txt: not a folder"), 1u) << onFile.err;
  EXPECT_FALSE(IsMounted(overFile.point));
  EXPECT_EQ(ReadFile(overFile.point), "kept");

  const ProgramResult find = RunProgram(
      "/usr/bin/env", {"find", ".", "-printf", "%y %s %m %n %p\n"}, mount.point.string());
  EXPECT_EQ(find.exitCode, 0) << find.err;
  // Folders list their entries sorted by name, the same way every time.
  EXPECT_EQ(find.out,
            "d 0 555 3 .\n"
            "d 0 555 5 ./data\n"
            "d 0 555 3 ./data/art\n"
            "d 0 555 2 ./data/art/ui\n"
            "f 70003 444 1 ./data/art/ui/x.png\n"
            "f 5000 444 1 ./data/b.bin\n"
            "d 0 555 2 ./data/dup\n"
            "f 700000 444 1 ./data/dup/big.txt\n"
            "f 6 444 1 ./data/dup/same.txt\n"
            "f 7 444 1 ./data/readme.txt\n"
            "d 0 555 3 ./data/sound\n"
            "d 0 555 2 ./data/sound/fx\n"
            "f 4 444 1 ./data/sound/fx/boom.wav\n"
            "f 0 444 1 ./data/sound/fx/empty.wav\n");
  for (const char* hostile : {"data/nul.txt", "evil.txt", "../evil.txt", "data/dup/nul.txt"}) {
    EXPECT_FALSE(fs::exists(mount.point / hostile)) << hostile;
  }

  struct stat archiveInfo {};
  struct stat fileInfo {};
  struct stat folderInfo {};
  ASSERT_EQ(stat(archive.c_str(), &archiveInfo), 0);
  ASSERT_EQ(stat((mount.point / "data/art/ui/x.png").c_str(), &fileInfo), 0);
  ASSERT_EQ(stat((mount.point / "data/art").c_str(), &folderInfo), 0);
  for (const struct stat* info : {&fileInfo, &folderInfo}) {
    EXPECT_EQ(info->st_mtim.tv_sec, archiveInfo.st_mtim.tv_sec);
    EXPECT_EQ(info->st_mtim.tv_nsec, archiveInfo.st_mtim.tv_nsec);
  }
  EXPECT_NE(fileInfo.st_ino, folderInfo.st_ino);
  errno = 0;
  EXPECT_LT(open((mount.point / "data/b.bin").c_str(), O_WRONLY), 0);
  EXPECT_EQ(errno, EROFS);
}

TEST(WzaMount, ReadsFarIntoALargeCompressedEntryWithoutStartingOver) {
  SKIP_WITHOUT_FUSE();
  TempFolder folder;
  RemoveOnExit large{LargeFolder(folder)};
  fs::create_directories(large.path);
  const std::string data = LargeText(128u << 20, 11);
  ArchiveSpec spec;
  spec.level = 1;
  spec.folders = {{"", {{"huge.txt", data, true}}}};
  const fs::path archive = large.path / "huge.wza";
  WriteFile(archive, BuildArchive(spec).bytes);
  Mount mount;
  ASSERT_EQ(MountArchive(mount, archive, large.path / "mnt").exitCode, 0);

  const fs::path file = mount.point / "data/huge.txt";
  std::string whole;
  ASSERT_EQ(ReadAll(file, whole, 1u << 20), 0);
  ASSERT_TRUE(whole == data) << "the first pass read " << whole.size() << " bytes";
  whole.clear();

  // After one pass, reads near the end cost about what reads near the start do: had
  // each to inflate from the entry's start, they would take many times as long.
  const int fd = open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::vector<double> near;
  std::vector<double> far;
  const size_t eighth = data.size() / 8;
  // Going backwards, no read can go on from where an earlier one stopped.
  for (int i = 0; i < 48; ++i) {
    const size_t back = eighth - 4096 - (i / 2) * (eighth / 25) - i * 977;
    const size_t offset = (i % 2 == 0 ? 0 : data.size() - eighth) + back;
    std::string bytes(4096, '\0');
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);  // every read reaches the mount
    const auto start = Clock::now();
    ASSERT_EQ(pread(fd, &bytes[0], bytes.size(), static_cast<off_t>(offset)), 4096);
    (i % 2 == 0 ? near : far)
        .push_back(std::chrono::duration<double>(Clock::now() - start).count());
    ASSERT_EQ(bytes, data.substr(offset, 4096)) << "at " << offset;
  }
  close(fd);
  std::sort(near.begin(), near.end());
  std::sort(far.begin(), far.end());
  EXPECT_LT(far[far.size() / 2], 4 * near[near.size() / 2] + 0.002)
      << "median read near the start " << near[near.size() / 2] << " s, near the end "
      << far[far.size() / 2] << " s";
}

TEST(WzaMount, ConcurrentReadersEachGetTheirBytes) {
  SKIP_WITHOUT_FUSE();
  TempFolder folder;
  RemoveOnExit large{LargeFolder(folder)};
  fs::create_directories(large.path);
  ArchiveSpec spec;
  spec.folders = {
      {"big",
       {{"one.txt", LargeText(24u << 20, 1), true}, {"two.txt", LargeText(24u << 20, 2), true}}},
      {"small", {}}};
  for (uint32_t i = 0; i < 40; ++i) {
    spec.folders[1].entries.push_back(
        {"s" + std::to_string(i), LargeText(3000 + i * 997, i), i % 2 == 0});
  }
  const fs::path archive = large.path / "many.wza";
  WriteFile(archive, BuildArchive(spec).bytes);
  Mount mount;
  ASSERT_EQ(MountArchive(mount, archive, large.path / "mnt").exitCode, 0);

  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  // Whole passes over both large entries, two readers on one of them.
  for (int i = 0; i < 3; ++i) {
    readers.emplace_back([&, i] {
      const uint32_t seed = i == 2 ? 2 : 1;
      std::string bytes;
      const fs::path path = mount.point / "data/big" / (seed == 1 ? "one.txt" : "two.txt");
      if (ReadAll(path, bytes, 131072) != 0 || bytes != LargeText(24u << 20, seed)) ++wrong;
    });
  }
  // Scattered reads in one large entry and the small files, all the while.
  readers.emplace_back([&] {
    const std::string data = LargeText(24u << 20, 2);
    const int fd = open((mount.point / "data/big/two.txt").c_str(), O_RDONLY);
    for (size_t offset = 3; offset + 5000 < data.size(); offset += 1200007) {
      std::string bytes(5000, '\0');
      if (pread(fd, &bytes[0], bytes.size(), static_cast<off_t>(offset)) != 5000 ||
          bytes != data.substr(offset, 5000)) {
        ++wrong;
      }
    }
    close(fd);
  });
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      for (uint32_t j = 0; j < 40; ++j) {
        std::string bytes;
        const fs::path path = mount.point / "data/small" / ("s" + std::to_string(j));
        if (ReadAll(path, bytes, 4096) != 0 || bytes != LargeText(3000 + j * 997, j)) ++wrong;
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(WzaMount, DamagedEntriesGiveTheSalvagedBytesThenAnErrorLoggedOnce) {
  SKIP_WITHOUT_FUSE();
  TempFolder folder;
  // Large entries are found damaged while they are read, small ones when opened.
  const std::string text = LargeText(1500000, 5);
  const std::string stream = Deflate(text);
  std::string badCheck = stream;
  badCheck.back() = static_cast<char>(badCheck.back() ^ 0x55);
  ArchiveSpec spec;
  spec.folders = {{"",
                   {{"cut\xe9.txt", text, true, std::nullopt, stream.substr(0, stream.size() / 2)},
                    {"check.txt", text, true, std::nullopt, badCheck},
                    {"short.txt", text.substr(0, 300000), true, 400000u},
                    {"none.txt", "", true, std::nullopt, Deflate("").substr(0, 4)},
                    {"stored.txt", text.substr(0, 1200000), false, 1300000u},
                    {"few.txt", "abc", false, 10u},
                    {"more.txt", "abcdef", false, 3u},
                    {"good.txt", text, true}}}};
  const fs::path archive = folder.path / "bad.wza";
  WriteFile(archive, BuildArchive(spec).bytes);
  ASSERT_EQ(
      RunWza({"extract", "-q", "-d", (folder.path / "out").string(), archive.string()}).exitCode,
      1);
  const fs::path extracted = folder.path / "out/__bad.wza/data";

  Mount mount;
  // Named relative to where wza starts, the mount point is still found when it ends.
  ASSERT_TRUE(MountInForeground(mount, archive, folder.path / "mnt", true));
  // Files not yet known whole can be mapped, the damaged one up to its salvaged bytes.
  std::string mapped;
  EXPECT_EQ(ReadMapped(mount.point / "data/good.txt", text.size(), mapped), 0);
  EXPECT_TRUE(mapped == text);
  const std::string salvaged = ReadFile(extracted / "cut\xe9.txt");
  ASSERT_FALSE(salvaged.empty());
  EXPECT_EQ(ReadMapped(mount.point / "data/cut\xe9.txt", salvaged.size(), mapped), 0);
  EXPECT_TRUE(mapped == salvaged);
  for (int round = 0; round < 2; ++round) {
    for (const char* name :
         {"cut\xe9.txt", "check.txt", "short.txt", "none.txt", "stored.txt", "few.txt"}) {
      SCOPED_TRACE(std::string(name) + ", round " + std::to_string(round));
      std::string bytes;
      EXPECT_EQ(ReadAll(mount.point / "data" / name, bytes), EIO);
      EXPECT_TRUE(bytes == ReadFile(extracted / name))
          << bytes.size() << " bytes read, extraction wrote " << ReadFile(extracted / name).size();
    }
    std::string good;
    EXPECT_EQ(ReadAll(mount.point / "data/good.txt", good), 0);
    EXPECT_TRUE(good == text);
    // A stored entry holding more than it declares is cut to its size, as extraction does.
    EXPECT_EQ(ReadAll(mount.point / "data/more.txt", good), 0);
    EXPECT_EQ(good, "abc");
  }
  // Ctrl-C ends a foreground mount and takes the mount away.
  kill(mount.foreground, SIGINT);
  EXPECT_EQ(WaitForExit(mount), 0);
  EXPECT_FALSE(IsMounted(mount.point));
  const std::string log = ReadFile(mount.log);
  // Names are printed escaped: the byte that is no UTF-8 as \xe9.
  for (const char* name : {"data/cut\\xe9.txt: ", "data/check.txt: ", "data/short.txt: ",
                           "data/none.txt: ", "data/stored.txt: ", "data/few.txt: "}) {
    EXPECT_EQ(CountOf(log, name), 1u) << log;
  }
  EXPECT_EQ(CountOf(log, "good.txt"), 0u) << log;
  EXPECT_EQ(CountOf(log, "more.txt"), 0u) << log;
  EXPECT_EQ(CountOf(log, "unmount"), 0u) << log;
}

// An archive cut short under the mount: where its bytes are missing, reads fail, stored
// entries as compressed ones, instead of ending early as if the files were shorter.
TEST(WzaMount, AnArchiveCutWhileMountedFailsWhereBytesAreMissing) {
  SKIP_WITHOUT_FUSE();
  TempFolder folder;
  const std::string stored = LargeText(3u << 20, 3);
  ArchiveSpec spec;
  spec.folders = {{"",
                   {{"stored.txt", stored, false},
                    {"small.txt", "small", false},
                    {"packed.txt", LargeText(3u << 20, 4), true}}}};
  const fs::path archive = folder.path / "cut.wza";
  WriteFile(archive, BuildArchive(spec).bytes);
  Mount mount;
  ASSERT_TRUE(MountInForeground(mount, archive, folder.path / "mnt"));
  fs::resize_file(archive, 1u << 20);
  for (int round = 0; round < 2; ++round) {
    for (const char* name : {"stored.txt", "small.txt", "packed.txt"}) {
      SCOPED_TRACE(std::string(name) + ", round " + std::to_string(round));
      std::string bytes;
      EXPECT_EQ(ReadAll(mount.point / "data" / name, bytes), EIO);
      EXPECT_LT(bytes.size(), 1u << 20);
    }
  }
  std::string bytes;
  ReadAll(mount.point / "data/stored.txt", bytes);
  EXPECT_TRUE(stored.compare(0, bytes.size(), bytes) == 0);
  kill(mount.foreground, SIGTERM);
  EXPECT_EQ(WaitForExit(mount), 0);
  const std::string log = ReadFile(mount.log);
  for (const char* name : {"data/stored.txt: ", "data/small.txt: ", "data/packed.txt: "}) {
    EXPECT_EQ(CountOf(log, name), 1u) << log;
  }
  EXPECT_EQ(CountOf(log, "archive read cut short"), 3u) << log;
}

TEST(WzaMount, UnmountsWhileAFileIsOpenOnlyWhenAskedToDetach) {
  SKIP_WITHOUT_FUSE();
  TempFolder folder;
  const fs::path archive = folder.path / "Data.big";
  WriteFile(archive, BuildArchive(MountSpec(2, 20)).bytes);
  Mount mount;
  ASSERT_TRUE(MountInForeground(mount, archive, folder.path / "mnt"));
  const int fd = open((mount.point / "data/dup/big.txt").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string bytes(1000, '\0');
  EXPECT_EQ(pread(fd, &bytes[0], 1000, 0), 1000);

  // A busy mount stays, and the open file goes on reading.
  EXPECT_NE(Fusermount({"-u", mount.point.string()}).exitCode, 0);
  EXPECT_TRUE(IsMounted(mount.point));
  EXPECT_EQ(pread(fd, &bytes[0], 1000, 300000), 1000);
  EXPECT_EQ(bytes, LargeText(700000, 7).substr(300000, 1000));

  // Detached, it is gone from the folder at once, still serves the open file, and the
  // process ends when the file is closed.
  EXPECT_EQ(Fusermount({"-u", "-z", mount.point.string()}).exitCode, 0);
  EXPECT_FALSE(IsMounted(mount.point));
  EXPECT_EQ(pread(fd, &bytes[0], 1000, 600000), 1000);
  EXPECT_EQ(bytes, LargeText(700000, 7).substr(600000, 1000));
  close(fd);
  EXPECT_EQ(WaitForExit(mount), 0);

  // Moved along with a renamed folder above it, a mount is not where it was made, and
  // cannot be unmounted there: wza says so and ends with an error.
  Mount moved;
  ASSERT_TRUE(MountInForeground(moved, archive, folder.path / "a" / "mnt"));
  fs::rename(folder.path / "a", folder.path / "b");
  moved.point = folder.path / "b" / "mnt";
  ASSERT_TRUE(IsMounted(moved.point));
  kill(moved.foreground, SIGTERM);
  EXPECT_EQ(WaitForExit(moved), 2);
  const std::string log = ReadFile(folder.path / "b" / "mount.log");
  EXPECT_EQ(CountOf(log, moved.point.string() + ": could not be unmounted"), 1u) << log;
}

}  // namespace
