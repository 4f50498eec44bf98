# The one front door: every user and CI goes through these targets.
#   make        build into build/ (the launcher lands at build/bin/sfx-launcher.exe)
#   make demo   build, then run the launcher on the sample package under Wine
#   make test   build, then run every test (ends with ctest's summary line)
#   make bench  build, then run the benchmarks, which print their figures
BUILD ?= build
JOBS ?= 2

.PHONY: all deps configure demo test bench clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@tools/install-deps.sh

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo

demo: all
	@tools/demo.sh $(BUILD)

test: all
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 900

bench: all
	@tools/bench.sh $(BUILD)

clean:
	@test ! -d $(BUILD)/wine || tools/wine-session.sh stop $(BUILD)
	rm -rf $(BUILD)
