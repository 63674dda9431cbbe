// Jobs of the support library for the failure-point enumeration (tests/faults/driver.cpp). Each
// subcommand does one job the way a careful client does: it reports a failure with a message
// naming what failed and status 1, and removes what it made. Run in the directory the driver
// prepared:
//
//   fault_library_scenarios setup NAME   makes the job's input files (never under the injector)
//   fault_library_scenarios NAME         does the job
//
// Under the fault injector only the library's own work is counted: the program disarms the
// injector for its own bookkeeping (fault_injector_arm, when the injector is loaded), but not
// before main, so that the library's static initialisers are counted too. Around the job it
// checks what the library must not leave behind: a descriptor opened and not closed, a child
// process not waited for. Such a finding is a line starting with "fault-check:" and status 3.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/fs/DirIterator.h"
#include "support/fs/Files.h"
#include "support/fs/MappedRegion.h"
#include "support/fs/UniqueFiles.h"
#include "support/process/Program.h"
#include "support/process/Signals.h"
#include "support/runtime/ErrorCode.h"
#include "support/streams/FdOutStream.h"

extern "C" void fault_injector_arm(int on) __attribute__((weak));

namespace {

using namespace vorn;

void arm(bool on) {
  if (fault_injector_arm)
    fault_injector_arm(on ? 1 : 0);
}

// What a job hands back: status 0 with its output, or 1 with the message.
struct Outcome {
  int status = 0;
  std::string output;
  std::string message;
};

Outcome failed(const std::string &message) {
  Outcome o;
  o.status = 1;
  o.message = message;
  return o;
}

std::string describe(const ErrorCode &ec) { return ec.message(); }

// Files a job makes are registered for removal should the library end the process (fatalError
// removes registered files), as a careful client does; the registration is not under test here.
void own(const std::string &path) {
  proc::registerSignalCleanupFile(path);
}

void release(const std::string &path) { proc::unregisterSignalCleanupFile(path); }

// ---- input files -----------------------------------------------------------------------------

bool writeWholeFile(const std::string &path, const std::string &text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return false;
  bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  return ::close(fd) == 0 && ok;
}

// The text the output-file job writes: 20000 bytes, several buffers' worth.
std::string outputText() {
  std::string text;
  char line[64];
  for (int i = 0; text.size() < 20000; ++i) {
    snprintf(line, sizeof line, "line %05d of the output file\n", i);
    text += line;
  }
  text.resize(20000);
  return text;
}

// Three pages of a known pattern for the mapping job.
std::string mappedText() {
  std::string text(3 * 4096, '\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = char('a' + (i * 7) % 26);
  return text;
}

std::string cwdPath(const char *name) {
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd))
    return name;
  return std::string(cwd) + "/" + name;
}

int setup(const std::string &name) {
  bool ok = true;
  if (name == "remove-all") {
    // 100 entries: 9 directories of 10 files each and the 9 directories, plus a link.
    ok = ::mkdir("tree", 0755) == 0;
    for (int d = 0; ok && d < 9; ++d) {
      std::string dir = "tree/d" + std::to_string(d);
      ok = ::mkdir(dir.c_str(), 0755) == 0;
      for (int f = 0; ok && f < 10; ++f)
        ok = writeWholeFile(dir + "/f" + std::to_string(f), "entry\n");
    }
    ok = ok && ::symlink("d0/f0", "tree/link") == 0;
  } else if (name == "dir-iteration") {
    ok = ::mkdir("dir", 0755) == 0;
    for (int i = 0; ok && i < 30; ++i)
      ok = writeWholeFile("dir/entry" + std::to_string(i), "x");
  } else if (name == "mapped-region") {
    ok = writeWholeFile("data.bin", mappedText());
  } else if (name == "temp-files") {
    ok = ::mkdir("tmp", 0755) == 0;
  } else if (name == "signal-cleanup") {
    ok = writeWholeFile("cleanup.tmp", "to be removed\n");
  }
  if (!ok)
    fprintf(stderr, "setup of %s failed: %s\n", name.c_str(), strerror(errno));
  return ok ? 0 : 2;
}

// ---- the jobs --------------------------------------------------------------------------------

