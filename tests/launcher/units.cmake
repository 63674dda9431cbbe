# test_launcher_units: the VM catalogue and the server-class detection, built from their own
# sources with test-local stand-ins for the launcher's shared helpers (trace, reportError...)
# and liboru's allocator, so that they are tested apart from the rest of the launcher.
#
# The per-directory glob also puts this directory's unit test files into test_launcher, which
# links the real launcher instead; they are taken out of it here.

set(_units_dir ${CMAKE_CURRENT_LIST_DIR})
get_filename_component(_units_root ${_units_dir}/../.. ABSOLUTE)
set(_units_tests ${_units_dir}/catalogue_test.cpp ${_units_dir}/serverclass_test.cpp)

if(TARGET test_launcher)
  get_target_property(_launcher_test_sources test_launcher SOURCES)
  list(REMOVE_ITEM _launcher_test_sources ${_units_tests})
  if(_launcher_test_sources)
    set_property(TARGET test_launcher PROPERTY SOURCES ${_launcher_test_sources})
  else()
    # Nothing but the unit tests was found: test_launcher has nothing of its own to run.
    set_property(TARGET test_launcher PROPERTY EXCLUDE_FROM_ALL TRUE)
  endif()
endif()

add_executable(test_launcher_units
  ${_units_tests}
  ${_units_dir}/units/support.cpp
  ${_units_root}/launcher/catalogue.cpp
  ${_units_root}/launcher/serverclass.cpp)
target_link_libraries(test_launcher_units PRIVATE GTest::gtest GTest::gtest_main)
target_include_directories(test_launcher_units PRIVATE ${_units_root})
# Compiled as the launcher compiles them.
set_source_files_properties(
  ${_units_root}/launcher/catalogue.cpp ${_units_root}/launcher/serverclass.cpp
  PROPERTIES COMPILE_OPTIONS "-fno-exceptions;-fno-rtti" COMPILE_DEFINITIONS _GNU_SOURCE)
# The launcher may be position-independent; the cpuid code must keep EBX intact there.
set_property(TARGET test_launcher_units PROPERTY POSITION_INDEPENDENT_CODE ON)
vorn_register_tests(test_launcher_units)
