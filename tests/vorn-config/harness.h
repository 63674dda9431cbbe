#ifndef VORN_TESTS_VORN_CONFIG_HARNESS_H
#define VORN_TESTS_VORN_CONFIG_HARNESS_H

#include <string>
#include <vector>

namespace vctest {

// A private directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
// path() is its real path (no symbolic links), as a running program sees its own location.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return dir; }

private:
  std::string dir;
};

// The outcome of one run of a program.
struct RunResult {
  int status = -1; // the exit status, or 128 + the signal number
  std::string out;
  std::string err;
};

// Where the child's standard output goes.
enum class Stdout { Capture, SameAsStderr, DevFull, Closed };

// Runs `program` with `args` (argv[0] is `program` unless `argv0` is given) and returns its
// status and what it wrote on descriptors 1 and 2.
RunResult run(const std::string &program, const std::vector<std::string> &args, Stdout mode = Stdout::Capture,
        const char *argv0 = nullptr, const std::string &cwd = "");

// mkdir -p.
void makeDirs(const std::string &path);
// Copies the file at `from` to `to`, keeping its permission bits.
void copyFile(const std::string &from, const std::string &to);
// The whole contents of a file ("" when it cannot be read).
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &text);
// Removes a file or a whole tree; a missing path is no error.
void removeTree(const std::string &path);
bool exists(const std::string &path);
// realpath(3) of an existing path.
std::string realPath(const std::string &path);

// Splits at single spaces; an empty text gives no words.
std::vector<std::string> words(const std::string &line);

} // namespace vctest

#endif
