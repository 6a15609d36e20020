#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
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
  zlib1g-dev libgcrypt20-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl1-mesa-dri
  libxcb1-dev libxcb-shm0-dev libxcb-xfixes0-dev libxcb-damage0-dev libxcb-randr0-dev
  libxcb-xinput-dev libxcb-keysyms1-dev libx11-xcb-dev libx11-dev
  libwayland-dev wayland-protocols sway swaybg grim
  libpipewire-0.3-dev libsystemd-dev mutter xdg-desktop-portal xdg-desktop-portal-gnome pipewire
  wireplumber dbus python3-dbus python3-gi libglib2.0-bin foot wtype
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 iptables
  xvfb xauth xdotool xterm x11-apps x11-xserver-utils imagemagick trayer
  dpkg-dev file lintian
  qt6-httpserver-dev qt6-websockets-dev chromium python3-websockets openssl
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev libgcrypt-mingw-w64-dev googletest
  wine64 nsis icoutils zip gstreamer1.0-libav gstreamer1.0-plugins-bad
  libnetfilter-queue-dev libgf-complete-dev
)

# Debian source packages the Windows build compiles (no MinGW-w64 package
# of them exists): fetched with the project's own source list, without
# touching the machine's apt configuration, into build/third_party/NAME.
SOURCE_PACKAGES=(gf-complete)

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

fetch_sources() {
  local dir=$ROOT/build/third_party apt_opts p
  mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial"
  printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main\n' \
    >"$dir/apt/sources.list"
  apt_opts=(-q -o "Dir::Etc::SourceList=$dir/apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::Cache=$dir/apt/cache" -o Debug::NoLocking=1)
  local updated=0
  for p in "${SOURCE_PACKAGES[@]}"; do
    [ -d "$dir/$p/src" ] && continue
    if [ "$updated" = 0 ]; then
      say "fetching Debian sources: ${SOURCE_PACKAGES[*]}"
      apt-get "${apt_opts[@]}" update
      updated=1
    fi
    rm -rf "$dir/src-$p" && mkdir -p "$dir/src-$p"
    (cd "$dir/src-$p" && apt-get "${apt_opts[@]}" source "$p")
    mv "$(find "$dir/src-$p" -mindepth 1 -maxdepth 1 -type d -name "$p-*" | head -n 1)" "$dir/$p"
    rm -rf "$dir/src-$p"
  done
}

configure_and_build() {  # preset
  cmake --preset "$1"
  cmake --build --preset "$1" -j "$(nproc)"
}

# Builds one tree of CMakePresets.json and runs its tests; appends
# "label passed failed" to $SUMMARY and leaves build/<preset>/junit.xml.
# A tree that runs no test at all counts as failed.
run_tree() {  # preset, label
  local preset=$1 label=$2 log total failed
  say "build: $label"
  configure_and_build "$preset"
  log=$(mktemp)
  say "tests: $label"
  set +e
  ctest --preset "$preset" -j "$(nproc)" --output-junit "$ROOT/build/$preset/junit.xml" 2>&1 | tee "$log"
  set -e
  total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
  failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  if [ -z "$total" ] || [ "$total" -eq 0 ]; then total=0; failed=1; fi
  printf '%s\t%s\t%s\n' "$label" "$((total - failed))" "$failed" >> "$SUMMARY"
  rm -f "$log"
}

# Four trees, in this order: the Windows tree's interop tests run the
# programs of build/release.
cmd_test() {
  install_packages
  SUMMARY=$(mktemp)
  run_tree release "normal build"
  run_tree asan "sanitizer build"
  run_tree tsan "race detector build"
  fetch_sources
  run_tree windows "Windows build under Wine"
  local passed=0 failed=0 label p f
  echo
  while IFS=$'\t' read -r label p f; do
    printf '%-26s %4d passed, %d failed\n' "$label:" "$p" "$f"
    passed=$((passed + p)); failed=$((failed + f))
  done < "$SUMMARY"
  rm -f "$SUMMARY"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

cmd_build() {
  install_packages
  configure_and_build release
}

cmd_bench() {
  install_packages
  configure_and_build release
  if [ -x "$ROOT/bench/run.sh" ]; then "$ROOT/bench/run.sh" "$ROOT/build/release"; else
    echo "no benchmarks yet"; fi
}

cmd_demo() {
  install_packages
  configure_and_build release
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
