# test_launcher: the unit tests link the launcher's phases (everything but the process entry);
# the end-to-end tests run the staged quillet, so it must be built and staged first.
# units.cmake builds the catalogue and server-class tests apart, with stand-ins for the rest.
include(${CMAKE_CURRENT_LIST_DIR}/units.cmake)
if(TARGET test_launcher AND TARGET quillet)
  target_link_libraries(test_launcher PRIVATE quillet_phases)
  add_dependencies(test_launcher quillet)
endif()
