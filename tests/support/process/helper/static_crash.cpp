// A program linked like vorn-config (statically, built without exceptions and type information)
// that asks for crash traces, registers the file named by argv[1] and then faults three calls
// deep.

#define SIGNALTEST_NO_CHILDREN
#include "tests/support/process/SignalTestSupport.h"

#include "support/process/Signals.h"

namespace staticcrash {

__attribute__((noipa)) void crashDeep(int depth) {
  if (depth > 0)
    crashDeep(depth - 1);
  else
    signaltest::fault(SIGSEGV);
  asm volatile("" ::: "memory"); // no tail call: every level keeps its frame
}

} // namespace staticcrash

int main(int argc, char **argv) {
  signaltest::defaultCrashActions();
  vorn::proc::enableCrashStackTrace();
  if (argc > 1) vorn::proc::registerSignalCleanupFile(argv[1]);
  staticcrash::crashDeep(2);
  return 0;
}
