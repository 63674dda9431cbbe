#ifndef VORN_SUPPORT_RUNTIME_COMPILER_H
#define VORN_SUPPORT_RUNTIME_COMPILER_H

// Every header of the support library includes this one first. It stops a compilation that
// cannot work with one clear message, instead of a wall of errors from deep inside a header.
#if !defined(__cplusplus) || __cplusplus < 201703L
#error "the vorn support library needs C++17 or later: compile with -std=c++17 (or -std=gnu++17)"
#endif

#endif
