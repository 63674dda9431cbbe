# The large-file check reads the symbols of the build's own programs, shared libraries and static
# libraries, and the C library's list of what it defines.
if(NOT TARGET test_abi)
  return()
endif()
separate_arguments(_flags UNIX_COMMAND "${CMAKE_C_FLAGS}")
execute_process(COMMAND ${CMAKE_C_COMPILER} ${_flags} -print-file-name=libc.so.6
                OUTPUT_VARIABLE _libc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(VORN_NM nm REQUIRED)
# One product a line: "dynamic PATH" for an executable or a shared library, "static PATH" for an
# archive of objects.
set(_products "")
set(_dynamic quillet oru rask splashscreen tesk mkzub)
if(VORN_SANITIZE)
  # Elsewhere vorn-config is linked statically; its objects are those of the static libraries.
  list(APPEND _dynamic vorn-config)
endif()
foreach(t ${_dynamic})
  string(APPEND _products "dynamic $<TARGET_FILE:${t}>\n")
endforeach()
foreach(t VornSupport VornConfigCore quillet_phases platform_common)
  string(APPEND _products "static $<TARGET_FILE:${t}>\n")
endforeach()
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/abi_products.txt CONTENT "${_products}")
target_compile_definitions(test_abi PRIVATE
  VORN_ABI_PRODUCTS="${CMAKE_CURRENT_BINARY_DIR}/abi_products.txt"
  VORN_ABI_LIBC="${_libc}"
  VORN_NM="${VORN_NM}")
add_dependencies(test_abi quillet oru rask splashscreen tesk mkzub vorn-config
                 VornSupport VornConfigCore quillet_phases platform_common)
