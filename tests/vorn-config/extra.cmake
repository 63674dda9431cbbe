# vorn-config's tests run the real tool. Beside the installed one they use a variant whose
# compiled-in object root lies inside the build tree (spelled with a "./" to check that the tool
# compares directories by identity), so that the tests can lay out development trees there
# without touching "/". The tests own that directory: they create and remove it.
set(VORN_CONFIG_TEST_TREE ${CMAKE_BINARY_DIR}/vorn-config-devtree)
vorn_config_tool(vorn-config-devtree "${VORN_CONFIG_TEST_TREE}/./objroot" "${VORN_CONFIG_TEST_TREE}/src")

if(TARGET test_vorn_config)
  if(VORN_SANITIZE)
    # The installed headers are the same in every build, and compiling them is most of what that
    # test does: the other builds check them.
    get_target_property(_sources test_vorn_config SOURCES)
    list(FILTER _sources EXCLUDE REGEX "/headers_test\\.cpp$")
    set_property(TARGET test_vorn_config PROPERTY SOURCES ${_sources})
  endif()
  vorn_host_program(vorn-catalogue-gen VORN_CATALOGUE_GEN)
  target_link_libraries(test_vorn_config PRIVATE VornConfigCore)
  add_dependencies(test_vorn_config vorn-config vorn-config-devtree ${VORN_CATALOGUE_GEN_TARGET})
  target_compile_definitions(test_vorn_config PRIVATE
    VORN_CONFIG_EXE="$<TARGET_FILE:vorn-config>"
    VORN_CONFIG_DEV_EXE="$<TARGET_FILE:vorn-config-devtree>"
    VORN_CONFIG_TEST_TREE="${VORN_CONFIG_TEST_TREE}"
    VORN_CATALOGUE_GEN="${VORN_CATALOGUE_GEN}"
    VORN_CATALOGUE_DESCRIPTION="${CMAKE_SOURCE_DIR}/tools/vorn-config/components.txt"
    VORN_CXX_COMPILER="${CMAKE_CXX_COMPILER}"
    VORN_CMAKE_COMMAND="${CMAKE_COMMAND}")
  if(VORN_NATIVE)
    target_compile_definitions(test_vorn_config PRIVATE
      VORN_EXPECT_NATIVE=1 VORN_EXPECTED_BUILD_MODE="${CMAKE_BUILD_TYPE}")
  endif()
  if(VORN_SANITIZE)
    # The library's stream classes carry no type information for the sanitizer's vptr check.
    target_compile_options(test_vorn_config PRIVATE -fno-sanitize=vptr)
    # The support library of this build is instrumented: a client must link the runtimes too.
    target_compile_definitions(test_vorn_config PRIVATE VORN_CLIENT_EXTRA_LDFLAGS="-fsanitize=address,undefined")
  else()
    target_compile_definitions(test_vorn_config PRIVATE VORN_CLIENT_EXTRA_LDFLAGS="")
  endif()
endif()
