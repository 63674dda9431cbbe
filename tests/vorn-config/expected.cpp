#include "expected.h"

#include "harness.h"

namespace vctest {

std::string hostTriple() {
#ifdef VORN_EXPECT_NATIVE
  static const std::string triple = [] {
    RunResult r = run(VORN_CXX_COMPILER, {"-dumpmachine"});
    return r.out.substr(0, r.out.find('\n'));
  }();
  return triple;
#else
  return "i686-kaldor-linux-gnu";
#endif
}

} // namespace vctest
