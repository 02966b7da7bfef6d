# The two commands of the README. Both install what they need first.
JOBS ?= 2
NATIVE := build/native
ASAN := build/asan
WIN := build/win

.PHONY: all bootstrap native asan win test unit-test asan-test wine-test demo clean

all: native win

bootstrap:
	@scripts/bootstrap

native: bootstrap
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

asan: bootstrap
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON >/dev/null
	cmake --build $(ASAN) -j$(JOBS)

win: bootstrap
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(WIN) -j$(JOBS)

unit-test: native
	ctest --test-dir $(NATIVE) --output-on-failure -j$(JOBS)

asan-test: asan
	ctest --test-dir $(ASAN) --output-on-failure -j$(JOBS)

wine-test: native win
	tests/wine/run

# Every test: native unit tests, the same under the sanitizers, then the
# real-platform tests under Wine.
test: unit-test asan-test wine-test

# Builds Setup.exe and the sample distribution, installs it quietly into a
# fresh Wine prefix and reports what went where.
demo: native win
	scripts/demo

clean:
	rm -rf build
