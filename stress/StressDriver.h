#ifndef VORN_STRESS_STRESSDRIVER_H
#define VORN_STRESS_STRESSDRIVER_H

// The driver shared by the stress targets. A target is a property over one input: a finite byte
// string read as a stream of decisions. The driver makes inputs from a seeded generator (input i
// of a run with seed S is a function of S and i alone) or reads stored ones, runs the property on
// each, and on a failure (a failed check, a sanitizer report, a crash or a hang) saves the input
// that caused it, so that `stress-NAME --replay FILE` runs it again.
//
// One program per target: each target file defines its property with STRESS_TARGET and links
// this driver, which supplies main().

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace stress {

// One input as a stream of decisions. Reads past the end give zeros, so every byte string is a
// valid input and a short one makes small, simple cases.
class Input {
public:
  Input(const uint8_t *data, size_t size) : data(data), size(size) {}

  uint8_t byte() { return at < size ? data[at++] : 0; }
  uint16_t u16() { return uint16_t(byte() | byte() << 8); }
  uint32_t u32() { return uint32_t(u16()) | uint32_t(u16()) << 16; }
  uint64_t u64() { return uint64_t(u32()) | uint64_t(u32()) << 32; }
  // A number in [0, n); n >= 1. Reads as few bytes as n needs.
  uint32_t below(uint32_t n) {
    if (n <= 1) return 0;
    if (n <= 256) return byte() % n;
    if (n <= 65536) return u16() % n;
    return u32() % n;
  }
  // A number in [lo, hi].
  uint32_t range(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
  bool coin() { return byte() & 1; }
  // True about once in n reads.
  bool oneIn(uint32_t n) { return below(n) == 0; }
  // A length in [0, max], usually small: large lengths are rare so that short cases dominate.
  uint32_t length(uint32_t max) {
    uint8_t shape = byte();
    uint32_t top = shape < 128 ? 8 : shape < 224 ? 64 : max;
    if (top > max) top = max;
    return below(top + 1);
  }
  // Up to `max` bytes, each drawn from `alphabet` (any byte when it is empty).
  std::string text(uint32_t max, const char *alphabet = "") {
    uint32_t n = length(max);
    size_t k = std::strlen(alphabet);
    std::string s(n, '\0');
    for (uint32_t i = 0; i < n; ++i)
      s[i] = k ? alphabet[below(uint32_t(k))] : char(byte());
    return s;
  }
  // One element of a non-empty array.
  template <typename T, size_t N> const T &pick(const T (&items)[N]) { return items[below(N)]; }

  bool exhausted() const { return at >= size; }
  size_t consumed() const { return at; }

private:
  const uint8_t *data;
  size_t size;
  size_t at = 0;
};

// Mutates `s` in place a few times as the input says: byte flips, insertions and deletions of
// bytes from `alphabet` (any byte when empty), duplicated and swapped spans, truncation.
void mutate(Input &in, std::string &s, const char *alphabet = "", unsigned maxSteps = 4);

// Ends the run: prints the message (printf format) with the target, seed and iteration, saves
// the current input and aborts.
[[noreturn]] void fail(const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// The target's entry points. `setUp` runs once before the first input (may be null).
struct Target {
  const char *name;
  uint32_t maxInput;           // longest generated input in bytes
  uint32_t shortIterations;    // inputs of the fixed-seed run that the test suite makes
  void (*setUp)();
  void (*property)(Input &in);
};
// Registers the program's target (which must stay alive); one per program.
bool registerTarget(const Target &target);

// The directory where the target may put scratch files (made at start, removed at exit).
const std::string &scratchDir();

} // namespace stress

// STRESS_CHECK(cond, format, ...): a property that must hold.
#define STRESS_CHECK(cond, ...)                                                                  \
  do {                                                                                           \
    if (!(cond)) ::stress::fail(__FILE__, __LINE__, __VA_ARGS__);                                \
  } while (0)

// STRESS_TARGET(name, maxInput, shortIterations, setUp): defines the program's property; the
// body follows, with `in` the input.
#define STRESS_TARGET(name, maxInput, shortIterations, setUp)                                    \
  static void stressProperty(::stress::Input &in);                                               \
  static const ::stress::Target stressTarget = {name, maxInput, shortIterations, setUp,         \
                                                &stressProperty};                               \
  static const bool stressRegistered = ::stress::registerTarget(stressTarget);                   \
  static void stressProperty(::stress::Input &in)

#endif
