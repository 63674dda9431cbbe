#ifndef VORN_TESTS_VORN_CONFIG_HARNESS_H
#define VORN_TESTS_VORN_CONFIG_HARNESS_H

#include <string>
#include <vector>

#include "tests/common/TestSupport.h"

namespace vctest {

// A private directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
// path() is its real path (no symbolic links), as a running program sees its own location.
using testsupport::TempDir;

// The outcome of one run of a program: its exit status (or the signal that ended it) and what
// it wrote on descriptors 1 and 2.
using RunResult = testsupport::ChildResult;

// Where the child's standard output goes.
using testsupport::Stdout;

// Runs `program` with `args` (argv[0] is `program` unless `argv0` is given), in `cwd` unless
// that is empty, and returns its status and what it wrote on descriptors 1 and 2.
RunResult run(const std::string &program, const std::vector<std::string> &args, Stdout mode = Stdout::Capture,
        const char *argv0 = nullptr, const std::string &cwd = "");

// mkdir -p.
void makeDirs(const std::string &path);
// Copies the file at `from` to `to`, keeping its permission bits.
void copyFile(const std::string &from, const std::string &to);
// The whole contents of a file ("" when it cannot be read).
using testsupport::readFile;
void writeFile(const std::string &path, const std::string &text);
// Removes a file or a whole tree; a missing path is no error.
using testsupport::removeTree;
bool exists(const std::string &path);
// realpath(3) of an existing path.
std::string realPath(const std::string &path);

// Splits at single spaces; an empty text gives no words.
std::vector<std::string> words(const std::string &line);

} // namespace vctest

#endif
