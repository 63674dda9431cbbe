#include "tools/vorn-config/QueryDriver.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/fs/Files.h"
#include "support/fs/Paths.h"
#include "support/streams/StdStreams.h"
#include "support/text/InlineVector.h"
#include "tools/vorn-config/ComponentCatalogue.h"

namespace vorn {

namespace {

enum class Option {
  Version,
  Prefix,
  SrcRoot,
  ObjRoot,
  BinDir,
  IncludeDir,
  LibDir,
  CppFlags,
  CFlags,
  CxxFlags,
  LdFlags,
  Libs,
  LibNames,
  LibFiles,
  Components,
  TargetsBuilt,
  HostTarget,
  BuildMode,
};

struct OptionInfo {
  const char *name;
  Option option;
  const char *description;
};

// In the order the usage text lists them.
const OptionInfo kOptions[] = {
    {"--version", Option::Version, "Print VORN version."},
    {"--prefix", Option::Prefix, "Print the installation prefix."},
    {"--src-root", Option::SrcRoot, "Print the source root VORN was built from."},
    {"--obj-root", Option::ObjRoot, "Print the object root used to build VORN."},
    {"--bindir", Option::BinDir, "Directory containing VORN executables."},
    {"--includedir", Option::IncludeDir, "Directory containing VORN headers."},
    {"--libdir", Option::LibDir, "Directory containing VORN libraries."},
    {"--cppflags", Option::CppFlags, "C preprocessor flags for files that include VORN headers."},
    {"--cflags", Option::CFlags, "C compiler flags for files that include VORN headers."},
    {"--cxxflags", Option::CxxFlags, "C++ compiler flags for files that include VORN headers."},
    {"--ldflags", Option::LdFlags, "Print Linker flags."},
    {"--libs", Option::Libs, "Libraries needed to link against VORN components."},
    {"--libnames", Option::LibNames, "Bare library names for in-tree builds."},
    {"--libfiles", Option::LibFiles, "Fully qualified library filenames for makefile depends."},
    {"--components", Option::Components, "List of all possible components."},
    {"--targets-built", Option::TargetsBuilt, "List of all targets currently built."},
    {"--host-target", Option::HostTarget, "Target triple used to configure VORN."},
    {"--build-mode", Option::BuildMode, "Print build mode of VORN tree (e.g. Debug or Release)."},
};

struct ComponentHint {
  const char *name;
  const char *description;
};

const ComponentHint kTypicalComponents[] = {
    {"all", "All VORN libraries (the default)."},
    {"executor", "Either a native just-in-time compiler or a bitcode interpreter."},
};

constexpr unsigned kNameColumn = 18;

template <unsigned N> void appendColumns(InlineString<N> &text, const char *name, const char *description) {
  text.append("  ");
  text.append(name);
  for (size_t n = std::strlen(name); n < kNameColumn; ++n) text.push_back(' ');
  text.append(description);
  text.push_back('\n');
}

[[noreturn]] void printUsageAndExit() {
  // Built whole and written at once: the standard error stream is unbuffered.
  InlineString<2048> text;
  text.append("usage: vorn-config <OPTION>... [<COMPONENT>...]\n"
              "\n"
              "Get various configuration information needed to compile programs which use\n"
              "VORN.  Typically called from 'configure' scripts.  Examples:\n"
              "  vorn-config --cxxflags\n"
              "  vorn-config --ldflags\n"
              "  vorn-config --libs executor ir-load scalar-passes\n"
              "\n"
              "Options:\n");
  for (const OptionInfo &o : kOptions) appendColumns(text, o.name, o.description);
  text.append("Typical components:\n");
  for (const ComponentHint &c : kTypicalComponents) appendColumns(text, c.name, c.description);
  stderrStream() << text.view();
  std::exit(1);
}

const OptionInfo *findOption(const char *arg) {
  for (const OptionInfo &o : kOptions)
    if (std::strcmp(arg, o.name) == 0) return &o;
  return nullptr;
}

// Whether `a` (the tool's own prefix) and `b` (a directory of the object root) are one directory.
// A `b` that does not exist, or whose path runs through a file, is another directory; any other
// failure leaves the question open, and answering as if from an installed tree could be wrong:
// the tool says so instead.
bool sameFile(const std::string &a, const std::string &b) {
  bool same = false;
  ErrorCode ec = files::equivalent(a, b, same);
  if (!ec) return same;
  if (ec.value() == ENOENT || ec.value() == ENOTDIR) return false;
  stderrStream() << "vorn-config: error: cannot tell whether " << a << " is the build tree " << b << ": "
                 << ec.message() << '\n';
  std::exit(1);
}

// A file "lib" + X + ".a" links as "-l" + X. X must not be empty: a bare "-l" would take the
// next word of the link line for its library name.
bool hasLinkFlagForm(StrView file) {
  return file.size() > 5 && file.startsWith("lib") && file.endsWith(".a");
}

} // namespace

void writeLibraryLine(OutStream &out, const NameList &libraries, LibraryForm form, StrView libDir) {
  for (size_t i = 0; i < libraries.size(); ++i) {
    if (i) out << ' ';
    StrView lib = libraries[i];
    if (form == LibraryForm::FileName)
      out << lib;
    else if (form == LibraryForm::FullPath || !hasLinkFlagForm(lib))
      out << libDir << '/' << lib;
    else
      out << "-l" << lib.substr(3, lib.size() - 5);
  }
  out << '\n';
}

Installation discoverInstallation(StrView executable, const BuildConfig &config) {
  Installation in;
  InlineString<256> path(executable);
  // An unknown location stays unknown: made absolute, the empty path would become the current
  // directory, and its parent would pass for the prefix.
  if (!path.empty()) (void)files::absolutize(path);
  StrView binDir = paths::parentPath(path.view());
  if (!binDir.isNull()) in.toolPrefix = paths::parentPath(binDir).str();

  const std::string objRoot = config.objRoot;
  if (sameFile(in.toolPrefix, objRoot + "/" + config.buildMode)) {
    in.runsFromBuildTree = true;
    in.buildLayout = BuildTreeLayout::ModeOuter;
    in.objRootInUse = objRoot;
    if (paths::filename(objRoot) == StrView("BuildTools")) in.objRootInUse = paths::parentPath(objRoot).str();
  } else if (sameFile(in.toolPrefix, objRoot)) {
    in.runsFromBuildTree = true;
    in.buildLayout = BuildTreeLayout::Flat;
    in.objRootInUse = objRoot;
  } else if (sameFile(in.toolPrefix, objRoot + "/bin")) {
    in.runsFromBuildTree = true;
    in.buildLayout = BuildTreeLayout::ModeInner;
    in.objRootInUse = objRoot;
  }

  in.reportedPrefix = in.toolPrefix;
  if (!in.runsFromBuildTree) {
    in.reportedIncludeDir = in.reportedPrefix + config.includeSuffix;
    in.reportedBinDir = in.reportedPrefix + "/bin";
    in.reportedLibDir = in.reportedPrefix + "/lib";
    in.includeFlags = "-I" + in.reportedIncludeDir;
    return in;
  }
  const std::string &obj = in.objRootInUse;
  in.reportedIncludeDir = std::string(config.srcRoot) + "/include";
  switch (in.buildLayout) {
  case BuildTreeLayout::ModeOuter:
    in.reportedBinDir = obj + "/" + config.buildMode + "/bin";
    in.reportedLibDir = obj + "/" + config.buildMode + "/lib";
    break;
  case BuildTreeLayout::Flat:
    in.reportedBinDir = obj + "/bin";
    in.reportedLibDir = obj + "/lib";
    break;
  case BuildTreeLayout::ModeInner:
    in.reportedBinDir = obj + "/bin/" + config.buildMode;
    in.reportedLibDir = obj + "/lib/" + config.buildMode;
    break;
  }
  in.includeFlags = "-I" + in.reportedIncludeDir + " -I" + obj + "/include";
  return in;
}

int runVornConfig(int argc, char **argv, const BuildConfig &config) {
  std::string exe = files::executablePath(argc > 0 ? argv[0] : "", reinterpret_cast<void *>(&runVornConfig));
  if (exe.empty()) {
    // Every directory answer derives from the program's place: without it they would name the
    // root ("-I/include/...") and pass for answers.
    stderrStream() << "vorn-config: error: cannot find the location of this program, which "
                      "its answers derive from\n";
    std::exit(1);
  }
  const Installation in = discoverInstallation(exe, config);

  if (argc <= 1) printUsageAndExit();

  NameList requestedComponents;
  bool sawOption = false, wantLinkFlags = false, wantLibNames = false, wantLibPaths = false;
  OutStream &out = stdoutStream();
  for (int i = 1; i < argc; ++i) {
    StrView arg(argv[i]);
    if (arg.empty() || arg[0] != '-') {
      requestedComponents.push_back(arg);
      continue;
    }
    const OptionInfo *o = findOption(argv[i]);
    if (!o) printUsageAndExit();
    sawOption = true;
    switch (o->option) {
    case Option::Version: out << config.version << '\n'; break;
    case Option::Prefix: out << in.reportedPrefix << '\n'; break;
    case Option::SrcRoot: out << config.srcRoot << '\n'; break;
    case Option::ObjRoot: out << config.objRoot << '\n'; break;
    case Option::BinDir: out << in.reportedBinDir << '\n'; break;
    case Option::IncludeDir: out << in.reportedIncludeDir << '\n'; break;
    case Option::LibDir: out << in.reportedLibDir << '\n'; break;
    case Option::CppFlags: out << in.includeFlags << ' ' << config.cppFlags << '\n'; break;
    case Option::CFlags: out << in.includeFlags << ' ' << config.cFlags << '\n'; break;
    case Option::CxxFlags: out << in.includeFlags << ' ' << config.cxxFlags << '\n'; break;
    case Option::LdFlags:
      out << "-L" << in.reportedLibDir << ' ' << config.ldFlags << ' ' << config.systemLibs << '\n';
      break;
    case Option::Libs: wantLinkFlags = true; break;
    case Option::LibNames: wantLibNames = true; break;
    case Option::LibFiles: wantLibPaths = true; break;
    case Option::Components:
      for (uint32_t r = 0; r < componentCount; ++r)
        if (componentCatalogue[r].inInstall || in.runsFromBuildTree) out << ' ' << componentCatalogue[r].name;
      out << '\n';
      break;
    case Option::TargetsBuilt: out << config.targetsBuilt << '\n'; break;
    case Option::HostTarget: out << config.hostTriple << '\n'; break;
    case Option::BuildMode: out << config.buildMode << '\n'; break;
    }
  }

  if (!sawOption) printUsageAndExit();
  if (wantLinkFlags || wantLibNames || wantLibPaths) {
    if (requestedComponents.empty()) requestedComponents.push_back(StrView("all"));
    NameList libraries;
    resolveComponentLibraries(requestedComponents, libraries, in.runsFromBuildTree);
    LibraryForm form = wantLibNames   ? LibraryForm::FileName
                       : wantLibPaths ? LibraryForm::FullPath
                                      : LibraryForm::LinkFlag;
    writeLibraryLine(out, libraries, form, in.reportedLibDir);
  } else if (!requestedComponents.empty()) {
    stderrStream() << "vorn-config: error: components given, but unused\n\n";
    printUsageAndExit();
  }
  return 0;
}

} // namespace vorn
