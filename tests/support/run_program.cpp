#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace {

#ifdef _WIN32
// Quotes one argument the way the C runtime splits a command line again.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    quoted.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    slashes = 0;
    quoted.push_back(c);
  }
  quoted.append(slashes * 2, '\\');
  return quoted + "\"";
}
#endif

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder, const WhileRunning& whileRunning) {
  ProgramResult result;
  TempFolder capture;
  const fs::path outPath = capture.path / "out.txt";
  const fs::path errPath = capture.path / "err.txt";
#ifdef _WIN32
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileA(outPath.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileA(errPath.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  std::string commandLine = Quote(program);
  for (const std::string& arg : args) commandLine += " " + Quote(arg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                     workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &process)) {
    const DWORD limit = kProgramTimeLimitSeconds * 1000u;
    const DWORD start = GetTickCount();
    DWORD waited = WAIT_TIMEOUT;
    while ((waited = WaitForSingleObject(process.hProcess, whileRunning ? 2 : limit)) ==
               WAIT_TIMEOUT &&
           GetTickCount() - start < limit) {
      if (whileRunning) whileRunning(static_cast<long>(process.dwProcessId));
    }
    if (waited == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 124);
      WaitForSingleObject(process.hProcess, INFINITE);
      result.timedOut = true;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out);
  CloseHandle(err);
#else
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (child > 0) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kProgramTimeLimitSeconds);
    pid_t done = 0;
    struct rusage usage {};
    while ((done = wait4(child, &status, WNOHANG, &usage)) == 0) {
      if (whileRunning) whileRunning(static_cast<long>(child));
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        done = wait4(child, &status, 0, &usage);
        result.timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (done == child) result.peakKiB = usage.ru_maxrss;
    if (done == child && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (done == child && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
#endif
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  result.rawOut = result.out;
#ifdef _WIN32
  // Text-mode output ends its lines with CR LF; the tests compare lines.
  for (std::string* text : {&result.out, &result.err}) {
    std::string lines;
    for (size_t i = 0; i < text->size(); ++i) {
      if ((*text)[i] != '\r' || i + 1 >= text->size() || (*text)[i + 1] != '\n')
        lines += (*text)[i];
    }
    *text = lines;
  }
#endif
  return result;
}

std::string SiblingProgram(const std::string& name) {
#ifdef _WIN32
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  return (fs::path(self).parent_path() / (name + ".exe")).string();
#else
  return (fs::read_symlink("/proc/self/exe").parent_path() / name).string();
#endif
}

ProgramResult RunWza(const std::vector<std::string>& args, const std::string& workingFolder,
                     const WhileRunning& whileRunning) {
  ProgramResult result = RunProgram(SiblingProgram("wza"), args, workingFolder, whileRunning);
  EXPECT_FALSE(result.timedOut) << "wza hung on " << (args.empty() ? "no arguments" : args[0]);
  return result;
}

#ifndef _WIN32
ProgramResult RunWzaInShell(const std::string& commandLine, const std::string& workingFolder,
                            const WhileRunning& whileRunning) {
  const std::string wza = "'" + SiblingProgram("wza") + "'";
  std::string expanded = commandLine;
  for (size_t at = expanded.find("WZA"); at != std::string::npos;
       at = expanded.find("WZA", at + wza.size())) {
    expanded.replace(at, 3, wza);
  }
  ProgramResult result = RunProgram("/bin/sh", {"-c", expanded}, workingFolder, whileRunning);
  EXPECT_FALSE(result.timedOut) << "hung: " << commandLine;
  return result;
}
#endif

size_t CountOf(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

bool Contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}
