// Terminal-coloured output: 10^6 short lines, each in colour and back, written through a
// descriptor stream and through fprintf with the same escape sequences, into /dev/null (both
// buffered) and into a pseudo-terminal (where the descriptor stream writes each piece at once
// and the C library buffers by line). The summary table sets our figures beside fprintf's.

#include <benchmark/benchmark.h>

#include "bench/TimeRecorder.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "support/streams/FdOutStream.h"

namespace {

const int lineCount = 1000000;
const int ptyLineCount = 100000;

void writeLines(vorn::FdOutStream &s, int count) {
  for (int i = 0; i < count; ++i) {
    s.setColor(vorn::TerminalColor::Green) << "line " << i;
    s.restoreColor() << '\n';
  }
}

void printfLines(std::FILE *f, int count) {
  for (int i = 0; i < count; ++i) std::fprintf(f, "\x1b[0;32mline %d\x1b[0m\n", i);
}

void Colour_FdOutStream_devnull(benchmark::State &state) {
  vorn::FdOutStream s(open("/dev/null", O_WRONLY), true);
  for (auto _ : state) {
    writeLines(s, lineCount);
    s.flush();
  }
}

void Colour_fprintf_devnull(benchmark::State &state) {
  std::FILE *f = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    printfLines(f, lineCount);
    std::fflush(f);
  }
  std::fclose(f);
}

// A pseudo-terminal whose master side a thread drains for the duration.
struct DrainedPty {
  int master = -1, slave = -1;
  std::atomic<bool> stop{false};
  std::thread reader;
  DrainedPty() {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
    termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    reader = std::thread([this] {
      char buffer[65536];
      while (!stop) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 50) > 0 && read(master, buffer, sizeof buffer) < 0) break;
      }
    });
  }
  ~DrainedPty() {
    stop = true;
    if (reader.joinable()) reader.join();
    close(slave);
    close(master);
  }
};

void Colour_FdOutStream_pty(benchmark::State &state) {
  DrainedPty pty;
  vorn::FdOutStream s(pty.slave, false);
  for (auto _ : state) writeLines(s, ptyLineCount);
}

void Colour_fprintf_pty(benchmark::State &state) {
  DrainedPty pty;
  std::FILE *f = fdopen(dup(pty.slave), "w"); // line-buffered: it is a terminal
  for (auto _ : state) printfLines(f, ptyLineCount);
  std::fclose(f);
}

BENCHMARK(Colour_FdOutStream_devnull)->Unit(benchmark::kMillisecond);
BENCHMARK(Colour_fprintf_devnull)->Unit(benchmark::kMillisecond);
BENCHMARK(Colour_FdOutStream_pty)->Unit(benchmark::kMillisecond);
BENCHMARK(Colour_fprintf_pty)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  TimeRecorder reporter;
  if (!runBenchmarks(argc, argv, reporter)) return 1;
  // On a terminal ours writes each piece at once and fprintf each line: no goal there.
  RatioTable table("CPU time per 10^6 lines into /dev/null, per 10^5 into a terminal");
  table.add(reporter, "Colour_FdOutStream_devnull", "Colour_fprintf_devnull", Goal::below(1));
  table.add(reporter, "Colour_FdOutStream_pty", "Colour_fprintf_pty");
  table.print();
  benchmark::Shutdown();
  return 0;
}
