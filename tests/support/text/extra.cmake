# The seed of the hashing routines is fixed once per process, so the cases about the override and
# the first use run in a fresh program of their own.
add_executable(text_hash_seed ${CMAKE_CURRENT_LIST_DIR}/helper/hash_seed.cpp)
target_link_libraries(text_hash_seed PRIVATE VornSupport pthread)
target_compile_options(text_hash_seed PRIVATE -fno-rtti -fno-exceptions)
if(TARGET test_text)
  target_compile_definitions(test_text PRIVATE TEXT_HASH_SEED="$<TARGET_FILE:text_hash_seed>")
  add_dependencies(test_text text_hash_seed)
endif()
# The node-set tests' own set derives from a library class, so it is built like the library:
# without RTTI. The sanitizer's vptr check needs the type information the library's classes lack.
if(TARGET test_text)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/nodeset_fixtures.cpp
    PROPERTIES COMPILE_OPTIONS -fno-rtti)
  if(VORN_SANITIZE)
    target_compile_options(test_text PRIVATE -fno-sanitize=vptr)
  endif()
endif()
