#ifndef VORN_SUPPORT_RUNTIME_LAZYSTATIC_H
#define VORN_SUPPORT_RUNTIME_LAZYSTATIC_H

#include "support/runtime/Compiler.h"

// The one rule for process-wide objects of the support library (the standard streams, the error
// categories, ...): each lives as a static local of its accessor function.
//
//  - It is built at the accessor's first call, under the language runtime's one-time
//    initialisation of function-local statics: concurrent first calls wait for one construction,
//    and later calls return the object without locking.
//  - Its destructor is registered for exit right after construction, so at normal exit such
//    objects are destroyed in reverse order of construction; an object is never rebuilt after
//    its destruction. An object whose destructor uses another process-wide object must therefore
//    make sure that object was built first (by calling its accessor).
//  - Module state that must exist before main (the signal module's lock and lists) follows the
//    same rule: a static local of its accessor, which a namespace-scope initialiser of its module
//    also calls, so the object is built before main at the latest (earlier when another module's
//    static initialiser asks for it first). It therefore outlives every object built after it.
//
// Nothing may be built with -fno-threadsafe-statics, which would drop the one-time guard.

// Inside an accessor function: declares `name`, the process-wide object of type `Type` built
// from the remaining arguments (none for value-initialisation) at the first call.
#define VORN_LAZY_STATIC(Type, name, ...) static Type name{__VA_ARGS__}

#if defined(__GNUC__) && !defined(__cpp_threadsafe_static_init)
#error "the support library's process-wide objects need thread-safe static initialisation"
#include "vorn: compilation stopped, see the error above"
#endif

#endif
