#ifndef QUILLET_OPTIONS_H
#define QUILLET_OPTIONS_H

// Turning the command line into VM options, the main class or zub file and the application
// arguments. All of it runs on the first thread before the VM thread starts.

#include <cstdint>

// The launcher arguments compiled in, put in front of the user's.
extern const char *const kEmbeddedArgs[];
extern const int kEmbeddedArgCount;

// Parses the text after "-Xss" as a thread stack size: decimal digits, then at most one unit
// letter (k, m, g, t in either case, binary multiples). Returns false, leaving `bytes` alone, for
// any other form and for sizes that do not fit a signed 64-bit count.
bool parseStackSize(const char *text, int64_t *bytes);

// Appends one option to vmOptions; `text` must stay valid for the life of the process. A valid
// "-Xss" size also becomes vmThreadStack.
void appendVmOption(char *text, void *extraInfo = nullptr);

// Builds the working argument vector from the user's arguments (argument 0 left out): the "-J"
// options without their prefix first, then the embedded main class, then the other arguments,
// with a class path option's value replaced by its wildcard expansion. The vector ends with a
// null entry. A bare "-J" ends the process with status 1.
void buildWorkingArgs(int userArgc, char **userArgv, int *outArgc, char ***outArgv);

// Adds "-Dtesk.class.path=" with the wildcard expansion of `path`.
void addClassPathOption(const char *path);

// Adds the environment class path (when "CLASSPATH" is set), the application home and the
// default class path properties. Ends the process with status 1 when the home is unknown.
void addClassPathAndHomeOptions();

// What the option scan leaves for the VM thread.
struct ScanResult {
  char *mainClassName; // the operand in class mode, else null
  char *zubFile;       // the operand in zub mode, else null
  int appArgc;         // the arguments after the operand
  char **appArgv;
  int presetStatus; // 1 when a class path option lacked its value, else 0
};

// Scans the leading options of the working vector, adding VM options and setting the option
// flags, then takes the operand. "-fullversion" ends the process with status 0.
ScanResult scanLauncherOptions(int argc, char **argv);

// Adds the command (only when `scan` has an operand), launcher and process id properties.
void addLauncherProperties(const ScanResult &scan);

#endif
