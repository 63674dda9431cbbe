// The stress driver: input generation, replay, failure capture and the rate report.

#include "stress/StressDriver.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/common/TestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace stress {

namespace {

const Target *target = nullptr;

// What is running now; read by the failure paths, some of them signal handlers.
const uint8_t *currentData = nullptr;
size_t currentSize = 0;
volatile sig_atomic_t trialActive = 0;
volatile sig_atomic_t trialNumber = 0;
uint64_t runSeed = 0;
uint64_t currentIteration = 0;
const char *currentReplay = nullptr; // the stored input being replayed, if any
char savePrefix[4096];               // "DIR/NAME-SEED-"
volatile sig_atomic_t saved = 0;
unsigned hangSeconds = 60;
std::string scratch;
pid_t scratchOwner = 0;

uint64_t splitmix(uint64_t &state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// Input `i` of the run with `seed`: a length skewed toward short inputs, then random bytes.
void makeInput(uint64_t seed, uint64_t i, std::vector<uint8_t> &out) {
  uint64_t state = seed ^ (i * 0xd1b54a32d192ed03ull);
  splitmix(state);
  uint64_t r = splitmix(state);
  uint32_t max = target->maxInput;
  uint32_t cap;
  switch (r & 3) {
  case 0: cap = 16; break;
  case 1: cap = 64; break;
  case 2: cap = 256; break;
  default: cap = max; break;
  }
  if (cap > max) cap = max;
  size_t n = size_t((r >> 8) % (uint64_t(cap) + 1));
  out.resize(n);
  for (size_t k = 0; k < n; k += 8) {
    uint64_t w = splitmix(state);
    for (size_t b = k; b < n && b < k + 8; ++b, w >>= 8) out[b] = uint8_t(w);
  }
}

// Async-signal-safe helpers for the failure paths.
void writeText(const char *s) {
  ssize_t unused = write(2, s, strlen(s));
  (void)unused;
}
void formatUnsigned(char *out, uint64_t v) {
  char digits[24];
  int n = 0;
  do digits[n++] = char('0' + v % 10); while (v /= 10);
  while (n) *out++ = digits[--n];
  *out = '\0';
}

// Saves the current input where the report says; safe in a signal handler.
void saveCurrentInput() {
  if (saved || !trialActive) return;
  saved = 1;
  if (currentReplay) {
    writeText("stress: the failing input is the stored input ");
    writeText(currentReplay);
    writeText("\n");
    return;
  }
  char path[4200];
  strcpy(path, savePrefix);
  formatUnsigned(path + strlen(path), currentIteration);
  strcat(path, ".bin");
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0;
  if (ok) {
    size_t done = 0;
    while (done < currentSize) {
      ssize_t n = write(fd, currentData + done, currentSize - done);
      if (n <= 0) {
        ok = false;
        break;
      }
      done += size_t(n);
    }
    close(fd);
  }
  writeText(ok ? "stress: failing input saved as " : "stress: could not save the failing input as ");
  writeText(path);
  writeText("\nstress: replay it with: ");
  writeText(target->name);
  writeText(" --replay ");
  writeText(path);
  writeText("\n");
}

void onFatalSignal(int sig) {
  writeText("stress: fatal signal during a trial\n");
  saveCurrentInput();
  signal(sig, SIG_DFL);
  raise(sig);
}

void onTick(int) {
  static sig_atomic_t lastTrial = -1;
  static unsigned ticks = 0;
  if (!trialActive) {
    ticks = 0;
    return;
  }
  if (trialNumber != lastTrial) {
    lastTrial = trialNumber;
    ticks = 0;
    return;
  }
  if (++ticks >= hangSeconds) {
    writeText("stress: one input has run too long (a hang?)\n");
    saveCurrentInput();
    signal(SIGABRT, SIG_DFL);
    abort();
  }
}

void installHandlers() {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers report and end the process themselves; save the input on the way out.
  __sanitizer_set_death_callback(&saveCurrentInput);
  int fatal[] = {SIGABRT};
#else
  int fatal[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};
#endif
  for (int sig : fatal) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = &onFatalSignal;
    sigaction(sig, &sa, nullptr);
  }
  struct sigaction tick;
  memset(&tick, 0, sizeof tick);
  tick.sa_handler = &onTick;
  tick.sa_flags = SA_RESTART;
  sigaction(SIGALRM, &tick, nullptr);
  struct itimerval every = {{1, 0}, {1, 0}};
  setitimer(ITIMER_REAL, &every, nullptr);
}

void stopTicks() {
  struct itimerval off = {{0, 0}, {0, 0}};
  setitimer(ITIMER_REAL, &off, nullptr);
}

// Forked children that call exit() run the handlers too; only the process that made the
// directory removes it.
void removeScratch() {
  if (!scratch.empty() && getpid() == scratchOwner) testsupport::removeTree(scratch);
}

void runOne(const uint8_t *data, size_t size) {
  currentData = data;
  currentSize = size;
  trialNumber = trialNumber + 1;
  trialActive = 1;
  Input in(data, size);
  target->property(in);
  trialActive = 0;
}

bool readWhole(const std::string &path, std::vector<uint8_t> &out) {
  std::string text;
  if (!testsupport::readFile(path, &text)) return false;
  out.assign(text.begin(), text.end());
  return true;
}

// The stored inputs named by `path`: the file itself, or every regular file in the directory.
std::vector<std::string> storedInputs(const std::string &path) {
  std::vector<std::string> files;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return files;
  if (!S_ISDIR(st.st_mode)) {
    files.push_back(path);
    return files;
  }
  if (DIR *dir = opendir(path.c_str())) {
    while (dirent *e = readdir(dir)) {
      std::string full = path + "/" + e->d_name;
      if (e->d_name[0] != '.' && stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        files.push_back(full);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

uint64_t freshSeed() {
  uint64_t seed = 0;
  int fd = open("/dev/urandom", O_RDONLY);
  if (fd >= 0) {
    ssize_t n = read(fd, &seed, sizeof seed);
    (void)n;
    close(fd);
  }
  return seed ^ uint64_t(getpid()) ^
         uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: %s [--seed N] [--iterations N] [--seconds S] [--save-dir DIR]\n"
               "       [--hang-seconds S] [--replay FILE-OR-DIR]...\n"
               "Without --iterations, --seconds or --replay: the short run (seed 1, %u inputs).\n"
               "Other runs take a fresh seed unless --seed gives one.\n",
               target->name, unsigned(target->shortIterations));
  std::exit(2);
}

uint64_t parseNumber(const char *text) {
  char *end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno || end == text || *end) usage();
  return v;
}

} // namespace

bool registerTarget(const Target &t) {
  target = &t;
  return true;
}

const std::string &scratchDir() { return scratch; }

void fail(const char *file, int line, const char *format, ...) {
  char message[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (currentReplay)
    std::fprintf(stderr, "%s: FAILED at %s:%d (stored input %s): %s\n", target->name, file, line,
                 currentReplay, message);
  else
    std::fprintf(stderr, "%s: FAILED at %s:%d (seed %llu, input %llu, %zu bytes): %s\n",
                 target->name, file, line, (unsigned long long)runSeed,
                 (unsigned long long)currentIteration, currentSize, message);
  std::fflush(stderr);
  saveCurrentInput();
  removeScratch();
  signal(SIGABRT, SIG_DFL);
  std::abort();
}

void mutate(Input &in, std::string &s, const char *alphabet, unsigned maxSteps) {
  size_t k = std::strlen(alphabet);
  auto anyByte = [&]() { return k ? alphabet[in.below(uint32_t(k))] : char(in.byte()); };
  for (unsigned steps = in.below(maxSteps + 1); steps > 0; --steps) {
    uint32_t n = uint32_t(s.size());
    switch (in.below(7)) {
    case 0: // replace a byte
      if (n) s[in.below(n)] = anyByte();
      break;
    case 1: // insert a byte
      s.insert(s.begin() + in.below(n + 1), anyByte());
      break;
    case 2: // delete a span
      if (n) {
        uint32_t at = in.below(n);
        s.erase(at, 1 + in.below(std::min<uint32_t>(8, n - at)));
      }
      break;
    case 3: // duplicate a span
      if (n) {
        uint32_t at = in.below(n), len = 1 + in.below(std::min<uint32_t>(16, n - at));
        s.insert(in.below(n + 1), s.substr(at, len));
      }
      break;
    case 4: // swap two bytes
      if (n > 1) std::swap(s[in.below(n)], s[in.below(n)]);
      break;
    case 5: // cut the end off
      if (n) s.resize(in.below(n));
      break;
    default: // flip a bit
      if (n) s[in.below(n)] ^= char(1u << in.below(8));
      break;
    }
  }
}

} // namespace stress

int main(int argc, char **argv) {
  using namespace stress;
  if (!target) {
    std::fprintf(stderr, "no stress target is linked into this program\n");
    return 2;
  }
  uint64_t seed = 1, iterations = 0;
  double seconds = 0;
  bool seedGiven = false;
  std::vector<std::string> replays;
  const char *saveDir = std::getenv("STRESS_SAVE_DIR");
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--seed" && hasValue) {
      seed = parseNumber(argv[++i]);
      seedGiven = true;
    } else if (a == "--iterations" && hasValue) {
      iterations = parseNumber(argv[++i]);
    } else if (a == "--seconds" && hasValue) {
      seconds = double(parseNumber(argv[++i]));
    } else if (a == "--save-dir" && hasValue) {
      saveDir = argv[++i];
    } else if (a == "--hang-seconds" && hasValue) {
      hangSeconds = unsigned(parseNumber(argv[++i]));
    } else if (a == "--replay" && hasValue) {
      replays.push_back(argv[++i]);
    } else {
      usage();
    }
  }
  bool shortRun = iterations == 0 && seconds == 0 && replays.empty();
  if (shortRun) iterations = target->shortIterations;
  if (!shortRun && !seedGiven) seed = freshSeed();
  runSeed = seed;
  std::snprintf(savePrefix, sizeof savePrefix, "%s/%s-%llu-", saveDir && *saveDir ? saveDir : ".",
                target->name, (unsigned long long)seed);

