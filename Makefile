# The two commands of the README. Both install what they need first (scripts/bootstrap).
#   make demo   build everything and run the plug-in over the sample photos into out/
#   make test   build all four configurations and run every test (what CI runs)
# For users: make package writes the archives they install into build/package/.

JOBS ?= $(shell nproc)
SAMPLES := $(wildcard samples/*.png samples/*.jpg)

.PHONY: all demo test bench build bootstrap native windows package clean install-gegl

all: build

bootstrap:
	@scripts/bootstrap

# The Windows builds come first: the native configuration registers their tests under Wine
# when it finds them.
windows: bootstrap
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS)

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

build: windows native

DEMO_PRESET := data/presets/Lift Shadows.qvp

demo: build
	@mkdir -p out
	@for f in $(SAMPLES); do \
	  name=$$(basename $$f); stem=$${name%.*}; \
	  echo "quarvel-host --preset '$(DEMO_PRESET)' $$f -> out/$$stem.png"; \
	  build/native/bin/quarvel-host -q --preset "$(DEMO_PRESET)" $$f out/$$stem.png || exit 1; \
	done
	@echo "Done. The plug-in modules are build/win32/bin/quarvel.8bf and build/win64/bin/quarvel64.8bf."

test: build
	cmake --preset native-asan >/dev/null
	cmake --build --preset native-asan -j $(JOBS)
	ctest --preset native -j $(JOBS)
	ctest --preset native-asan -j $(JOBS)

# One archive per Windows module, laid out for a host's plug-in folder, and one of the GEGL
# operation for Linux (scripts/package).
package: windows native
	scripts/package

# quarvel:filter for GIMP and the gegl command line, into ~/.local/share/gegl-0.4/plug-ins/quarvel.
install-gegl: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS) --target install-gegl

# Timings, not tests: run on a quiet machine.
bench: native
	build/native/bin/quarvel-bench

clean:
	rm -rf build out

# Every C++ source in the one style of the root .clang-format; `make test` fails on any that differs.
format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
