#ifndef VORN_TESTS_VORN_CONFIG_EXPECTED_H
#define VORN_TESTS_VORN_CONFIG_EXPECTED_H

// What vorn-config must answer, written out here independently of the build's own values.

#include <cstddef>
#include <string>

namespace vctest {

// The i686 build reports the values of the toolkit's reference build; a native build reports its
// own roots, build mode, host triple and flags (the same flags less the i686 code-generation ones).
#ifdef VORN_EXPECT_NATIVE
#define VORN_EXPECTED_ARCH_FLAGS ""
constexpr const char kSrcRoot[] = VORN_SOURCE_DIR;
constexpr const char kObjRoot[] = VORN_BINARY_DIR;
constexpr const char kBuildMode[] = VORN_EXPECTED_BUILD_MODE;
constexpr size_t kCFlagsLength = 249, kCxxFlagsLength = 336;
#else
#define VORN_EXPECTED_ARCH_FLAGS " -m32 -march=i686 -mtune=atom"
constexpr const char kSrcRoot[] = "/builddir/build/BUILD/vorn-3.4";
constexpr const char kObjRoot[] = "/builddir/build/BUILD/vorn-3.4";
constexpr const char kBuildMode[] = "Release";
constexpr size_t kCFlagsLength = 278, kCxxFlagsLength = 365;
#endif

constexpr const char kCppFlags[] =
    " -DNDEBUG -D_GNU_SOURCE -D__STDC_CONSTANT_MACROS -D__STDC_FORMAT_MACROS -D__STDC_LIMIT_MACROS";
constexpr const char kCFlags[] =
    " -DNDEBUG -D_GNU_SOURCE -D__STDC_CONSTANT_MACROS -D__STDC_FORMAT_MACROS -D__STDC_LIMIT_MACROS"
    " -O2 -g -pipe -Wall -Wp,-D_FORTIFY_SOURCE=2 -fexceptions -fstack-protector --param=ssp-buffer-size=4"
    VORN_EXPECTED_ARCH_FLAGS " -fasynchronous-unwind-tables -fomit-frame-pointer -fPIC";
constexpr const char kCxxFlags[] =
    " -DNDEBUG -D_GNU_SOURCE -D__STDC_CONSTANT_MACROS -D__STDC_FORMAT_MACROS -D__STDC_LIMIT_MACROS"
    " -O2 -g -pipe -Wall -Wp,-D_FORTIFY_SOURCE=2 -fexceptions -fstack-protector --param=ssp-buffer-size=4"
    VORN_EXPECTED_ARCH_FLAGS " -fasynchronous-unwind-tables -fomit-frame-pointer"
    " -fvisibility-inlines-hidden -fno-exceptions -fno-rtti -fPIC -Woverloaded-virtual -Wcast-qual";

// The host triple: the reference build's, or what the build machine's compiler calls itself.
std::string hostTriple();

constexpr const char kUsage[] =
    "usage: vorn-config <OPTION>... [<COMPONENT>...]\n"
    "\n"
    "Get various configuration information needed to compile programs which use\n"
    "VORN.  Typically called from 'configure' scripts.  Examples:\n"
    "  vorn-config --cxxflags\n"
    "  vorn-config --ldflags\n"
    "  vorn-config --libs executor ir-load scalar-passes\n"
    "\n"
    "Options:\n"
    "  --version         Print VORN version.\n"
    "  --prefix          Print the installation prefix.\n"
    "  --src-root        Print the source root VORN was built from.\n"
    "  --obj-root        Print the object root used to build VORN.\n"
    "  --bindir          Directory containing VORN executables.\n"
    "  --includedir      Directory containing VORN headers.\n"
    "  --libdir          Directory containing VORN libraries.\n"
    "  --cppflags        C preprocessor flags for files that include VORN headers.\n"
    "  --cflags          C compiler flags for files that include VORN headers.\n"
    "  --cxxflags        C++ compiler flags for files that include VORN headers.\n"
    "  --ldflags         Print Linker flags.\n"
    "  --libs            Libraries needed to link against VORN components.\n"
    "  --libnames        Bare library names for in-tree builds.\n"
    "  --libfiles        Fully qualified library filenames for makefile depends.\n"
    "  --components      List of all possible components.\n"
    "  --targets-built   List of all targets currently built.\n"
    "  --host-target     Target triple used to configure VORN.\n"
    "  --build-mode      Print build mode of VORN tree (e.g. Debug or Release).\n"
    "Typical components:\n"
    "  all               All VORN libraries (the default).\n"
    "  executor          Either a native just-in-time compiler or a bitcode interpreter.\n";

} // namespace vctest

#endif
