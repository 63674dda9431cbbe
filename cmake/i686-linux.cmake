# Toolchain file: the machine's g++ with -m32, and the i386 builds of Debian's libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# SSE2 for floating point. -mno-stv keeps 64-bit integer arithmetic in register pairs: moved into
# SSE registers, a loop's 64-bit values went through memory with 8-byte stores reloaded by 16-byte
# loads, which cannot be forwarded (a uint64_t add chain ran 2.6 times slower, APInt's 8 times).
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -mno-stv")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse -mno-stv")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
