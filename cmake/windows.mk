# The Windows build, included by the Makefile: both targets cross-built with
# MinGW-w64 (cmake/mingw-x86_64.cmake, cmake/mingw-i686.cmake), their tests
# run under Wine, and the release zips.
#
#   make windows         build-windows/x86_64/ and build-windows/i686/
#   make test-windows    both builds, then both test suites under Wine
#   make dist-windows    build-windows/*/tmflash-VERSION-win64.zip and -win32.zip
# CMAKE_ARGS, as for `make test`, go to the first configure of each.
WINDOWS_DIR ?= build-windows
WINDOWS_TARGETS := x86_64 i686
# The loader's tests of a DLL of the wrong bitness load the other target's
# simulator library.
windows_other = $(if $(filter x86_64,$1),i686,x86_64)

.PHONY: windows test-windows dist-windows

$(WINDOWS_DIR)/%/.configured:
	cmake -S . -B $(WINDOWS_DIR)/$* $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$*.cmake \
	  -DCMAKE_BUILD_TYPE=Release \
	  -DTMFLASH_OTHER_BITNESS_SIM=$(CURDIR)/$(WINDOWS_DIR)/$(call windows_other,$*)/tmflash_simvisa.dll \
	  $(CMAKE_ARGS)
	touch $@

windows: $(WINDOWS_TARGETS:%=$(WINDOWS_DIR)/%/.configured)
	for target in $(WINDOWS_TARGETS); do cmake --build $(WINDOWS_DIR)/$$target -j $(JOBS) || exit 1; done

test-windows: windows
	for target in $(WINDOWS_TARGETS); do \
	  ctest --test-dir $(WINDOWS_DIR)/$$target --output-on-failure -j $(JOBS) || exit 1; done

dist-windows: windows
	for target in $(WINDOWS_TARGETS); do cmake --build $(WINDOWS_DIR)/$$target --target dist-windows || exit 1; done
	@ls -1 $(WINDOWS_DIR)/*/tmflash-*.zip
