# The toolkit as a package for other builds: the CMake package (find_package(Vorn) and the
# imported target Vorn::Support) and the pkg-config module vorn-support. Both describe the support
# library as vorn-config does: its include directory, the definitions of --cppflags, the system
# libraries of --ldflags, and, in the i686 build, the architecture options a consumer must use.
# They find the installation from their own location, so that a moved tree still works.
include(CMakePackageConfigHelpers)

# vorn_package_words(OUT TEXT PREFIX WHAT): the words of TEXT, each with PREFIX ("-D", "-l")
# taken off; a word without it stops the configure, since the packages could not describe it.
function(vorn_package_words out text prefix what)
  separate_arguments(words UNIX_COMMAND "${text}")
  set(result "")
  foreach(word ${words})
    if(NOT word MATCHES "^${prefix}(.+)$")
      message(FATAL_ERROR "'${word}' in \"${text}\" is no ${what}; the packages cannot describe it")
    endif()
    list(APPEND result "${CMAKE_MATCH_1}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# The definitions of --cppflags ("-DNDEBUG -D_GNU_SOURCE ..."), as CMake's list of definitions.
vorn_package_words(VORN_PACKAGE_DEFINITIONS "${VORN_CONFIG_CPP_FLAGS}" "-D" definition)
# The system libraries of --ldflags ("-lpthread -lrt -ldl -lm"): the threads and loader libraries
# as CMake names them, the others by name.
vorn_package_words(_syslibs "${VORN_CONFIG_SYSTEM_LIBS}" "-l" library)
set(VORN_PACKAGE_LIBRARIES "")
foreach(lib ${_syslibs})
  if(lib STREQUAL "pthread")
    list(APPEND VORN_PACKAGE_LIBRARIES Threads::Threads)
  elseif(lib STREQUAL "dl" AND CMAKE_DL_LIBS)
    list(APPEND VORN_PACKAGE_LIBRARIES ${CMAKE_DL_LIBS})
  else()
    list(APPEND VORN_PACKAGE_LIBRARIES ${lib})
  endif()
endforeach()
# The i686 build's library can only be linked into 32-bit x86 programs built for the same processor
# generation; a native build describes the build machine's own library, which needs no options.
if(VORN_NATIVE)
  set(VORN_PACKAGE_COMPILE_OPTIONS "")
  set(VORN_PACKAGE_LINK_OPTIONS "")
  set(VORN_PACKAGE_ARCH "${CMAKE_SYSTEM_PROCESSOR}")
else()
  set(VORN_PACKAGE_COMPILE_OPTIONS -m32 -march=i686)
  set(VORN_PACKAGE_LINK_OPTIONS -m32)
  set(VORN_PACKAGE_ARCH "i686")
endif()

string(JOIN " " VORN_PACKAGE_COMPILE_TEXT ${VORN_PACKAGE_COMPILE_OPTIONS})
string(JOIN " " VORN_PACKAGE_LINK_TEXT ${VORN_PACKAGE_LINK_OPTIONS})

target_compile_definitions(VornSupport INTERFACE "$<INSTALL_INTERFACE:${VORN_PACKAGE_DEFINITIONS}>")
target_compile_options(VornSupport INTERFACE "$<INSTALL_INTERFACE:${VORN_PACKAGE_COMPILE_OPTIONS}>")
target_link_options(VornSupport INTERFACE "$<INSTALL_INTERFACE:${VORN_PACKAGE_LINK_OPTIONS}>")
foreach(lib ${VORN_PACKAGE_LIBRARIES})
  # Threads and the loader library are the build's own dependencies already.
  if(NOT lib STREQUAL "Threads::Threads" AND NOT lib STREQUAL "${CMAKE_DL_LIBS}")
    target_link_libraries(VornSupport INTERFACE "$<INSTALL_INTERFACE:${lib}>")
  endif()
endforeach()

# The CMake package: lib/cmake/vorn/{VornConfig,VornConfigVersion,VornTargets}.cmake.
set(_cmake_dir lib/cmake/vorn)
set(_gen ${CMAKE_CURRENT_BINARY_DIR}/package)
install(EXPORT VornTargets NAMESPACE Vorn:: DESTINATION ${_cmake_dir} COMPONENT toolkit)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VornConfig.cmake.in ${_gen}/VornConfig.cmake
  INSTALL_DESTINATION ${_cmake_dir} NO_SET_AND_CHECK_MACRO NO_CHECK_REQUIRED_COMPONENTS_MACRO)
# Any 3.x satisfies a request for 3.y with y <= x. The architecture is checked by VornConfig.cmake,
# which can say what is wrong, rather than by the version file, which could only refuse.
write_basic_package_version_file(${_gen}/VornConfigVersion.cmake
  VERSION ${VORN_CONFIG_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${_gen}/VornConfig.cmake ${_gen}/VornConfigVersion.cmake
  DESTINATION ${_cmake_dir} COMPONENT toolkit)

# The pkg-config module: lib/pkgconfig/vorn-support.pc, its prefix found from its own place.
list(TRANSFORM VORN_PACKAGE_DEFINITIONS PREPEND "-D" OUTPUT_VARIABLE _pc_definitions)
string(JOIN " " VORN_PC_CFLAGS ${_pc_definitions} ${VORN_PACKAGE_COMPILE_OPTIONS})
string(STRIP "${VORN_CONFIG_SYSTEM_LIBS}" _pc_syslibs)
string(JOIN " " VORN_PC_LIBS ${_pc_syslibs} ${VORN_PACKAGE_LINK_OPTIONS})
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorn-support.pc.in ${_gen}/vorn-support.pc @ONLY)
install(FILES ${_gen}/vorn-support.pc DESTINATION lib/pkgconfig COMPONENT toolkit)
