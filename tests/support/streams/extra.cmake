# The stream tests use a real pseudo-terminal and a child program for the exit-time behaviour of
# the standard streams.
add_executable(streams_exit_child ${CMAKE_CURRENT_LIST_DIR}/helper/exit_child.cpp)
target_link_libraries(streams_exit_child PRIVATE VornSupport)
# Built like the library's own programs.
target_compile_options(streams_exit_child PRIVATE -fno-rtti -fno-exceptions)
if(TARGET test_streams)
  target_link_libraries(test_streams PRIVATE util)
  target_compile_definitions(test_streams PRIVATE
    STREAMS_EXIT_CHILD="$<TARGET_FILE:streams_exit_child>")
  add_dependencies(test_streams streams_exit_child)
  # Test classes derived from the library's streams are built like the library: without RTTI.
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/StreamTestSupport.cpp
    PROPERTIES COMPILE_OPTIONS -fno-rtti)
  # The sanitizer's vptr check needs the type information that the library's classes lack.
  if(VORN_SANITIZE)
    target_compile_options(test_streams PRIVATE -fno-sanitize=vptr)
  endif()
endif()
