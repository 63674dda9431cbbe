#include "support/fs/UniqueFiles.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "support/fs/Files.h"
#include "support/fs/Paths.h"
#include "support/process/Process.h"

namespace vorn {
namespace files {
namespace detail {

namespace {

const char hexDigits[] = "0123456789abcdef";

// How many attempts a model with `placeholders` '%' characters gets: see the header.
unsigned attemptBound(uint32_t placeholders) {
  if (placeholders == 0) return 1;
  if (placeholders == 1) return 16 * 16;
  return 4096;
}

// A per-process mask folded into the random characters. The random generator's state is copied
// into every child a process forks; without the mask, children forked after the first draw would
// all try the same names in the same order, and a child that starts late would have to walk past
// every name the others already claimed, running out of attempts long before the names run out.
uint32_t processMask() {
  uint32_t x = uint32_t(::getpid());
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// The directory a relative temporary model goes under.
const char *temporaryBase() {
  for (const char *name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"})
    if (const char *value = std::getenv(name)) return value;
  return "/tmp";
}

} // namespace

ErrorCode makeUniqueEntity(const Twine &model, int &fd, InlineString<128> &result,
                           bool makeAbsolute, uint32_t mode, UniqueKind kind) {
  InlineString<128> working;
  model.appendTo(working);
  if (makeAbsolute && !paths::isAbsolute(working.view())) {
    InlineString<128> full;
    full.append(StrView(temporaryBase()));
    paths::append(full, working.view());
    working.assign(full.view());
  }
  result.assign(working.view());
  result.cStr();

  uint32_t placeholders = 0;
  for (char c : working)
    if (c == '%') ++placeholders;
  const uint32_t mask = placeholders ? processMask() : 0;
  const unsigned bound = attemptBound(placeholders);
  for (unsigned attempt = 0; attempt < bound; ++attempt) {
    // Only the placeholders change between attempts; the working copy keeps them.
    uint32_t index = 0;
    for (size_t i = 0; i < working.size(); ++i) {
      if (working[i] != '%') continue;
      uint32_t r = proc::randomNumber() ^ (mask >> (4 * (index++ % 8)));
      result[i] = hexDigits[r & 15];
    }
    const char *name = result.data(); // NUL-terminated since the assignment above

    switch (kind) {
    case UniqueKind::File: {
      int got;
      do
        got = ::open(name, O_RDWR | O_CREAT | O_EXCL, mode_t(mode));
      while (got < 0 && errno == EINTR);
      if (got >= 0) {
        fd = got;
        return ErrorCode();
      }
      if (errno != EEXIST) return ErrorCode::fromErrno(errno);
      break;
    }
    case UniqueKind::NameOnly: {
      bool there = false;
      if (ErrorCode ec = files::exists(StrView(name, uint32_t(result.size())), there)) return ec;
      if (!there) return ErrorCode();
      break;
    }
    case UniqueKind::Directory: {
      bool existed = false;
      if (ErrorCode ec = files::createDirectory(StrView(name, uint32_t(result.size())), existed))
        return ec;
      if (!existed) return ErrorCode();
      break;
    }
    }
  }
  return ErrorCode::fromErrno(EEXIST);
}

} // namespace detail
} // namespace files
} // namespace vorn
