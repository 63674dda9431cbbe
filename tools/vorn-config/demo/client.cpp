// A small program built against an installed vorn toolkit with nothing but vorn-config's answers.
// It takes paths (the demo passes the toolkit's own library and include directory), prints how
// the support library decomposes each of them and its own location, and counts the distinct path
// components it met.
//
//   client [PATH...]

#include "support/fs/Files.h"
#include "support/fs/Paths.h"
#include "support/streams/StdStreams.h"
#include "support/text/StrHashMap.h"

using namespace vorn;

namespace {

void describe(OutStream &out, StrView path, StrHashMap<unsigned> &seen) {
  out << path << '\n';
  out << "  parent     " << paths::parentPath(path) << '\n';
  out << "  file name  " << paths::filename(path) << '\n';
  out << "  stem       " << paths::stem(path) << '\n';
  out << "  extension  " << paths::extension(path) << '\n';
  bool found = false;
  ErrorCode ec = files::exists(path, found);
  out << "  exists     " << (ec ? "unknown" : found ? "yes" : "no") << '\n';
  for (auto it = paths::begin(path), end = paths::end(path); it != end; ++it) ++seen[*it];
}

} // namespace

int main(int argc, char **argv) {
  OutStream &out = stdoutStream();
  StrHashMap<unsigned> seen;
  std::string self = files::executablePath(argv[0], reinterpret_cast<void *>(&describe));
  out << "this program: ";
  describe(out, self, seen);
  for (int i = 1; i < argc; ++i) describe(out, StrView(argv[i]), seen);
  unsigned repeated = 0;
  for (auto &e : seen) repeated += e.value > 1;
  out << seen.size() << " distinct path components, " << repeated << " of them seen more than once\n";
  return 0;
}
