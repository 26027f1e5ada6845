# Sweeps over the demo: every VISA call failing in turn, an update cut at
# every call and run again, every truncation and a sample of bit flips of
# its files. They print their figures (ctest -V, or the test binary).
target_sources(tmflash_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/demo_bench.cc
  ${CMAKE_CURRENT_LIST_DIR}/fault_sweep_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/file_sweep_test.cc
  ${CMAKE_CURRENT_LIST_DIR}/recovery_test.cc)