  // Scratch files are written at every input: memory-backed storage where there is some.
  const char *scratchParent = std::getenv("STRESS_SCRATCH");
  std::string parent = scratchParent && *scratchParent ? scratchParent
                       : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                        : testsupport::systemTempDir();
  std::string model = parent + "/stress-XXXXXX";
  if (!mkdtemp(&model[0])) {
    std::perror("stress: cannot make a scratch directory");
    return 1;
  }
  scratch = model;
  scratchOwner = getpid();
  std::atexit(&removeScratch);

  installHandlers();
  if (target->setUp) target->setUp();

  if (!replays.empty()) {
    size_t count = 0;
    std::vector<uint8_t> data;
    for (const std::string &path : replays) {
      for (const std::string &file : storedInputs(path)) {
        if (!readWhole(file, data)) {
          std::fprintf(stderr, "%s: cannot read %s\n", target->name, file.c_str());
          return 1;
        }
        currentReplay = file.c_str();
        runOne(data.data(), data.size());
        currentReplay = nullptr;
        ++count;
      }
    }
    stopTicks();
    std::printf("%s: %zu stored inputs replayed, all passed\n", target->name, count);
    return 0;
  }

  auto start = std::chrono::steady_clock::now();
  std::vector<uint8_t> data;
  uint64_t done = 0;
  for (;; ++done) {
    if (iterations && done >= iterations) break;
    if (seconds > 0 && (done & 63) == 0) {
      std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
      if (spent.count() >= seconds) break;
    }
    currentIteration = done;
    makeInput(seed, done, data);
    runOne(data.data(), data.size());
  }
  stopTicks();
  std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  double t = spent.count();
  std::printf("%s: seed %llu: %llu inputs in %.1f s (%.0f per second), no failure\n", target->name,
              (unsigned long long)seed, (unsigned long long)done, t, t > 0 ? double(done) / t : 0.0);
  return 0;
}
