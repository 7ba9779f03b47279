# The two commands of the README: `make demo` and `make test`. Each installs what is
# missing (only the groups of packages its steps need, scripts/install-deps), configures
# and builds both modules, and then runs its job. `make web` writes the web page.
JOBS ?= 2
CTEST = ctest --output-on-failure -j $(JOBS) --timeout 900

.PHONY: all deps deps-build deps-windows deps-web deps-test build build-linux web build-windows build-sanitizers demo test test-linux \
        test-windows test-sanitizers test-threads test-fuzz test-fuzz-long test-thirdparty soak bench clean \
        install uninstall dist

all: build

deps:
	scripts/install-deps

deps-build:
	scripts/install-deps build

deps-windows:
	scripts/install-deps build windows

deps-web:
	scripts/install-deps web

deps-test:
	scripts/install-deps build windows web test

build-linux: deps-build
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS)

build-windows: deps-windows
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

build: build-linux build-windows

# Kelvatone Live: the plug-in's analysis and display in WebAssembly, in one HTML file.
# Debian's emscripten finds its Node modules (acorn) there also under a Node that is not
# Debian's.
EMSCRIPTEN_ENV = NODE_PATH=/usr/share/nodejs$${NODE_PATH:+:$$NODE_PATH}
web: deps-web
	$(EMSCRIPTEN_ENV) cmake --preset web >/dev/null
	$(EMSCRIPTEN_ENV) cmake --build --preset web -j $(JOBS)
	scripts/make-web-page build/web-wasm/kelvatone.wasm web/page build/web/kelvatone.html
	@echo "make web: wrote build/web/kelvatone.html ($$(stat -c %s build/web/kelvatone.html) bytes)"

build-sanitizers: deps-build
	cmake --preset linux-asan >/dev/null
	cmake --build --preset linux-asan -j $(JOBS)
	cmake --preset linux-tsan >/dev/null
	cmake --build --preset linux-tsan -j $(JOBS)

# The demo runs only the two modules, the host and the demo take's writer, so a fresh
# machine builds those and none of the test programs.
DEMO_TARGETS = kelvatone_module kelvatone-host
demo: deps-windows
	scripts/install-deps demo
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target $(DEMO_TARGETS) kelvatone-demo-take
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target $(DEMO_TARGETS)
	scripts/demo

# The Linux tests include the end-to-end runs of the Windows module under Wine and the
# web page in Chromium, so both presets and the page are built first.
test-linux: deps-test build web
	cd build/linux && $(CTEST)

test-windows: build-windows
	cd build/windows && $(CTEST)

# The ThreadSanitizer step includes the fuzz target that sets parameters while audio runs,
# replayed from its corpus and then for 30 s of random inputs (tests/fuzz).
test-sanitizers: build-sanitizers
	cd build/linux-asan && $(CTEST) -L native -LE endtoend
	cd build/linux-tsan && $(CTEST) -L concurrency

# The thread rules, checked by clang at compile time: the libraries and programs built
# with -Wthread-safety -Werror (analysis/ThreadSafety.h). A build only; it runs nothing.
test-threads: deps-test
	cmake --preset linux-clang-threads >/dev/null
	cmake --build --preset linux-clang-threads -j $(JOBS)

# The libFuzzer targets, each for a fixed number of inputs (about a minute in all).
test-fuzz: deps-test
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	cd build/fuzz && $(CTEST) -L fuzz

# An hour of audio through one instance with its editor open (tests/soak/Soak.cpp):
# natively, where resident memory may grow by at most 1 MiB after the first minute,
# then under AddressSanitizer and UndefinedBehaviorSanitizer, which must report
# nothing. The suite runs five minutes of it (soak_short).
SOAK_SECONDS ?= 3600
soak: build-linux
	scripts/with-xvfb build/linux/tests/soak/kelvatone-soak build/linux/kelvatone.so \
	    --seconds $(SOAK_SECONDS)
	cmake --preset linux-asan >/dev/null
	cmake --build build/linux-asan --target kelvatone-soak -j $(JOBS)
	scripts/with-xvfb build/linux-asan/tests/soak/kelvatone-soak build/linux-asan/kelvatone.so \
	    --seconds $(SOAK_SECONDS)

# Every libFuzzer target for FUZZ_SECONDS (default 10 minutes) each, from its seeds,
# keeping new inputs in build/fuzz/long/<target>/; not part of `make test`. Each
# target's last lines (run count, crash inputs) go to build/fuzz/long/<target>.log.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS = fuzz_process_events fuzz_dispatcher fuzz_parameters fuzz_process \
               fuzz_lifecycle fuzz_midi_file fuzz_wav_file fuzz_audio_file \
               fuzz_parameter_threads
test-fuzz-long: deps-test
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	set -e; for target in $(FUZZ_TARGETS); do \
	    mkdir -p build/fuzz/long/$$target; \
	    build/fuzz/tests/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -timeout=30 \
	        -print_final_stats=1 -artifact_prefix=build/fuzz/long/$$target/ \
	        build/fuzz/long/$$target tests/fuzz/corpus/$$target \
	        > build/fuzz/long/$$target.log 2>&1; \
	    echo "$$target: $$(grep number_of_executed_units build/fuzz/long/$$target.log)"; \
	done

# kelvatone.so in the plug-in scanners of Ardour 7 and Qtractor and in an Ardour session
# (all part of test-linux, so `make test` runs them there).
test-thirdparty: build-linux
	cd build/linux && $(CTEST) -L thirdparty

test: test-threads test-linux test-windows test-sanitizers test-fuzz

install: build-linux
	scripts/install-module install build/linux/kelvatone.so

uninstall:
	scripts/install-module uninstall kelvatone.so

dist: build web
	scripts/install-deps dist
	scripts/make-dist

bench: deps-test build-linux
	scripts/install-deps bench
	bench/compare.sh

clean:
	rm -rf build demo dist
