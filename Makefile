# The two commands of the README: `make run` and `make test`, and `make package` for the .deb. Each installs
# the Debian packages it misses.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
SUDO       := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
WERROR     := $(if $(CI),ON,OFF)

PKGS_BUILD := cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libcurl4-openssl-dev \
              libsdl2-dev libsodium-dev libssl-dev libx11-dev libgtest-dev libgmock-dev python3
PKGS_RUN   := fonts-wqy-microhei qt6-translations-l10n xdg-utils
PKGS_PACKAGE := dpkg-dev file
PKGS_TEST  := minisign xvfb xauth nginx-light python3-aiosmtpd curl openbox trayer xdotool microsocks desktop-file-utils appstream \
              $(PKGS_PACKAGE)
PKGS_BENCH := aria2 curl bc time nginx-light

.PHONY: all build run test test-asan test-tsan bench screenshots fuzz package deps-build deps-run deps-test \
        deps-bench deps-package format clean

all: build

# Installs whichever of the named packages dpkg does not know as installed.
define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing: $$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps-build:
	$(call install_missing,$(PKGS_BUILD))
deps-run:
	$(call install_missing,$(PKGS_RUN))
deps-test:
	$(call install_missing,$(PKGS_TEST) $(PKGS_RUN))
deps-bench:
	$(call install_missing,$(PKGS_BENCH))
deps-package:
	$(call install_missing,$(PKGS_PACKAGE))

$(BUILD)/build.ninja: | deps-build
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKAVO_WERROR=$(WERROR) $(CMAKE_ARGS)

build: deps-build $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: deps-test build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure --timeout 300

# The suite under AddressSanitizer + UndefinedBehaviorSanitizer, and under ThreadSanitizer (whose forked children
# may start xdg-open and other programs: die_after_fork=0).
test-asan:
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  $(MAKE) test BUILD=build-asan BUILD_TYPE=Debug WERROR=OFF CMAKE_ARGS=-DKAVO_SANITIZE=address
test-tsan:
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1 die_after_fork=0" \
	  $(MAKE) test BUILD=build-tsan BUILD_TYPE=Debug WERROR=OFF CMAKE_ARGS=-DKAVO_SANITIZE=thread

# Each libFuzzer harness for FUZZ_SECONDS, starting from the seeds in fuzz/corpus.
FUZZ_SECONDS ?= 30
fuzz: deps-build
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DKAVO_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzz_catalog fuzz_markers fuzz_ini fuzz_pages fuzz_smtp fuzz_http fuzz_signing
	bash fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

bench: deps-bench build
	bash bench/run_all.sh $(BUILD)

# $(BUILD)/kavo_<version>_<arch>.deb; install it with `sudo apt install ./$(BUILD)/kavo_*.deb`.
package: deps-package build
	cmake --build $(BUILD) --target package

# The README's pictures, taken under Xvfb with the CJK font.
screenshots: deps-test build
	xvfb-run -a -s "-screen 0 1280x800x24" $(BUILD)/bin/kavo_screenshots docs/screenshots

# Starts the demo service on loopback and the program with the sample catalog. Without a display, say how to
# get one, or run under Xvfb with `make run XVFB=1`.
run: deps-run build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$(XVFB)" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	  echo "No display found. Run 'make run' from a desktop session, or 'make run XVFB=1' to start under Xvfb"; \
	  echo "(then look at it with a screenshot), or set QT_QPA_PLATFORM=offscreen."; exit 1; fi
	@bash tools/run_demo.sh $(BUILD) $(if $(XVFB),xvfb)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