Outcome outputFile() {
  const std::string text = outputText();
  const std::string path = cwdPath("out.txt");
  own(path);
  std::string openError;
  bool writeFailed;
  uint64_t written;
  {
    arm(true);
    FdOutStream out("out.txt", openError, files::OpenFlags::None);
    if (openError.empty()) {
      // In small pieces, through the stream's buffer.
      for (size_t at = 0; at < text.size(); at += 40)
        out << StrView(text.data() + at, std::min<size_t>(40, text.size() - at));
      out.flush();
      out.close();
    }
    writeFailed = out.hasWriteFailed();
    written = out.getBytesWritten();
    out.clearWriteFailed(); // reported below
    arm(false);
  }
  if (!openError.empty()) {
    release(path);
    return failed(openError);
  }
  if (writeFailed) {
    ::unlink(path.c_str());
    release(path);
    return failed("error writing output file 'out.txt' (removed)");
  }
  release(path);
  Outcome o;
  o.output = "wrote " + std::to_string(written) + " bytes to out.txt\n";
  return o;
}

Outcome removeAll() {
  uint32_t removed = 0;
  arm(true);
  ErrorCode ec = files::removeAll("tree", removed);
  arm(false);
  if (ec)
    return failed("cannot remove tree 'tree': " + describe(ec) + " (" + std::to_string(removed) +
                  " entries removed)");
  Outcome o;
  o.output = "removed " + std::to_string(removed) + " entries\n";
  return o;
}

Outcome tempFiles() {
  int fd = -1;
  InlineString<128> file, dir;
  arm(true);
  ErrorCode fileError = files::makeTempFile("faults", "txt", fd, file);
  arm(false);
  if (fileError)
    return failed("cannot make a temporary file: " + describe(fileError));
  std::string fileName(file.view().data(), file.view().size());
  own(fileName);
  bool written = ::write(fd, "temporary\n", 10) == 10;
  ::close(fd);
  arm(true);
  ErrorCode dirError = files::makeUniqueDirectory("faults-dir", dir);
  arm(false);
  // Both are the job's own: they go when it ends, made or not.
  ::unlink(fileName.c_str());
  release(fileName);
  if (dirError)
    return failed("cannot make a temporary directory: " + describe(dirError));
  std::string dirName(dir.view().data(), dir.view().size());
  struct stat st;
  bool isDir = ::stat(dirName.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  ::rmdir(dirName.c_str());
  if (!written || !isDir)
    return failed("the temporary file or directory reported as made is not there");
  Outcome o;
  o.output = "made a temporary file and a temporary directory\n";
  return o;
}

// A child program with its input from /dev/null, its output and error in files, and a time
// limit; `memoryLimit` chooses the fork-and-exec route over posix_spawn.
Outcome childProgram(uint32_t memoryLimit) {
  const char *args[] = {"/bin/sh", "-c", "echo child output; echo child error >&2; exit 0", nullptr};
  // The child gets a plain environment: the injector is not loaded into it.
  const char *env[] = {"PATH=/usr/bin:/bin", "LANG=C", nullptr};
  StrView in(""), out("child.out"), err("child.err");
  const StrView *redirects[] = {&in, &out, &err};
  std::string message;
  bool executionFailed = false;
  const std::string outPath = cwdPath("child.out"), errPath = cwdPath("child.err");
  own(outPath);
  own(errPath);
  arm(true);
  int code = proc::runAndWait("/bin/sh", args, env, redirects, 10, memoryLimit, &message,
                              &executionFailed);
  arm(false);
  release(outPath);
  release(errPath);
  if (code != 0) {
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    if (message.empty())
      message = "(no message)";
    return failed("child program /bin/sh ended with " + std::to_string(code) + ": " + message);
  }
  Outcome o;
  o.output = "child program ended with 0\n";
  return o;
}

Outcome mappedRegion() {
  const std::string expected = mappedText();
  ErrorCode ec;
  std::string seen;
  uint64_t size = 0;
  {
    arm(true);
    MappedRegion region("data.bin", MapMode::ReadOnly, 0, 0, ec);
    arm(false);
    if (!ec && region.constData()) {
      seen.assign(region.constData(), size_t(region.size()));
      size = region.size();
    }
    arm(true);
  }
  arm(false);
  if (ec)
    return failed("cannot map 'data.bin': " + describe(ec));
  if (seen != expected)
    return failed("the mapping of 'data.bin' does not hold the file's bytes");

  // A new file grown to two pages through a shared mapping, then written through it.
  const std::string grown = cwdPath("grown.bin");
  own(grown);
  int fd = ::open(grown.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return failed("cannot make 'grown.bin'");
  {
    arm(true);
    MappedRegion region(fd, true, MapMode::ReadWrite, 2 * 4096, 0, ec);
    arm(false);
    if (!ec && region.data())
      for (size_t i = 0; i < 2 * 4096; ++i)
        region.data()[i] = char('A' + i % 26);
    arm(true);
  }
  arm(false);
  release(grown);
  if (ec) {
    ::unlink(grown.c_str());
    return failed("cannot map 'grown.bin' for writing: " + describe(ec));
  }
  Outcome o;
  o.output = "mapped " + std::to_string(size) + " bytes of data.bin and grew grown.bin\n";
  return o;
}

Outcome dirIteration() {
  std::vector<std::string> names;
  ErrorCode ec;
  {
    arm(true);
    DirIterator it("dir", ec), end;
    while (!ec && it != end) {
      arm(false);
      names.push_back(it->path());
      arm(true);
      it.increment(ec);
    }
    // The iterator closes the directory when it goes away.
  }
  arm(false);
  if (ec)
    return failed("cannot list directory 'dir': " + describe(ec));
  std::sort(names.begin(), names.end());
  Outcome o;
  for (const std::string &name : names)
    o.output += name + "\n";
  return o;
}

// Registers a file for removal and interrupts itself: the file goes and the process ends by
// SIGINT. Ending any other way is what the driver finds wrong.
Outcome signalCleanup() {
  const std::string path = cwdPath("cleanup.tmp");
  arm(true);
  std::string message;
  bool failure = proc::registerSignalCleanupFile(path, &message);
  if (!failure)
    ::raise(SIGINT);
  arm(false);
  if (failure)
    return failed("cannot register 'cleanup.tmp' for removal: " + message);
  Outcome o = failed("still running after SIGINT");
  o.status = 3;
  o.message = "fault-check: " + o.message;
  return o;
}

struct Job {
  const char *name;
  Outcome (*run)();
};

const Job jobs[] = {
    {"output-file", outputFile},
    {"remove-all", removeAll},
    {"temp-files", tempFiles},
    {"child-program", [] { return childProgram(0); }},
    {"child-program-limited", [] { return childProgram(512); }},
    {"mapped-region", mappedRegion},
    {"dir-iteration", dirIteration},
    {"signal-cleanup", signalCleanup},
};

std::vector<std::string> openDescriptors() {
  std::vector<std::string> fds;
  DIR *dir = ::opendir("/proc/self/fd");
  if (!dir)
    return fds;
  std::string own = std::to_string(::dirfd(dir));
  while (struct dirent *entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || name == own)
      continue;
    char target[4096];
    ssize_t n = ::readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
    fds.push_back(name + " -> " + (n > 0 ? std::string(target, size_t(n)) : "?"));
  }
  ::closedir(dir);
  std::sort(fds.begin(), fds.end());
  return fds;
}

} // namespace

