// quillet: starts the VM in this process and runs the documentation tool's main class with the
// user's arguments.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/environment.h"
#include "launcher/launch.h"
#include "launcher/launcher.h"
#include "launcher/options.h"
#include "launcher/oru.h"
#include "launcher/splash.h"
#include "launcher/version_select.h"
#include "launcher/vmthread.h"

static int teskMainEntry(void *args) { return TeskMain(static_cast<LaunchArgs *>(args)); }

int main(int argc, char **argv) {
  if (getenv("_TESK_LAUNCHER_DEBUG")) {
    _launcher_debug = 1;
    trace("----_TESK_LAUNCHER_DEBUG----\n");
    trace("Command line Args:\n");
    for (int i = 0; i < argc; ++i)
      trace("\targv[%d] = '%s'\n", i, argv[i]);
  }

  chooseRuntimeRelease(argc, argv);

  // What a re-execution passes on: the vector as it was received.
  char **original = static_cast<char **>(ORU_MemAlloc(int((argc + 1) * sizeof(char *))));
  memcpy(original, argv, (argc + 1) * sizeof(char *));

  prepareExecution(&argc, &argv, runtimeHome, kPathMax, vmLibraryPath, kPathMax, original);

  VmEntryPoints entries = {nullptr, nullptr};
  if (!loadVmLibrary(vmLibraryPath, &entries))
    return 6;
  trace("%ld micro seconds to LoadTeskVM\n", 1L);

  programName = "tesk";
  launcherName = "tesk";

  int workArgc;
  char **workArgv;
  buildWorkingArgs(argc - 1, argv + 1, &workArgc, &workArgv);
  addClassPathAndHomeOptions();
  ScanResult scan = scanLauncherOptions(workArgc, workArgv);
  addLauncherProperties(scan);

  startSplash();

  removeEnvEntry("_TESK_VERSION_SET");
  removeEnvEntry("_TESK_SPLASH_FILE");
  removeEnvEntry("_TESK_SPLASH_ZUB");

  if (vmThreadStack == 0) {
    int stack = defaultThreadStack(entries.getDefaultArgs);
    if (stack > 0)
      vmThreadStack = stack;
  }

  static LaunchArgs launch;
  launch.argc = scan.appArgc;
  launch.argv = scan.appArgv;
  launch.zubFile = scan.zubFile;
  launch.mainClassName = scan.mainClassName;
  launch.createVm = entries.createVm;
  launch.getDefaultArgs = entries.getDefaultArgs;
  return runInNewThread(teskMainEntry, vmThreadStack, &launch, scan.presetStatus);
}
