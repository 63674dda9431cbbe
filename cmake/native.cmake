# Toolchain file: the machine's own gcc and g++, for the build machine (normally x86-64). Only the
# support library, vorn-config, their tests and the benchmarks are built this way.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(VORN_NATIVE ON CACHE BOOL "Build the support library and vorn-config for the build machine" FORCE)