int main(int argc, char **argv) {
  arm(false);
  if (argc == 3 && std::strcmp(argv[1], "setup") == 0)
    return setup(argv[2]);
  const Job *job = nullptr;
  for (const Job &j : jobs)
    if (argc == 2 && std::strcmp(argv[1], j.name) == 0)
      job = &j;
  if (!job) {
    fprintf(stderr, "usage: %s [setup] JOB\njobs:", argc > 0 ? argv[0] : "fault_library_scenarios");
    for (const Job &j : jobs)
      fprintf(stderr, " %s", j.name);
    fprintf(stderr, "\n");
    return 2;
  }

  const std::vector<std::string> before = openDescriptors();
  Outcome outcome = job->run();
  arm(false);

  int status = outcome.status;
  for (const std::string &fd : openDescriptors())
    if (std::find(before.begin(), before.end(), fd) == before.end()) {
      fprintf(stderr, "fault-check: descriptor %s left open by %s\n", fd.c_str(), job->name);
      status = 3;
    }
  int childStatus;
  pid_t child = ::waitpid(-1, &childStatus, WNOHANG);
  if (child == 0) {
    fprintf(stderr, "fault-check: a child process is still running after %s\n", job->name);
    status = 3;
  } else if (child > 0) {
    fprintf(stderr, "fault-check: child %d of %s was never waited for\n", int(child), job->name);
    status = 3;
  }

  if (outcome.status != 0 && outcome.message.compare(0, 12, "fault-check:") == 0)
    fprintf(stderr, "%s (%s)\n", outcome.message.c_str(), job->name);
  else if (outcome.status != 0)
    fprintf(stderr, "%s: %s\n", job->name, outcome.message.c_str());
  else
    fputs(outcome.output.c_str(), stdout);
  return status;
}
