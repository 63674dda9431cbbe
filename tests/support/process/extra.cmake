# A helper program linked like vorn-config (statically, except where the sanitizers need dynamic
# linking), for crash traces in a program where the dynamic loader can name nothing.
add_executable(process_static_crash ${CMAKE_CURRENT_LIST_DIR}/helper/static_crash.cpp)
target_link_libraries(process_static_crash PRIVATE VornSupport)
target_compile_options(process_static_crash PRIVATE -fno-rtti -fno-exceptions)
if(NOT VORN_SANITIZE)
  target_link_options(process_static_crash PRIVATE -static)
endif()
if(TARGET test_process)
  target_compile_definitions(test_process PRIVATE
    PROCESS_STATIC_CRASH="$<TARGET_FILE:process_static_crash>")
  add_dependencies(test_process process_static_crash)
endif()
