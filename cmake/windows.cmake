# The Windows build: MinGW-w64 from Debian's packages (toolchain files
# cmake/mingw-x86_64.cmake and cmake/mingw-i686.cmake, which also link every
# program and DLL with the static runtime), tests run under Wine. Included by
# CMakeLists.txt after src/ has made the layers' libraries.
if(NOT WIN32)
  return()
endif()

# The Windows side of the system-specific files (src/CMakeLists.txt adds the
# POSIX side elsewhere).
target_sources(tmflash_platform PRIVATE
  ${CMAKE_SOURCE_DIR}/src/platform/native_win32.cc
  ${CMAKE_SOURCE_DIR}/src/platform/regular_file_win32.cc
  ${CMAKE_SOURCE_DIR}/src/platform/standard_streams_win32.cc
  ${CMAKE_SOURCE_DIR}/src/platform/windows_platform.cc)
target_sources(tmflash_visa PRIVATE ${CMAKE_SOURCE_DIR}/src/visa/library_loader_win32.cc)

# A DLL with the VISA functions, named as VISA DLLs are: tmflash_simvisa.dll
# (no "lib"), its functions exported under their plain names (without this a
# 32-bit __stdcall export would be named viOpen@20).
function(tmflash_visa_dll target)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_link_options(${target} PRIVATE -Wl,--kill-at)
endfunction()
tmflash_visa_dll(tmflash_simvisa)
# Beside tmflash.exe, where the POSIX build puts its library too (a DLL is a
# runtime file to CMake).
set_target_properties(tmflash_simvisa PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# GoogleTest built from its sources with this toolchain (Debian's googletest
# package ships them).
set(TMFLASH_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources, built with the Windows toolchain for the tests")
if(TMFLASH_TESTS AND NOT TARGET GTest::gtest)
  if(NOT EXISTS ${TMFLASH_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources at ${TMFLASH_GOOGLETEST_SOURCE} (Debian: apt-get install googletest), "
                        "or configure with -DTMFLASH_TESTS=OFF")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TMFLASH_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# The simulator library of the other Windows target (32-bit for a 64-bit
# build and the other way round): the tests of a DLL of the wrong bitness
# load it. `make windows` and the CI build both targets and point each at
# the other's; without it those tests are skipped, and say so.
set(TMFLASH_OTHER_BITNESS_SIM "" CACHE FILEPATH
    "tmflash_simvisa.dll of the other Windows target, for the wrong-bitness tests")

# Tests that only make sense on POSIX, left out of the Windows suite by
# design (never because they fail):
set(TMFLASH_POSIX_ONLY_TESTS
  # ANSI colour codes on a pseudo-terminal made by script(1): the POSIX
  # console. The Windows console's attribute calls, on standard output and
  # standard error, are tested through their seam in
  # tests/platform/platform_win32_test.cc.
  Binary.ColoursOnATerminalOnly
  OperatorSafety.WarningsAreYellowOnATerminalOnly
  # A folder opened as a file, which POSIX allows and then fails to read.
  # Windows refuses to open it at all: that failure is the one the list
  # file's tests (Check, OperatorSafety) meet on Windows.
  ScriptCheck.FolderThatCannotBeReadIsAWarning
  # The bash completion, run by bash: Windows consoles have none.
  HelpDocs.TheCompletionCompletesOptionsAndStopsAtTheListFile
)
# (StationPause.NoPauseDoesNotWaitOnATerminal, the pause on a pseudo-terminal
# made by script(1), is compiled on POSIX only: it needs <sys/wait.h>.)
# and whole files of them, left out of the Windows test binary:
set(TMFLASH_POSIX_ONLY_TEST_FILES
  # Descriptors 0 to 2 closed in a fork(2)ed child. Windows has no fork and
  # keeps its standard streams as handles: tests/platform/
  # standard_streams_win32_test.cc tests those, and OperatorSafety's
  # closed-input run covers the program.
  platform/standard_streams_test.cc
  # SIGINT, SIGTERM and SIGHUP during the pause on a pseudo-terminal, and the
  # terminal's modes after them. Windows has neither; Ctrl-C at the pause is
  # tested through the console seam in tests/platform/platform_win32_test.cc.
  e2e/pause_signal_test.cc
  # FIFOs made by mkfifo(3), /dev/zero and /dev/null: the POSIX kinds of
  # file a run must refuse. Windows' own kinds (a folder, the NUL device)
  # are tested in tests/platform/platform_win32_test.cc, and a folder as the
  # list file by Check and OperatorSafety.
  e2e/file_kinds_test.cc
  platform/regular_file_test.cc
)

# Under Wine each process start costs a fraction of a second, so the suite
# runs as a few processes, one per shard of the test binary, rather than one
# per test; CTest runs the shards side by side.
set(TMFLASH_WINE_SHARDS 4 CACHE STRING "Processes the Windows test suite is split into")

# The Windows part of the test binary, and its registration with CTest,
# shard by shard (called by tests/CMakeLists.txt).
function(tmflash_add_windows_tests target)
  get_target_property(sources ${target} SOURCES)
  list(REMOVE_ITEM sources ${TMFLASH_POSIX_ONLY_TEST_FILES})
  set_property(TARGET ${target} PROPERTY SOURCES ${sources})
  target_sources(${target} PRIVATE
    ${CMAKE_SOURCE_DIR}/tests/support/run_binary_win32.cc
    ${CMAKE_SOURCE_DIR}/tests/platform/platform_win32_test.cc
    ${CMAKE_SOURCE_DIR}/tests/platform/standard_streams_win32_test.cc
    ${CMAKE_SOURCE_DIR}/tests/e2e/binary_win32_test.cc)
  # The test code itself is most of what the build compiles, and how fast it
  # runs does not matter; the code it tests keeps the build's own flags.
  # Most of a test file's compile is GoogleTest's and the standard library's
  # headers: they are compiled once, for all of them.
  target_compile_options(${target} PRIVATE -O0)
  target_precompile_headers(${target} PRIVATE
    <gtest/gtest.h> <cstdint> <cstdio> <filesystem> <fstream> <functional> <map> <memory> <sstream> <string>
    <string_view> <vector>)
  tmflash_visa_dll(tmflash_visa_incomplete)
  if(TMFLASH_OTHER_BITNESS_SIM)
    target_compile_definitions(${target} PRIVATE TMFLASH_OTHER_BITNESS_SIM="${TMFLASH_OTHER_BITNESS_SIM}")
  endif()
  list(JOIN TMFLASH_POSIX_ONLY_TESTS ":" excluded)
  math(EXPR last "${TMFLASH_WINE_SHARDS} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${target}_shard${shard} COMMAND ${target} --gtest_filter=-${excluded})
    set_tests_properties(${target}_shard${shard} PROPERTIES
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${TMFLASH_WINE_SHARDS};GTEST_SHARD_INDEX=${shard}"
      TIMEOUT 900)
  endforeach()
endfunction()

# The release to copy to a Windows PC: the three programs and the simulator
# library (stripped), the README, the examples with the demo's script and
# package built. `cmake --build DIR --target dist-windows` (make dist-windows)
# writes tmflash-VERSION-win64.zip or -win32.zip into the build directory.
function(tmflash_add_windows_dist)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(name tmflash-${PROJECT_VERSION}-win64)
  else()
    set(name tmflash-${PROJECT_VERSION}-win32)
  endif()
  set(staging ${CMAKE_BINARY_DIR}/dist)
  set(dir ${staging}/${name})
  add_custom_target(dist-windows
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${staging} ${CMAKE_BINARY_DIR}/${name}.zip
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tmflash> $<TARGET_FILE:tmpack> $<TARGET_FILE:tmscript>
            $<TARGET_FILE:tmflash_simvisa> ${CMAKE_SOURCE_DIR}/README.md ${dir}
    COMMAND ${CMAKE_STRIP} ${dir}/tmflash.exe ${dir}/tmpack.exe ${dir}/tmscript.exe ${dir}/tmflash_simvisa.dll
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/examples ${dir}/examples
    COMMAND ${CMAKE_COMMAND} -E copy ${DEMO_DIR}/firmware.txt ${DEMO_DIR}/firmware.pkg ${dir}/examples/demo
    COMMAND ${CMAKE_COMMAND} -E chdir ${staging} ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${name}.zip --format=zip ${name}
    COMMENT "Packing ${name}.zip"
    VERBATIM)
  add_dependencies(dist-windows tmflash tmpack tmscript tmflash_simvisa demo_files)
  # The benchmark measures the streaming code, which is the same on every
  # system: it is not built for Windows unless asked for by name.
  set_target_properties(stream_bench PROPERTIES EXCLUDE_FROM_ALL TRUE)
endfunction()
# After CMakeLists.txt has made the targets it packs.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tmflash_add_windows_dist)
