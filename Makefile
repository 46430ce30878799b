# Set-up and entry points. `make demo` and `make test` work on a fresh Debian machine:
# both install the missing build packages first (idempotent, no prompts).

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

DEB_PACKAGES := g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
                libpng-dev libjemalloc-dev libcli11-dev libtinygltf-dev rapidjson-dev nlohmann-json3-dev libstb-dev \
                ninja-build

FUZZ_PACKAGES := clang libclang-rt-14-dev
# The headless browser in which a test opens kaopt's HTML report and sees its 3D views draw.
BROWSER_PACKAGES := chromium
FUZZ_SECONDS ?= 30

.PHONY: deps configure build demo test update-goldens mutants bench asan fuzz format-check clean

# The one installation step, which every other target calls: the Debian packages the build and
# the tests need (plus what a target adds through EXTRA_PACKAGES), and the npm packages of
# tests/package.json (offline once installed): the Khronos glTF validator that the glTF tests run
# on exported files, and three.js, which kaopt's HTML report carries for its 3D views (a build
# without it still works; its reports say the views are unavailable). Idempotent, no prompts.
deps:
	@missing=""; for p in $(DEB_PACKAGES) $(EXTRA_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -eq 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi
	@if command -v npm >/dev/null 2>&1; then \
	  [ -d tests/node_modules/gltf-validator ] && [ -d tests/node_modules/three ] || \
	    (cd tests && npm ci --no-audit --no-fund --loglevel=error); \
	else \
	  echo "npm is missing: the glTF validator checks will be skipped, and the HTML report has no 3D views"; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The tour: reports before and after a chain of passes over the example scene, saved as glTF.
# Builds only the tool and the plug-in, not the test suite.
demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kaopt KAOptExtension
	@mkdir -p $(BUILD_DIR)/demo
	$(BUILD_DIR)/kaopt run --example --script examples/tour.ini -o $(BUILD_DIR)/demo/example.glb
	@echo "The optimised example scene is $(BUILD_DIR)/demo/example.glb: open it in any glTF viewer."

test: EXTRA_PACKAGES = $(BROWSER_PACKAGES)
test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Rewrites the recorded sections of every golden file (tests/golden) from this build's kaopt, to be
# reviewed as a git diff (docs/goldens.md).
update-goldens: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kaopt
	cd $(BUILD_DIR) && KA_UPDATE_GOLDENS=1 ctest -j $(JOBS) -R '^golden\.' --output-on-failure

# One deliberate fault per pass (tests/mutants.txt), each of which some test must catch.
mutants: build
	tests/run_mutants.sh $(BUILD_DIR)

# Benchmarks print their figures; build them optimised, apart from the test build.
bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target benchmarks
	for b in build-bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# The pass reference pages, docs/passes/CLASS.md, made anew from the code (the passes' reflection
# and their KA_PASS_DOC texts in extension/kaPassTable.def); a test fails while they differ.
.PHONY: docs
docs: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kaopt KAOptExtension
	$(BUILD_DIR)/kaopt describe --markdown --out-dir docs/passes

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKA_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# Each fuzz target (libFuzzer, clang) for FUZZ_SECONDS, from seeds of the examples, the sample models and fuzz/seeds.
fuzz: EXTRA_PACKAGES = $(FUZZ_PACKAGES)
fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKA_FUZZ=ON -DKA_BUILD_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets kaopt
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# The C++ lines changed since FORMAT_BASE (default: the commit before HEAD) follow .clang-format.
format-check: EXTRA_PACKAGES = clang-format
format-check: deps
	tools/check-format.sh $(FORMAT_BASE)

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz
