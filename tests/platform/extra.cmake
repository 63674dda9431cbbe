# The platform tests load the built libraries and run mkzub from the build tree; they write zub
# files of their own through minizip.
if(NOT TARGET test_platform)
  return()
endif()
target_link_libraries(test_platform PRIVATE minizip z pthread)
if(VORN_SANITIZE)
  set(platform_sanitized 1)
else()
  set(platform_sanitized 0)
endif()
target_compile_definitions(test_platform PRIVATE
  _FILE_OFFSET_BITS=64 # minizip's headers turn it on part-way through a file otherwise
  PLATFORM_ORU_LIB="$<TARGET_FILE:oru>"
  PLATFORM_RASK_LIB="$<TARGET_FILE:rask>"
  PLATFORM_SPLASH_LIB="$<TARGET_FILE:splashscreen>"
  PLATFORM_TESK_LIB="$<TARGET_FILE:tesk>"
  PLATFORM_MKZUB="$<TARGET_FILE:mkzub>"
  PLATFORM_SANITIZED=${platform_sanitized})
add_dependencies(test_platform oru rask splashscreen tesk mkzub tools_zub)
