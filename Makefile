# Corvane: build, run and test. Every target installs what is missing first.
BUILD ?= build
# The release's configuration (size-optimised, stripped): what is tested is what ships.
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=MinSizeRel

.PHONY: all deps build run test clean bench screenshot dist test-dist

all: build

deps:
	bash scripts/install-deps.sh

# CMake reads the toolchain file only when it first configures a folder: a build folder set up
# with another compiler than the one the toolchain file names is configured afresh.
TOOLCHAIN_CXX := $(shell sed -n 's/^set(CMAKE_CXX_COMPILER \(.*\))$$/\1/p' cmake/mingw-i686.cmake)

build: deps
	@grep -qs -- '/$(TOOLCHAIN_CXX)"' $(BUILD)/CMakeFiles/*/CMakeCXXCompiler.cmake || \
		rm -rf $(BUILD)/CMakeCache.txt $(BUILD)/CMakeFiles
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)

run: build
	bash scripts/run.sh $(BUILD)

test: build
	bash scripts/test.sh $(BUILD)

clean:
	rm -rf $(BUILD)

# Benchmarks, never part of 'make test'.
bench: build
	bash scripts/bench.sh $(BUILD)

# The README's screenshot of the main window showing a real library.
screenshot: build
	bash scripts/screenshot.sh $(BUILD)

# The release: a portable zip and an installer in dist/.
dist: deps
	bash scripts/dist.sh

# The release end to end: builds dist/, then installs, uses and uninstalls it in fresh prefixes.
test-dist: deps
	bash scripts/test-dist.sh
