# Thin wrapper over CMake for the README's commands.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all build test demo bench clean

all: build

# Configured once; a failed configure leaves no stamp and runs again next time.
$(BUILD_DIR)/.configured:
	cmake -S . -B $(BUILD_DIR) $(GENERATOR)
	touch $@

build: $(BUILD_DIR)/.configured
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Runs every job kind against a simulated instrument; the operator's answer
# to the instrument list (0, the first instrument) comes from the pipe.
demo: build
	cd $(BUILD_DIR)/demo && printf '0\n' | ../tmflash --visa=sim:instrument.sim demo.lst

# The updater's and the simulator's cost per command and tmflash's memory
# (bench/stream_bench.cc says what it measures); valgrind gives the counts.
bench: build
	$(BUILD_DIR)/stream_bench

clean:
	rm -rf $(BUILD_DIR)
