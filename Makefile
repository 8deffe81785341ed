# The commands README.md shows. Each first installs what the machine lacks.
#   make build   the shipped artefacts in dist/
#   make test    every test (native, sanitizers, Windows under Wine)
#   make demo    the main job: builds and runs the installer under Wine
BUILD ?= build
JOBS ?= $(shell nproc)
ROOT := $(abspath .)
B := $(abspath $(BUILD))

export WINEPREFIX := $(B)/wineprefix
export WINEARCH := win32
export WINEDEBUG := -all
export WINEDLLOVERRIDES := mscoree,mshtml=;winemenubuilder.exe=d
# Wine maps the desktop and documents onto HOME: keep them in the build tree.
export HOME := $(B)/home

.PHONY: all bootstrap bootstrap-builder builder build windows native asan test test-native test-asan test-windows test-fuzz fuzz bench demo clean install dist

all: build

bootstrap:
	@bash tools/bootstrap.sh

$(B)/windows/CMakeCache.txt:
	cmake -S . -B $(B)/windows -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null

$(B)/native/CMakeCache.txt:
	cmake -S . -B $(B)/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

$(B)/asan/CMakeCache.txt:
	cmake -S . -B $(B)/asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON >/dev/null

windows: bootstrap $(B)/windows/CMakeCache.txt
	cmake --build $(B)/windows -j$(JOBS)

native: bootstrap $(B)/native/CMakeCache.txt
	cmake --build $(B)/native -j$(JOBS)

asan: bootstrap $(B)/asan/CMakeCache.txt
	cmake --build $(B)/asan -j$(JOBS)

build: windows $(B)/native/CMakeCache.txt
	@mkdir -p dist
	cp $(B)/windows/app/setup.exe $(B)/windows/app/uninst.exe dist/
	cmake --build $(B)/native --target mkinstaller -j$(JOBS)
	@# Shipped stripped, as make install strips (the tree keeps its symbols).
	strip -o dist/mkinstaller $(B)/native/mkinstaller/mkinstaller
	i686-w64-mingw32-strip -o dist/mkinstaller.exe $(B)/windows/mkinstaller/mkinstaller.exe
	@echo "dist/: $$(ls dist | tr '\n' ' ')"

# The builder alone, for make install and make dist: the native tool and the
# two programs it starts from, in trees of their own without tests, with
# only the compilers and libraries they need (tools/bootstrap.sh builder):
# no Wine, Xvfb, nginx or test programs.
BUILDER_TREES := $(B)/builder

bootstrap-builder:
	@bash tools/bootstrap.sh builder

$(BUILDER_TREES)/windows/CMakeCache.txt:
	cmake -S . -B $(BUILDER_TREES)/windows -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTS=OFF >/dev/null

$(BUILDER_TREES)/native/CMakeCache.txt:
	cmake -S . -B $(BUILDER_TREES)/native -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF \
	  -DMKINSTALLER_STUB_DIR=$(BUILDER_TREES)/windows/app >/dev/null

builder: bootstrap-builder $(BUILDER_TREES)/windows/CMakeCache.txt $(BUILDER_TREES)/native/CMakeCache.txt
	cmake --build $(BUILDER_TREES)/windows --target setup uninst -j$(JOBS)
	cmake --build $(BUILDER_TREES)/native --target mkinstaller -j$(JOBS)

# The builder installed: PREFIX/lib/mkinstaller/{mkinstaller,setup.exe,uninst.exe},
# PREFIX/bin/mkinstaller a link, its manual page and copyright file; stripped.
PREFIX ?= /usr/local
install: builder
	cmake --install $(BUILDER_TREES)/native --prefix $(PREFIX) --strip --component mkinstaller

# A Debian package of the builder in dist/: the same tree under /usr.
dist: builder
	cd $(BUILDER_TREES)/native && cpack -G DEB -B $(BUILDER_TREES)/deb >/dev/null
	@mkdir -p dist
	cp $(BUILDER_TREES)/deb/mkinstaller_*.deb dist/
	@echo "dist/: $$(ls dist/*.deb)"

test-native: native
	ctest --test-dir $(B)/native --output-on-failure -j$(JOBS)

test-asan: asan
	ctest --test-dir $(B)/asan --output-on-failure -j$(JOBS)

test-windows: build
	@mkdir -p $(HOME)
	bash tools/wine-prefix.sh $(WINEPREFIX)
	@# One persistent wine server for the whole run (a server that exits between
	@# two test programs refuses the next one's connection), and its helper
	@# processes started first, so that they hold no test's output streams.
	xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'wineserver -p; wine cmd /c exit </dev/null >/dev/null 2>&1; \
	  ctest --test-dir $(B)/windows --output-on-failure -j$(JOBS); rc=$$?; wineserver -k 2>/dev/null; exit $$rc'

# A few seconds of every fuzzing harness on its seed corpus.
test-fuzz: bootstrap
	FUZZ_BUILD=$(B)/fuzz bash tools/fuzz.sh 5

SECONDS ?= 60
fuzz: bootstrap
	FUZZ_BUILD=$(B)/fuzz bash tools/fuzz.sh $(SECONDS)

# Figures against the peers (docs/benchmarks.md); never part of make test.
bench: build
	@mkdir -p $(HOME)
	BUILD_DIR=$(B) bash tools/bench.sh

test:
	@start=$$(date +%s); \
	$(MAKE) --no-print-directory test-native test-asan test-fuzz test-windows; rc=$$?; \
	echo "make test: $$(( $$(date +%s) - start )) s"; exit $$rc

demo: build
	@mkdir -p $(HOME)
	bash tools/wine-prefix.sh $(WINEPREFIX)
	bash tools/demo.sh $(B)

clean:
	rm -rf $(B) dist
