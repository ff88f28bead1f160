# Corvane: build, run and test. Every target installs what is missing first.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps build run test clean

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)

run: build
	bash scripts/run.sh $(BUILD)

test: build
	bash scripts/test.sh $(BUILD)

clean:
	rm -rf $(BUILD)
