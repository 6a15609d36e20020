#!/usr/bin/env bash
# Quillcast's one entry script.
#   ./quill.sh demo    install what is missing, build, run the demo broadcast
#   ./quill.sh test    install what is missing, build, run every test twice
#                      (normal build and AddressSanitizer+UBSan build), the
#                      threaded tests a third time under ThreadSanitizer, and
#                      the portable core's tests cross-built for Windows
#                      under Wine
#   ./quill.sh build   install and build only (build/release)
#   ./quill.sh bench   build and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

# Every Debian 12 package the project needs, in one place.
APT_PACKAGES=(
  build-essential cmake ninja-build pkg-config clang
  zlib1g-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl1-mesa-dri
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-damage0-dev libxcb-randr0-dev
  libxcb-xinput-dev libxcb-keysyms1-dev libx11-xcb-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 iptables
  xvfb xauth xdotool xterm x11-apps x11-xserver-utils imagemagick
  dpkg-dev file lintian
  qt6-httpserver-dev qt6-websockets-dev chromium python3-websockets
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev googletest
  wine64 nsis icoutils zip
  libnetfilter-queue-dev
)

say() { printf '\n== %s\n' "$*"; }

install_packages() {
  local missing=()
  for p in "${APT_PACKAGES[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# Runs ctest in a build folder; appends "passed failed" to $SUMMARY.
run_ctest() {  # dir, label, extra ctest args...
  local dir=$1 label=$2 log
  shift 2
  log=$(mktemp)
  say "tests: $label"
  set +e
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 600 "$@") 2>&1 | tee "$log"
  set -e
  local total failed
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
  failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  if [ -z "$total" ]; then total=0; failed=1; fi
  echo "$((total - failed)) $failed" >> "$SUMMARY"
  rm -f "$log"
}

cmd_test() {
  install_packages
  SUMMARY=$(mktemp)
  say "build: normal"
  configure_and_build "$ROOT/build/release"
  run_ctest "$ROOT/build/release" "normal build"
  say "build: AddressSanitizer + UndefinedBehaviorSanitizer"
  configure_and_build "$ROOT/build/asan" -DQC_SANITIZE=ON -DQC_BUILD_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "$ROOT/build/asan" "sanitizer build"
  say "build: ThreadSanitizer (threaded tests only)"
  cmake -S "$ROOT" -B "$ROOT/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQC_TSAN=ON \
    -DQC_BUILD_BENCH=OFF >/dev/null
  cmake --build "$ROOT/build/tsan" -j "$(nproc)" --target threaded_tests
  QC_STRESS_CYCLES=40 \
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$ROOT/tests/tsan.supp" \
    run_ctest "$ROOT/build/tsan" "race detector build" -L threads
  say "build: Windows cross build (MinGW-w64), tests under Wine"
  cmake -S "$ROOT" -B "$ROOT/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$ROOT/build/windows" -j "$(nproc)"
  run_ctest "$ROOT/build/windows" "Windows build under Wine"
  local passed=0 failed=0
  while read -r p f; do passed=$((passed + p)); failed=$((failed + f)); done < "$SUMMARY"
  rm -f "$SUMMARY"
  echo
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

cmd_build() {
  install_packages
  configure_and_build "$ROOT/build/release"
}

cmd_bench() {
  install_packages
  configure_and_build "$ROOT/build/release"
  if [ -x "$ROOT/bench/run.sh" ]; then "$ROOT/bench/run.sh" "$ROOT/build/release"; else
    echo "no benchmarks yet"; fi
}

cmd_demo() {
  install_packages
  configure_and_build "$ROOT/build/release"
  if [ -x "$ROOT/tools/demo.sh" ]; then exec "$ROOT/tools/demo.sh" "$ROOT/build/release"; fi
  echo "Built in build/release. The demo broadcast arrives with the programs."
}

case "${1:-}" in
  demo) cmd_demo ;;
  test) cmd_test ;;
  build) cmd_build ;;
  bench) cmd_bench ;;
  *) echo "usage: $0 demo|test|build|bench" >&2; exit 2 ;;
esac
