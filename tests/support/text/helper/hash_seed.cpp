// Hashes in a fresh process, where the seed is not fixed yet.
//
//   text_hash_seed [--override HEX] [--override-after HEX] [--threads N]
//
// --override sets the seed override before anything hashes; --override-after sets it after a
// first hash. The program then prints, one per line in hexadecimal, the seed and the hashes of
// "", "abc", 64 and 65 times 'a' and 200 bytes 0, 1, 2, ... With --threads, N threads released
// at once make the first hashing call together; each prints its seed and its hash of "abc".

#include "support/text/Hashing.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vorn;

namespace {

std::atomic<unsigned> waiting{0};
std::atomic<bool> go{false};

struct ThreadResult {
  uint32_t seed;
  HashCode abc;
};

void *firstUse(void *arg) {
  ThreadResult *result = static_cast<ThreadResult *>(arg);
  waiting.fetch_add(1);
  while (!go.load()) {
  }
  result->abc = hashText("abc");
  result->seed = detail::hashSeed();
  return nullptr;
}

} // namespace

int main(int argc, char **argv) {
  unsigned threads = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    uint32_t value = uint32_t(std::strtoul(argv[i + 1], nullptr, 16));
    if (!std::strcmp(argv[i], "--override")) {
      setHashSeedOverride(value);
    } else if (!std::strcmp(argv[i], "--override-after")) {
      std::printf("%08x\n", unsigned(hashText("first")));
      setHashSeedOverride(value);
    } else if (!std::strcmp(argv[i], "--threads")) {
      threads = unsigned(std::strtoul(argv[i + 1], nullptr, 10));
    } else {
      return 2;
    }
  }
  if (threads) {
    pthread_t ids[64];
    ThreadResult results[64];
    if (threads > 64) return 2;
    for (unsigned t = 0; t < threads; ++t)
      if (pthread_create(&ids[t], nullptr, firstUse, &results[t]) != 0) return 3;
    while (waiting.load() != threads) {
    }
    go.store(true);
    for (unsigned t = 0; t < threads; ++t) pthread_join(ids[t], nullptr);
    for (unsigned t = 0; t < threads; ++t)
      std::printf("%08x %08x\n", unsigned(results[t].seed), unsigned(results[t].abc));
    return 0;
  }
  std::string a64(64, 'a'), a65(65, 'a');
  char counting[200];
  for (int i = 0; i < 200; ++i) counting[i] = char(i);
  std::printf("%08x\n", unsigned(detail::hashSeed()));
  std::printf("%08x\n", unsigned(hashText("")));
  std::printf("%08x\n", unsigned(hashText("abc")));
  std::printf("%08x\n", unsigned(hashText(a64)));
  std::printf("%08x\n", unsigned(hashText(a65)));
  std::printf("%08x\n", unsigned(hashBytes(counting, counting + 200)));
  return 0;
}
