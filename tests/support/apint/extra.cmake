# The differential tests compare with GMP (the target's build of the library, found like every
# other library of the build). Only the test program links it; the support library never does.
if(TARGET test_apint)
  find_library(VORN_GMP_LIBRARY gmp REQUIRED)
  target_link_libraries(test_apint PRIVATE ${VORN_GMP_LIBRARY})
endif()
