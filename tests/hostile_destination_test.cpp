// Destinations that cannot take what `wza extract` writes: read-only, a file, paths at the
// length limit, a disk that fills up. wza names every entry it could not write with the
// system's reason, goes on with the rest, and exits with 1.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"
#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#endif

namespace {

using Tree = std::map<std::string, std::string>;

// The lines of stderr that say an entry could not be written, each with a reason.
size_t CountWriteFailures(const std::string& err, const char* what) {
  size_t count = 0;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(start, end - start);
    const size_t at = line.find(what);
    if (at != std::string::npos && at + std::strlen(what) < line.size()) ++count;
    start = end + 1;
  }
  return count;
}

ArchiveSpec ThreeEntries() {
  ArchiveSpec spec;
  spec.folders = {{"", {{"a.txt", "alpha"}, {"b.bin", std::string(3000, 'b'), true}}},
                  {"sub", {{"c.txt", "charlie"}}}};
  return spec;
}

// A tmpfs mounted on a folder for the length of a test. Needs root on Linux (and a
// machine that lets root mount); `why` says what was missing otherwise.
struct TmpfsMount {
  fs::path at;
  bool mounted = false;
  std::string why;

  TmpfsMount(const fs::path& where, const char* options, bool readOnly) {
#ifdef _WIN32
    (void)where, (void)options, (void)readOnly;
    why = "no tmpfs on Windows";
#else
    fs::create_directories(where);
    if (::geteuid() != 0) {
      why = "mounting needs root";
      return;
    }
    if (::mount("tmpfs", where.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options) != 0) {
      why = std::string("mount refused: ") + std::strerror(errno);
      return;
    }
    at = where;
    mounted = true;
#endif
  }
  ~TmpfsMount() {
#ifndef _WIN32
    if (mounted) ::umount2(at.c_str(), MNT_DETACH);
#endif
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
};

TEST(HostileDestination, ReadOnlyNothingIsWrittenAndEveryEntryIsNamed) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(ThreeEntries()).bytes);
  const fs::path dest = folder.path / "ro";
  // Permission bits do not stop root: root gets a read-only mount instead.
  TmpfsMount mount(dest, "size=64k", true);
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no read-only folders the tests can make";
#else
  if (!mount.mounted) {
    if (::geteuid() == 0) GTEST_SKIP() << mount.why;
    fs::permissions(dest, fs::perms::owner_read | fs::perms::owner_exec);
  }
#endif
  const ProgramResult result = RunWza({"extract", "-d", "ro", "a.big"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(CountWriteFailures(result.err, ": cannot create file: "), 3u) << result.err;
  EXPECT_EQ(CountOf(result.err, "\n"), 3u) << result.err;
  EXPECT_TRUE(Contains(result.err, "wza: a.big: data/sub/c.txt: cannot create file: "))
      << result.err;
  EXPECT_TRUE(Contains(result.out, "0 of 3 entries extracted")) << result.out;
#ifndef _WIN32
  // The reason is the folder's that could not be made, not the file's "not found".
  const int reason = mount.mounted ? EROFS : EACCES;
  EXPECT_EQ(
      CountOf(result.err, std::string(": cannot create file: ") + std::strerror(reason) + "\n"), 3u)
      << result.err;
#endif
  EXPECT_EQ(ReadTree(dest), Tree());
}

// A destination that cannot be a folder is named once, with what is wrong with it, and
// nothing is read or written.
TEST(HostileDestination, AFileAPathBelowOneOrALinkToNothingIsNamedOnce) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(ThreeEntries()).bytes);
  WriteFile(folder.path / "dest.txt", "keep me");
  std::vector<std::pair<std::string, std::string>> cases = {
      {"dest.txt", "destination \"dest.txt\" is a file, not a folder"},
      {"dest.txt/below/",
       "destination \"dest.txt/below/\" lies below \"dest.txt\", which is a file"},
  };
#ifndef _WIN32
  fs::create_symlink("gone", folder.path / "link");
  cases.push_back(
      {"link", "destination \"link\" is a symbolic link to something that does not exist"});
  cases.push_back({"link/below",
                   "destination \"link/below\" lies below \"link\", a symbolic link "
                   "to something that does not exist"});
#endif
  const size_t before = ReadTree(folder.path).size();
  for (const auto& [dest, problem] : cases) {
    const ProgramResult result = RunWza({"extract", "-d", dest, "a.big"}, folder.path.string());
    EXPECT_EQ(result.exitCode, 2) << dest;
    EXPECT_EQ(result.err, "wza: " + problem + "\n");
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(ReadFile(folder.path / "dest.txt"), "keep me");
  EXPECT_EQ(ReadTree(folder.path).size(), before);
}

