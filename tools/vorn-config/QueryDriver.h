#ifndef VORN_TOOLS_VORN_CONFIG_QUERYDRIVER_H
#define VORN_TOOLS_VORN_CONFIG_QUERYDRIVER_H

#include <string>

#include "support/text/StrView.h"
#include "tools/vorn-config/ComponentCatalogue.h"

namespace vorn {

class OutStream;

// The values fixed when the toolkit was built, as plain constant texts. The three compiler flag
// texts, the system libraries and the targets keep their leading or trailing spaces.
struct BuildConfig {
  const char *version;
  const char *srcRoot;
  const char *objRoot;
  const char *buildMode;
  const char *includeSuffix;
  const char *hostTriple;
  const char *targetsBuilt;
  const char *systemLibs;
  const char *ldFlags;
  const char *cppFlags;
  const char *cFlags;
  const char *cxxFlags;
};

// Where the executables of a build tree lie relative to its object root.
enum class BuildTreeLayout {
  ModeOuter, // OBJ/MODE/bin
  Flat,      // OBJ/bin
  ModeInner, // OBJ/bin/MODE
};

// What the tool learns about its installation before it reads the command line.
struct Installation {
  std::string toolPrefix; // the parent of the executable's directory
  bool runsFromBuildTree = false;
  BuildTreeLayout buildLayout = BuildTreeLayout::ModeOuter; // only when runsFromBuildTree
  std::string objRootInUse; // empty outside a build tree
  std::string reportedPrefix;
  std::string reportedIncludeDir;
  std::string reportedBinDir;
  std::string reportedLibDir;
  std::string includeFlags; // the include options that start every flags answer
};

// Works out the installation from the running executable's absolute path `executable` (empty
// when unknown). The executable's directory is compared with the object root's executable
// directories by file identity, so links and other spellings of them match; a directory that
// cannot be examined matches nothing.
Installation discoverInstallation(StrView executable, const BuildConfig &config);

// How the library line spells each library file.
enum class LibraryForm {
  FileName, // as the catalogue names it (--libnames)
  FullPath, // in the library directory (--libfiles)
  LinkFlag, // "-l" + X for "lib" + X + ".a", else the full path (--libs)
};

// Writes `libraries` on one line, separated by single spaces, each in `form`, then a newline;
// `libDir` is the directory full paths are made from.
void writeLibraryLine(OutStream &out, const NameList &libraries, LibraryForm form, StrView libDir);

// The whole vorn-config run over `argc` and `argv`: answers on the standard output stream in
// command-line order, the library line last. Returns 0; misuse writes a message and the usage
// text on the standard error stream and exits with status 1 instead of returning.
int runVornConfig(int argc, char **argv, const BuildConfig &config);

} // namespace vorn

#endif
