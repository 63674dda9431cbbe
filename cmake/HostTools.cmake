# Programs that run during the build are built for the build machine, never for the target: a
# build for i686 must work on a machine that cannot execute 32-bit programs. In a cross build
# (the default i686 one) they come from a small project of their own, configured with the build
# machine's compilers; in a native build they are ordinary targets of this project.
#
# vorn_host_program(NAME VAR): sets VAR to the path of the build-machine program NAME,
# VAR_DEPENDS to what a custom command that runs it must depend on, and VAR_TARGET to the target
# that builds it.

if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(VORN_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
  ExternalProject_Add(host_tools
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/cmake/host-tools
    BINARY_DIR ${VORN_HOST_TOOLS_DIR}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
               -DVORN_SOURCE_DIR=${CMAKE_SOURCE_DIR} -DVORN_WERROR=${VORN_WERROR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${VORN_HOST_TOOLS_DIR}/vorn-catalogue-gen ${VORN_HOST_TOOLS_DIR}/mkzub)
endif()

function(vorn_host_program name var)
  if(CMAKE_CROSSCOMPILING)
    set(${var} ${VORN_HOST_TOOLS_DIR}/${name} PARENT_SCOPE)
    set(${var}_DEPENDS host_tools ${VORN_HOST_TOOLS_DIR}/${name} PARENT_SCOPE)
    set(${var}_TARGET host_tools PARENT_SCOPE)
  else()
    set(${var} $<TARGET_FILE:${name}> PARENT_SCOPE)
    set(${var}_DEPENDS ${name} PARENT_SCOPE)
    set(${var}_TARGET ${name} PARENT_SCOPE)
  endif()
endfunction()
