# The test's own error category and slab sources derive from library classes, so they are built
# like the library: without RTTI. The sanitizer's vptr check needs the type information the
# library's classes lack.
if(TARGET test_runtime)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/claiming_category.cpp
    ${CMAKE_CURRENT_LIST_DIR}/slab_sources.cpp
    PROPERTIES COMPILE_OPTIONS -fno-rtti)
  if(VORN_SANITIZE)
    target_compile_options(test_runtime PRIVATE -fno-sanitize=vptr)
  endif()
endif()
