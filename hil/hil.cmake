# The guest test scripts of hil/ need QEMU and run with `make hil`, not with
# the test suite; this skipped test says so in every test run.
if(TMFLASH_TESTS)
  add_test(NAME make_hil_not_run
           COMMAND ${CMAKE_COMMAND} -E echo "make hil runs the tests through a real USB stack (QEMU)")
  set_tests_properties(make_hil_not_run PROPERTIES SKIP_REGULAR_EXPRESSION "make hil")
endif()
