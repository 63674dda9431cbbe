# The file-kind tests classify real products of the build: an object file, a position-dependent
# executable, a shared object and the support library's archive.
set(magic_sample ${CMAKE_CURRENT_LIST_DIR}/helper/magic_sample.cpp)
add_library(fs_magic_object OBJECT ${magic_sample})
add_executable(fs_magic_program ${magic_sample})
target_compile_options(fs_magic_program PRIVATE -fno-pie)
target_link_options(fs_magic_program PRIVATE -no-pie)
add_library(fs_magic_shared SHARED ${magic_sample})
if(TARGET test_fs)
  add_dependencies(test_fs fs_magic_object fs_magic_program fs_magic_shared)
  target_compile_definitions(test_fs PRIVATE
    FS_MAGIC_OBJECT="$<TARGET_OBJECTS:fs_magic_object>"
    FS_MAGIC_PROGRAM="$<TARGET_FILE:fs_magic_program>"
    FS_MAGIC_SHARED="$<TARGET_FILE:fs_magic_shared>"
    FS_MAGIC_ARCHIVE="$<TARGET_FILE:VornSupport>")
endif()
