// vorn-config: tells the build scripts of programs that use the vorn toolkit how the toolkit was
// built and where it is installed.

#include "BuildValues.h"
#include "tools/vorn-config/QueryDriver.h"

int main(int argc, char **argv) {
  static const vorn::BuildConfig config = {
      vorn::kVersion,     vorn::kSrcRoot,      vorn::kObjRoot,    vorn::kBuildMode,
      vorn::kIncludeSuffix, vorn::kHostTriple, vorn::kTargetsBuilt, vorn::kSystemLibs,
      vorn::kLdFlags,     vorn::kCppFlags,     vorn::kCFlags,     vorn::kCxxFlags,
  };
  return vorn::runVornConfig(argc, argv, config);
}
