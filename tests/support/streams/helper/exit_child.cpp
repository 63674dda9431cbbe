// A child program for the exit-time tests of the standard streams. argv[1] picks the scenario.

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

#include "support/streams/StdStreams.h"

namespace {

void waitForGo() {
  char c;
  while (read(0, &c, 1) < 0) {
  }
}

// Registered before the standard output stream exists, so it runs after that stream is gone.
void reportDescriptors() {
  const char *text1 = fcntl(1, F_GETFD) < 0 ? "1:closed " : "1:open ";
  const char *text2 = fcntl(2, F_GETFD) < 0 ? "2:closed\n" : "2:open\n";
  ssize_t r = write(2, text1, strlen(text1));
  r = write(2, text2, strlen(text2));
  (void)r;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  const char *mode = argv[1];
  if (!strcmp(mode, "hold")) {
    // Output is written, then the process waits: what the parent sees before it says go is what
    // the streams handed to the descriptors at once.
    vorn::stdoutStream() << "out:" << 42;
    vorn::stderrStream() << "err:" << 7;
    waitForGo();
    return 0;
  }
  if (!strcmp(mode, "fail")) {
    signal(SIGPIPE, SIG_IGN);
    vorn::stdoutStream() << "answer\n";
    if (argc > 2) vorn::stdoutStream().flush(); // fail during the run rather than at exit
    return 0;
  }
  if (!strcmp(mode, "threads")) {
    // Two threads released together make the first call of the standard error stream and then
    // write through it at once, each line (after an empty piece) in one write; the byte count
    // the stream kept goes to the standard output at the end.
    std::atomic<bool> go{false};
    auto writer = [&go](const char *line) {
      while (!go.load()) sched_yield();
      vorn::FdOutStream &err = vorn::stderrStream();
      for (int i = 0; i < 1000; ++i) err << "" << line;
    };
    std::thread a(writer, "thread a\n"), b(writer, "thread b\n");
    go.store(true);
    a.join();
    b.join();
    vorn::stdoutStream() << "count:" << vorn::stderrStream().getBytesWritten();
    return 0;
  }
  if (!strcmp(mode, "descriptors")) {
    atexit(reportDescriptors);
    vorn::stderrStream() << "";
    vorn::stdoutStream() << "bye\n";
    return 0;
  }
  return 2;
}
