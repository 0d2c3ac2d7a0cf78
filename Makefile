# Thin wrapper over the CMake presets.
.PHONY: all deps build run test test-default test-asan bench demo clean

all: build

deps:
	tools/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default

# Builds and starts the wizard.
run: build
	build/default/app/Pendock

# Builds and passes every test: the default build, then the sanitizer build.
test: deps test-default test-asan

test-default:
	cmake --preset default
	cmake --build --preset default
	ctest --preset default -j2

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan -j2

# The wizard on a simulated machine: Enter in the terminal plugs a simulated key in.
demo: build
	tools/demo build/default/app/Pendock

bench: deps
	cmake --preset bench
	cmake --build --preset bench
	tools/run-bench build/bench

clean:
	rm -rf build
