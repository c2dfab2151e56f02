# A thin layer over CMake. `make` builds into build/, `make test` runs every
# test, `make demo` shows a round trip, `make bench` measures speed.
BUILD ?= build
ASAN ?= build-asan
PREFIX ?= /usr/local
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all test asan demo bench fuzz install clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: all
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same tests with AddressSanitizer and UndefinedBehaviorSanitizer.
asan:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) \
	  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build $(ASAN) -j $(JOBS)
	ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

# Pack a file made on the spot (the framecap binary itself), capture the
# stream with -v, and check the copy.
demo: all
	@d=$(BUILD)/demo && rm -rf $$d && mkdir -p $$d && \
	cp $(BUILD)/framecap $$d/sample && \
	$(BUILD)/framepack $$d/sample > $$d/stream && \
	$(BUILD)/framecap -v -p $$d copy < $$d/stream > $$d/log && \
	echo "framepack $$d/sample | framecap -v -p $$d copy:" && \
	head -n 3 $$d/log && echo "..." && tail -n 2 $$d/log && \
	cmp $$d/sample $$d/copy && \
	echo "demo: $$d/copy is identical to $$d/sample ($$(wc -c < $$d/copy) bytes in $$(grep -c '^DATA' $$d/log) DATA packets)"

bench: all
	$(BUILD)/framecap-bench $(BUILD)

# A bounded AFL++ run on framecap's standard input; fails on a crash or hang.
FUZZ_SECONDS ?= 60
fuzz:
	sh tests/fuzz/run.sh $(FUZZ_SECONDS)

install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN) build-fuzz