// a.big, alias "data", holds an entry named a.big and lies where that entry is written:
// extracting it into the folder above would write over the archive while it is read.
TEST(HostileDestination, TheArchiveBeingReadIsNeverWrittenOver) {
  TempFolder folder;
  ArchiveSpec spec;
  spec.folders = {{"", {{"before.txt", "before"}, {"a.big", std::string(5000, 'a'), true}}},
                  {"sub", {{"after.txt", "after"}}}};
  const std::string bytes = BuildArchive(spec).bytes;
  const fs::path self = folder.path / "self" / "__a.big" / "data";
  fs::create_directories(self);
  WriteFile(self / "a.big", bytes);

  const ProgramResult result =
      RunWza({"extract", "-d", "self", "self/__a.big/data/a.big"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(
      result.err,
      "wza: self/__a.big/data/a.big: data/a.big: not written: it is the archive being read\n");
  EXPECT_TRUE(Contains(result.out, "2 of 3 entries extracted")) << result.out;
  EXPECT_EQ(ReadFile(self / "a.big"), bytes);
  EXPECT_EQ(ReadFile(self / "before.txt"), "before");
  EXPECT_EQ(ReadFile(self / "sub" / "after.txt"), "after");
#ifndef _WIN32
  // The same file under another name: a hard link where an entry goes.
  fs::remove(self / "sub" / "after.txt");
  fs::create_hard_link(self / "a.big", self / "sub" / "after.txt");
  const ProgramResult linked =
      RunWza({"extract", "-d", "self", "self/__a.big/data/a.big"}, folder.path.string());
  EXPECT_EQ(linked.exitCode, 1);
  EXPECT_TRUE(
      Contains(linked.err, "data/sub/after.txt: not written: it is the archive being read\n"))
      << linked.err;
  EXPECT_EQ(ReadFile(self / "a.big"), bytes);
#endif
}

// Links planted below the archive's folder never send an entry outside the destination: a
// link where a file goes is replaced by the file (with -n kept, as anything there is), a
// link where a folder goes fails every entry below it, by name. The destination itself is
// the user's choice, and a link there is followed.
TEST(HostileDestination, LinksBelowTheArchivesFolderAreNotFollowed) {
  TempFolder folder;
  WriteFile(folder.path / "five.big", BuildArchive(ThreeEntries()).bytes);
  const fs::path outside = folder.path / "outside";
  fs::create_directories(outside);
  WriteFile(outside / "outside.txt", "mine");
  const fs::path real = folder.path / "real";
  const fs::path data = real / "__five.big" / "data";
  fs::create_directories(data);
  TestLinks links;
  if (!links.ToFolder(real, folder.path / "dest")) GTEST_SKIP() << "no symbolic links here";
  const std::string sep(1, platform::kPathSeparator);

  // Wine shows no link to a file as one: this part runs on Linux and on Windows.
  if (links.ToFile(outside / "outside.txt", data / "a.txt")) {
    const ProgramResult kept =
        RunWza({"extract", "-n", "-d", "dest", "five.big"}, folder.path.string());
    EXPECT_EQ(kept.exitCode, 0) << kept.err;
    EXPECT_TRUE(Contains(kept.out, ", 1 already there and kept")) << kept.out;
    EXPECT_TRUE(fs::is_symlink(data / "a.txt"));
    const ProgramResult replaced =
        RunWza({"extract", "-d", "dest", "five.big"}, folder.path.string());
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_FALSE(fs::is_symlink(data / "a.txt"));
    EXPECT_EQ(ReadFile(data / "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(data / "sub" / "c.txt"), "charlie");
    EXPECT_EQ(ReadFile(outside / "outside.txt"), "mine");
  }

  // The alias folder a link, then the archive's own folder.
  for (const fs::path& at : {data, data.parent_path()}) {
    fs::remove_all(real / "__five.big");
    fs::create_directories(at.parent_path());
    ASSERT_TRUE(links.ToFolder(outside, at));
    const ProgramResult result =
        RunWza({"extract", "-d", "dest", "five.big"}, folder.path.string());
    links.Remove(at);
    EXPECT_EQ(result.exitCode, 1);
    const std::string link = "dest" + sep + at.lexically_relative(real).string();
    EXPECT_EQ(CountOf(result.err, ": cannot create file: \"" + link + "\" is a symbolic link"), 3u)
        << result.err;
    EXPECT_TRUE(Contains(result.err, "wza: five.big: data/sub/c.txt: cannot create file: "))
        << result.err;
    EXPECT_EQ(CountOf(result.err, "\n"), 3u) << result.err;
    EXPECT_EQ(ReadFile(outside / "outside.txt"), "mine");
    EXPECT_EQ(ReadTree(outside).size(), 1u) << "entries were written outside the destination";
  }
}

#ifndef _WIN32
// Runs wza and kills it should it still run after 20 seconds: a hang fails in good time.
ProgramResult RunWzaOrKill(const std::vector<std::string>& args, const std::string& folder) {
  const auto start = std::chrono::steady_clock::now();
  bool killed = false;
  ProgramResult result = RunWza(args, folder, [&](long processId) {
    if (killed || std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) return;
    ::kill(static_cast<pid_t>(processId), SIGKILL);
    killed = true;
  });
  EXPECT_FALSE(killed) << "wza hung on " << args[0];
  return result;
}
#endif

// Only a regular file is ever opened where an entry goes. A folder there fails the entry,
// with -n too: it holds none of the entry's bytes. A named pipe there fails it at once
// instead of waiting for a reader (-n keeps it, as anything there but a folder); a named
// pipe given as the archive is refused the same way.
TEST(HostileDestination, AFolderOrANamedPipeWhereAFileGoesFailsThatEntry) {
  TempFolder folder;
  WriteFile(folder.path / "five.big", BuildArchive(ThreeEntries()).bytes);
  const fs::path data = folder.path / "out" / "__five.big" / "data";
  fs::create_directories(data / "b.bin");
  WriteFile(data / "b.bin" / "mine.txt", "mine");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((data / "a.txt").c_str(), 0666), 0);
  const auto run = RunWzaOrKill;
#else
  const auto run = [](const std::vector<std::string>& args, const std::string& at) {
    return RunWza(args, at);
  };
#endif
  for (const bool keep : {false, true}) {
    std::vector<std::string> args = {"extract", "-d", "out", "five.big"};
    if (keep) args.insert(args.begin() + 1, "-n");
    const ProgramResult result = run(args, folder.path.string());
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(Contains(result.err,
                         "wza: five.big: data/b.bin: cannot create file: a folder of "
                         "that name is in the way\n"))
        << result.err;
    EXPECT_EQ(ReadFile(data / "b.bin" / "mine.txt"), "mine");
    EXPECT_EQ(ReadFile(data / "sub" / "c.txt"), "charlie");
#ifndef _WIN32
    EXPECT_EQ(CountOf(result.err, "\n"), keep ? 1u : 2u) << result.err;
    EXPECT_EQ(Contains(result.err,
                       "wza: five.big: data/a.txt: cannot create file: a named pipe "
                       "(FIFO) of that name is in the way\n"),
              !keep)
        << result.err;
    EXPECT_TRUE(fs::is_fifo(data / "a.txt"));
#endif
  }
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((folder.path / "pipe.big").c_str(), 0666), 0);
  for (const char* command : {"list", "extract"}) {
    const ProgramResult result = RunWzaOrKill({command, "pipe.big"}, folder.path.string());
    EXPECT_EQ(result.exitCode, 2) << command;
    EXPECT_EQ(result.err, "wza: Error open file \"pipe.big\": not a regular file\n") << command;
  }
#endif
}

#ifndef _WIN32
// A run stuck in a system call, here writing to a standard error no one reads, ends on the
// second Ctrl-C at the latest, instead of waiting on for ever.
TEST(HostileDestination, ASecondInterruptEndsARunStuckInASystemCall) {
  TempFolder folder;
  TestFolder unsafe;  // a line on standard error for each
  for (int i = 0; i < 3000; ++i) unsafe.entries.push_back({"..\\" + std::to_string(i), "x"});
  ArchiveSpec spec;
  spec.folders = {unsafe};
  WriteFile(folder.path / "many.big", BuildArchive(spec).bytes);
  const fs::path errors = folder.path / "errors";
  ASSERT_EQ(::mkfifo(errors.c_str(), 0666), 0);
  // Open for reading and never read: the pipe fills, and then wza's writes wait.
  const int reader = ::open(errors.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const int full = ::fcntl(reader, F_GETPIPE_SZ) - 4096;
  for (const char* threads : {"-j1", "-j2"}) {
    int sent = 0;
    bool killed = false;
    std::chrono::steady_clock::time_point first;
    const ProgramResult result = RunWzaInShell(
        std::string("exec WZA extract ") + threads + " -d out many.big 2>errors",
        folder.path.string(), [&](long processId) {
          const pid_t wza = static_cast<pid_t>(processId);
          const auto now = std::chrono::steady_clock::now();
          int queued = 0;
          if (sent == 0 && ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= full) {
            ::kill(wza, SIGINT);
            first = now;
            sent = 1;
          } else if (sent == 1 && now - first > std::chrono::milliseconds(300)) {
            ::kill(wza, SIGINT);
            sent = 2;
          } else if (sent == 2 && !killed && now - first > std::chrono::seconds(15)) {
            ::kill(wza, SIGKILL);
            killed = true;
          }
        });
    EXPECT_GE(sent, 1) << threads;
    EXPECT_FALSE(killed) << threads << ": still running after the second Ctrl-C";
    EXPECT_TRUE(result.signal == SIGINT || result.exitCode == 130)
        << threads << ": " << result.signal << " " << result.exitCode;
    char drained[65536];
    while (::read(reader, drained, sizeof drained) > 0) {
    }
  }
  ::close(reader);
}
#endif

// Reads a file through the tool's own file layer, which reaches long paths on Windows.
std::string ReadThroughPlatform(const std::string& path) {
  platform::FilePtr file = platform::OpenForRead(path);
  uint64_t length = 0;
  if (!file || !platform::FileLength(*file, length)) return "<cannot open " + path + ">";
  std::string bytes(static_cast<size_t>(length), '\0');
  bytes.resize(platform::ReadAt(*file, 0, &bytes[0], bytes.size()));
  return bytes;
}

TEST(HostileDestination, OutputPathsLongerThanMaxPathAreWritten) {
  TempFolder folder;
  const std::string sep(1, platform::kPathSeparator);
  // The destination alone is over 200 characters; with the entries' folders every output
  // path is far beyond Windows' 260.
  const std::string dest =
      (folder.path / std::string(70, 'd') / std::string(70, 'e') / std::string(70, 'f')).string();
  const std::string deep = std::string(80, 'x') + "\\" + std::string(80, 'y');
  ArchiveSpec spec;
  spec.alias = "data";
  spec.folders = {{deep,
                   {{std::string(60, 'n') + ".txt", "deep"},
                    {"short.txt", "short"},
                    {std::string(300, 'c') + ".txt", "component too long"}}},
                  {"", {{"top.txt", "top"}}}};
  WriteFile(folder.path / "long.big", BuildArchive(spec).bytes);
  const ProgramResult result = RunWza({"extract", "-d", dest, "long.big"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1) << result.err;
  // No file system takes a name of 300 characters in one component.
  EXPECT_EQ(CountWriteFailures(result.err, ": cannot create file: "), 1u) << result.err;
  EXPECT_EQ(CountOf(result.err, "\n"), 1u) << result.err;

  const std::string root = dest + sep + "__long.big" + sep + "data" + sep;
  const std::string deepPath = root + std::string(80, 'x') + sep + std::string(80, 'y') + sep +
                               std::string(60, 'n') + ".txt";
  EXPECT_GT(deepPath.size(), 260u + 200u);
  uint64_t size = 0;
  EXPECT_TRUE(platform::FileSizeAt(deepPath, size)) << deepPath;
  EXPECT_EQ(ReadThroughPlatform(deepPath), "deep");
  EXPECT_EQ(ReadThroughPlatform(root + std::string(80, 'x') + sep + std::string(80, 'y') + sep +
                                "short.txt"),
            "short");
  EXPECT_EQ(ReadThroughPlatform(root + "top.txt"), "top");
}

#ifndef _WIN32
// Linux takes paths of up to PATH_MAX bytes with the terminating NUL: one of exactly that
// length is written, one a byte longer is refused with the system's reason.
TEST(HostileDestination, PathsAtTheLinuxLengthLimit) {
  TempFolder folder;
  const std::string dest = (folder.path / "out").string();
  const std::string root = dest + "/__limit.big/data/";
  std::string folderName;
  while (root.size() + folderName.size() + 254 < PATH_MAX - 1) {
    folderName += std::string(200, 'p') + "/";
  }
  folderName.pop_back();
  const size_t fileLength = PATH_MAX - 1 - root.size() - folderName.size() - 1;
  ASSERT_GT(fileLength, 0u);
  ASSERT_LE(fileLength, 254u);
  ArchiveSpec spec;
  spec.alias = "data";
  spec.folders = {{folderName,
                   {{std::string(fileLength, 'a'), "at the limit"},
                    {std::string(fileLength + 1, 'b'), "one byte over"}}},
                  {"", {{"ok.txt", "fine"}}}};
  WriteFile(folder.path / "limit.big", BuildArchive(spec).bytes);
  const ProgramResult result = RunWza({"extract", "-d", dest, "limit.big"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(CountOf(result.err, "\n"), 1u) << result.err;
  EXPECT_TRUE(
      Contains(result.err, "bbbb: cannot create file: " + std::string(std::strerror(ENAMETOOLONG))))
      << result.err;
  const std::string atLimit = root + folderName + "/" + std::string(fileLength, 'a');
  EXPECT_EQ(atLimit.size(), static_cast<size_t>(PATH_MAX - 1));
  EXPECT_EQ(ReadThroughPlatform(atLimit), "at the limit");
  EXPECT_EQ(ReadFile(root + "ok.txt"), "fine");
}
#endif

TEST(HostileDestination, ADiskThatFillsUpMidRunFailsEntryByEntryAndGoesOn) {
  TempFolder folder;
  TmpfsMount mount(folder.path / "small", "size=256k", false);
  if (!mount.mounted) GTEST_SKIP() << mount.why;
  ArchiveSpec spec;
  spec.folders = {{"",
                   {{"first.bin", std::string(64 << 10, 'a')},
                    {"huge.bin", std::string(1 << 20, '\0'), true},
                    {"after.txt", "after"},
                    {"empty.txt", ""}}}};
  WriteFile(folder.path / "a.big", BuildArchive(spec).bytes);
  ArchiveSpec next;
  next.folders = {{"", {{"nothing.txt", ""}}}};
  WriteFile(folder.path / "b.big", BuildArchive(next).bytes);

  const ProgramResult result =
      RunWza({"extract", "-j1", "-d", "small", "a.big", "b.big"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1);
  const std::string full = std::strerror(ENOSPC);
  EXPECT_TRUE(Contains(result.err, "wza: a.big: data/huge.bin: cannot write file: " + full + "\n"))
      << result.err;
  // The file may still be created on a full disk; its bytes cannot be written.
  EXPECT_TRUE(
      Contains(result.err, "wza: a.big: data/after.txt: cannot write file: " + full + "\n") ||
      Contains(result.err, "wza: a.big: data/after.txt: cannot create file: " + full + "\n"))
      << result.err;
  EXPECT_EQ(CountOf(result.err, "\n"), 2u) << result.err;
  EXPECT_TRUE(Contains(result.out, "3 of 5 entries extracted")) << result.out;
  const fs::path out = folder.path / "small" / "__a.big" / "data";
  EXPECT_EQ(ReadFile(out / "first.bin"), std::string(64 << 10, 'a'));
  EXPECT_LT(fs::file_size(out / "huge.bin"), 1u << 20);
  EXPECT_TRUE(fs::exists(out / "empty.txt"));
  EXPECT_TRUE(fs::exists(folder.path / "small" / "__b.big" / "data" / "nothing.txt"));

  // With threads, which entries the disk still takes depends on their timing; but every
  // entry is either whole or named once, in entry order, and none goes missing unnamed.
  fs::remove_all(out.parent_path());
  fs::remove_all(folder.path / "small" / "__b.big");
  const ProgramResult threaded =
      RunWza({"extract", "-j4", "-d", "small", "a.big", "b.big"}, folder.path.string());
  EXPECT_EQ(threaded.exitCode, 1);
  size_t named = 0;
  size_t lastAt = 0;
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"first.bin", std::string(64 << 10, 'a')},
      {"huge.bin", std::string(1 << 20, '\0')},
      {"after.txt", "after"},
      {"empty.txt", ""}};
  for (const auto& [name, bytes] : entries) {
    const size_t at = threaded.err.find("wza: a.big: data/" + name + ": cannot ");
    if (at == std::string::npos) {
      EXPECT_TRUE(ReadFile(out / name) == bytes) << name;
      continue;
    }
    EXPECT_GE(at, lastAt) << name << " out of order: " << threaded.err;
    lastAt = at;
    EXPECT_EQ(CountOf(threaded.err, "data/" + name + ":"), 1u) << threaded.err;
    ++named;
  }
  EXPECT_GE(named, 1u) << threaded.err;
  EXPECT_EQ(CountOf(threaded.err, "\n"), named) << threaded.err;
  EXPECT_TRUE(Contains(threaded.out, std::to_string(5 - named) + " of 5 entries extracted"))
      << threaded.out;
}

}  // namespace
