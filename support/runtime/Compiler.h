#ifndef VORN_SUPPORT_RUNTIME_COMPILER_H
#define VORN_SUPPORT_RUNTIME_COMPILER_H

// Every header of the support library includes this one before anything else. It stops a
// compilation that cannot work with one clear message, instead of a wall of errors from deep
// inside the headers. An #error alone lets the compiler go on, so the missing file after it ends
// the compilation there.
#if !defined(__cplusplus) || __cplusplus < 201703L
#error "the vorn support library needs C++17 or later: compile with -std=c++17 (or -std=gnu++17)"
#include "vorn: compilation stopped, see the error above"
#endif

#endif
