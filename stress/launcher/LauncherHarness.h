#ifndef VORN_STRESS_LAUNCHER_LAUNCHERHARNESS_H
#define VORN_STRESS_LAUNCHER_LAUNCHERHARNESS_H

// Runs launcher code in this process the way the launcher runs it, with what lies outside the
// launcher replaced by stand-ins: liboru (its allocator tracks every block, so that all of a run's
// memory can be released after it; the wildcard expansion and the manifest parser answer as the
// run's knobs say), the machine facts of the server-class test and the kernel's answer to
// "/proc/self/exe". exit() and execv() called by the launcher end the run and are recorded
// instead (the programs link with --wrap=exit --wrap=execv --wrap=readlink), and what the
// launcher writes through stdout and stderr is captured. Descriptor 2 itself is left alone, so
// sanitizer reports still reach it.

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/oru.h"

namespace launcherstress {

// How a run of launcher code ended.
struct Outcome {
  bool exited = false; // exit() was called (with `status`)
  int status = 0;
  bool execed = false; // execv() was called (with `execPath` and `execArgs`)
  std::string execPath;
  std::vector<std::string> execArgs;
  std::string out; // what went to stdout
  std::string err; // what went to stderr
  std::vector<std::string> environment; // the process environment when the run ended
};

// Runs `body(context)` as described above. Afterwards the launcher's process-wide state (option
// list, flags, stack size, catalogue) is reset, and every block the run allocated is freed. A run
// that puts allocated entries into the environment (putenv) leaves it pointing at freed blocks:
// the caller must clearenv() before the environment is used again.
Outcome run(void (*body)(void *), void *context);

// Knobs of the stand-ins, read while a run is going on.
struct StandIns {
  bool serverClass = false;           // the machine facts make a server-class machine
  const char *executable = "/opt/self/bin/quillet"; // the link "/proc/self/exe"; null for none
  int manifestStatus = 0;             // ORU_ParseManifest's result
  ManifestData manifest = {};         // what it fills in on success
  std::vector<std::string> manifestCalls; // the zub files it was asked about
};
extern StandIns standIns;

// The stand-in wildcard expansion: a recognisable function of the class path.
std::string expandedClassPath(const std::string &path);

} // namespace launcherstress

#endif
