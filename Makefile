# The two commands of the README. Both install what they need first.
JOBS ?= 2
NATIVE := build/native
ASAN := build/asan
WIN := build/win
WIN64 := build/win64
FUZZ := build/fuzz
COV := build/coverage
FUZZ_SECONDS ?= 300
FUZZ_TARGETS := fuzz_setup_ini fuzz_registry_record fuzz_cabinet_members fuzz_groups_reply fuzz_szdd

.PHONY: all bootstrap native asan win win64 wine-build test unit-test asan-test wine-test dist-test demo bench clean \
	fuzz-build fuzz-test fuzz coverage sweep-full

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

# The distribution as shipped (tests/dist): mkdist's output and manifest,
# signing against a throw-away authority, the shipped Setup.exe read without
# running it (and the x86-64 build, where wine-build made one), and two
# builds of the tree in two directories compared.
dist-test: native wine-build
	python3 -m unittest discover -s tests/dist -p 'test_*.py' -v

# The libFuzzer targets (clang, instrumented with ASan and UBSan too).
fuzz-build: bootstrap
	cmake -S . -B $(FUZZ) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON >/dev/null
	cmake --build $(FUZZ) -j$(JOBS)

# Each fuzz target over its seed corpus (and the crashes kept there) only.
fuzz-test: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  if $(FUZZ)/tests/fuzz/$$t tests/fuzz/corpus/$$t/* >$(FUZZ)/$$t.log 2>&1; then \
	    echo "fuzz corpus: $$t: $$(ls tests/fuzz/corpus/$$t | wc -l) inputs"; \
	  else cat $(FUZZ)/$$t.log; exit 1; fi; \
	done

# Each fuzz target for FUZZ_SECONDS (default 300) from its seeds. New inputs
# go to build/fuzz/corpus/<target>, a crash to build/fuzz/crashes/<target>/.
fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ)/corpus/$$t $(FUZZ)/crashes/$$t; \
	  echo "fuzzing $$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ)/tests/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ)/crashes/$$t/ $(FUZZ)/corpus/$$t tests/fuzz/corpus/$$t >$(FUZZ)/$$t.fuzz.log 2>&1; \
	  rc=$$?; grep -E "^(stat::number_of_executed_units|stat::new_units_added|Done)|ERROR|invariant" $(FUZZ)/$$t.fuzz.log; \
	  [ $$rc -eq 0 ] || { tail -n 40 $(FUZZ)/$$t.fuzz.log; exit 1; }; \
	done

# Line and branch coverage of src/ by the native tests (gcovr; branches that
# only exceptions take are left out).
coverage: bootstrap
	cmake -S . -B $(COV) -DCMAKE_BUILD_TYPE=Debug -DCOVERAGE=ON >/dev/null
	cmake --build $(COV) -j$(JOBS)
	find $(COV) -name '*.gcda' -delete
	$(COV)/tests/unit/unit_tests >$(COV)/unit_tests.log 2>&1 || { tail -n 40 $(COV)/unit_tests.log; exit 1; }
	gcovr -r . --filter 'src/' --exclude-throw-branches --exclude-unreachable-branches $(COV)
	gcovr -r . --filter 'src/' --exclude-throw-branches --exclude-unreachable-branches --branches $(COV)
	gcovr -r . --filter 'src/' --exclude-throw-branches --exclude-unreachable-branches --print-summary $(COV) | tail -n 2

# The whole fault sweep: every road on Windows 98 and XP and on 64-bit
# XP, 7, 8.1, 10 and 11, as an administrator and as a standard
# user, fresh and over the user's own files, with every call failing in
# turn and the disk full at every point. make test runs a sample of it.
sweep-full: native
	SWEEP_FULL=1 $(NATIVE)/tests/unit/unit_tests --gtest_filter='Roads/FaultSweep.*'

# Every test: native unit tests, the same under the sanitizers, each fuzz
# target over its corpus, the real-platform tests under Wine, then the
# distribution's.
test: unit-test asan-test fuzz-test wine-test dist-test

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
