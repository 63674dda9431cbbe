# The seed of the hashing routines is fixed once per process, so the cases about the override and
# the first use run in a fresh program of their own.
add_executable(text_hash_seed ${CMAKE_CURRENT_LIST_DIR}/helper/hash_seed.cpp)
target_link_libraries(text_hash_seed PRIVATE VornSupport pthread)
target_compile_options(text_hash_seed PRIVATE -fno-rtti -fno-exceptions)
if(TARGET test_text)
  target_compile_definitions(test_text PRIVATE TEXT_HASH_SEED="$<TARGET_FILE:text_hash_seed>")
  add_dependencies(test_text text_hash_seed)
endif()
