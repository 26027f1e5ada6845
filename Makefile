# Thin wrapper over CMake for the README's commands.
#   make test CMAKE_ARGS="-DTMFLASH_WERROR=ON"   extra CMake arguments; given on
#   a later call, they configure the build dir again before it builds
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all reconfigure build test demo bench install clean

all: build

# Configured once; a failed configure leaves no stamp and runs again next time.
$(BUILD_DIR)/.configured:
	cmake -S . -B $(BUILD_DIR) $(GENERATOR) $(CMAKE_ARGS)
	touch $@

# Configures again only when CMAKE_ARGS are given to an existing build dir.
reconfigure: $(BUILD_DIR)/.configured
	$(if $(CMAKE_ARGS),cmake -S . -B $(BUILD_DIR) $(CMAKE_ARGS))

build: reconfigure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Runs every job kind against a simulated instrument; the operator's answer
# to the instrument list (0, the first instrument) comes from the pipe. Builds
# only what the demo needs: the program and the tools that make its files.
demo: reconfigure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tmflash demo_files
	cd $(BUILD_DIR)/demo && printf '0\n' | ../tmflash --visa=sim:instrument.sim demo.lst

# Installs what cmake --install installs (the programs, the manual page, the
# bash completion, the README and the examples); PREFIX to choose where,
# DESTDIR for a package.
install: build
	cmake --install $(BUILD_DIR) $(if $(PREFIX),--prefix $(PREFIX))

# The updater's and the simulator's cost per command and tmflash's memory
# (bench/stream_bench.cc says what it measures); valgrind gives the counts.
bench: build
	$(BUILD_DIR)/stream_bench

clean:
	rm -rf $(BUILD_DIR)

# The fuzz targets, FUZZ_SECONDS each, in build-fuzz with clang
# (fuzz/README.md); CI runs the same for a short while.
FUZZ_SECONDS ?= 600
FUZZ_JOBS ?= 1
.PHONY: fuzz
fuzz:
	FUZZ_JOBS=$(FUZZ_JOBS) fuzz/run.sh $(FUZZ_SECONDS)

# The tests through a real USB stack, in a QEMU guest (hil/README.md).
.PHONY: hil
hil: build
	hil/run.sh $(BUILD_DIR)

# The Windows build, its tests under Wine, the release zips.
include cmake/windows.mk
