#!/usr/bin/env bash
# The Windows stage: cross-builds the service and its unit tests with mingw-w64, creates a Wine
# prefix with one persistent wineserver, runs the portable unit tests under Wine, then the service
# itself under Wine's service control manager (scripts/windows-smoke.sh). Exits non-zero when any
# step or check fails.
#   scripts/windows-ci.sh [all|build|check]   both phases (default), or only one of them;
#                                             scripts/test.sh builds while another check runs
#   CORVANE_WINDOWS_BUILD=<dir>               build directory (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
phase=${1:-all}
case $phase in
  all|build|check) ;;
  *) echo "windows-ci: unknown phase '$phase' (all, build or check)" >&2; exit 2 ;;
esac

build=${CORVANE_WINDOWS_BUILD:-build/windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=$(nproc)
logs=$build/wine-logs

build_phase() {
  bash scripts/install-deps.sh --windows || return 1
  mkdir -p "$logs"
  echo "=== windows: build ==="
  # Line tables only (-g1): Wine's backtraces keep file and line, and the build is a fifth faster.
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    >"$logs/configure.log" 2>&1 ||
    { cat "$logs/configure.log"; return 1; }
  cmake --build "$build" -j "$jobs" || return 1
  file "$build/bin/corvane.exe" | grep -q 'PE32+ executable.*x86-64' ||
    { echo "corvane.exe is not a PE32+ x86-64 program"; return 1; }
}

check_phase() {
  rm -rf "$logs"
  mkdir -p "$logs"
  echo "=== windows: Wine prefix ==="
  # No display: Wine then refuses windows instead of waiting for a click on one.
  unset DISPLAY WAYLAND_DISPLAY
  export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  timeout 30 wineserver -k >/dev/null 2>&1 </dev/null || true
  rm -rf "$WINEPREFIX"
  timeout 300 wineboot --init >"$logs/wineboot.log" 2>&1 </dev/null
  timeout 120 wineserver -w
  # One persistent wineserver for the whole stage, started only now: otherwise two services.exe
  # would run. Its output goes to a file: into a pipe it would hold up the shell.
  wineserver -p >"$logs/wineserver.log" 2>&1 </dev/null || true
  trap 'timeout 30 wineserver -k >/dev/null 2>&1 </dev/null; timeout 30 wineserver -w >/dev/null 2>&1 </dev/null' EXIT
  timeout 120 wine wineboot >>"$logs/wineboot.log" 2>&1 </dev/null

  echo "=== windows: unit tests under Wine ==="
  (cd "$build" && ctest --output-on-failure --no-tests=error -j "$jobs" --timeout 300)

  # The service itself under Wine's service control manager, in the same prefix.
  bash scripts/windows-smoke.sh "$build"
}

case $phase in
  build) build_phase || exit 1 ;;
  check) check_phase ;;
  all) build_phase || exit 1; check_phase ;;
esac
