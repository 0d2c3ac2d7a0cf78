# Thin wrapper over the CMake presets.
.PHONY: all deps build run format check-format test test-default test-asan test-windows test-fuzz fuzz windows package bench demo clean

all: build

deps:
	tools/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default

# Builds and starts the wizard, a desktop program: without a display it says so instead of
# letting Qt fail on its platform plugin.
run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "make run: no display. Pendock is a desktop program: run it in a desktop session" \
	       "(or on a virtual display, where nothing is seen: xvfb-run -a make run)." >&2; \
	  exit 1; \
	fi
	build/default/app/Pendock

# Builds and passes every test: the default build, the sanitizer build, the Windows build
# under Wine, then each fuzz target for 20 s.
test: deps check-format test-default test-asan test-windows test-fuzz

# Every C++ file formatted by .clang-format: `make format` applies it, `make test` checks it.
format: deps
	tools/format

check-format:
	tools/format --check

test-default:
	cmake --preset default
	cmake --build --preset default
	ctest --preset default -j2

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan -j2

test-windows:
	cmake --preset windows
	cmake --build --preset windows
	ctest --preset windows -j2

# The fuzz targets (fuzz/), two at a time: 20 s each in `make test`, FUZZ_SECONDS each here.
FUZZ_SECONDS ?= 600
test-fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz -j2

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	PENDOCK_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz -j2 --timeout $$(( $(FUZZ_SECONDS) + 120 ))

# Pendock.exe with locale.db and locale.xml beside it, in build/windows/app/, ready to copy to
# a Windows machine.
windows: deps
	cmake --preset windows
	cmake --build --preset windows --target Pendock pendock_locale
	@echo "Windows program: build/windows/app/Pendock.exe (with locale.db and locale.xml)"

# The packages a user installs, with their SHA-256 sums, in build/package/: the Debian package,
# the Windows installer and the portable Windows archive (packaging/build-packages).
package: deps
	packaging/build-packages

# The wizard on a simulated machine: Enter in the terminal plugs a simulated key in.
demo: build
	tools/demo build/default/app/Pendock

bench: deps
	cmake --preset bench
	cmake --build --preset bench
	tools/run-bench build/bench

clean:
	rm -rf build
