# The two commands of the README. Both install what they need first.
JOBS ?= 2
NATIVE := build/native
ASAN := build/asan
WIN := build/win
WIN64 := build/win64

.PHONY: all bootstrap native asan win win64 wine-build test unit-test asan-test wine-test demo bench clean

all: native win

bootstrap:
	@scripts/bootstrap

native: bootstrap
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

asan: bootstrap
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON >/dev/null
	cmake --build $(ASAN) -j$(JOBS)

# Setup.exe as shipped: 32-bit, MinGW-w64 i686.
win: native
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DSZDDPACK=$(CURDIR)/$(NATIVE)/tools/szddpack >/dev/null
	cmake --build $(WIN) -j$(JOBS)

# The same sources for x86-64: what the Wine tests run on kernels that cannot
# start Wine's 32-bit loader (scripts/wine-arch decides).
win64: native
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release -DSZDDPACK=$(CURDIR)/$(NATIVE)/tools/szddpack >/dev/null
	cmake --build $(WIN64) -j$(JOBS)

wine-build: native win
	@if [ "$$(scripts/wine-arch)" = win64 ]; then $(MAKE) --no-print-directory win64; fi

unit-test: native
	ctest --test-dir $(NATIVE) --output-on-failure -j$(JOBS)
	python3 -m unittest discover -s tests/wine -p 'test_*.py'
	python3 -m unittest discover -s bench -p 'test_*.py'

asan-test: asan
	ctest --test-dir $(ASAN) --output-on-failure -j$(JOBS)

wine-test: wine-build
	WINE_TEST_ARCH=$$(scripts/wine-arch) tests/wine/run --jobs $(JOBS)

# Every test: native unit tests, the same under the sanitizers, then the
# real-platform tests under Wine.
test: unit-test asan-test wine-test

# Builds Setup.exe and the sample distribution, installs it quietly into a
# fresh Wine prefix and reports what went where.
demo: wine-build
	WINE_TEST_ARCH=$$(scripts/wine-arch) scripts/demo

# Times quiet installation and removal under Wine against an NSIS installer
# of the same files, and the SZDD packer against mscompress; writes
# docs/benchmarks.md.
bench: wine-build
	WINE_TEST_ARCH=$$(scripts/wine-arch) bench/run

clean:
	rm -rf build
