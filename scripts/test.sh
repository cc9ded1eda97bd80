#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the default, ASan+UBSan and TSan
# configurations and runs ctest in each, then builds the libFuzzer targets and gives each a
# short smoke run on its seed corpus.
#   CORVANE_TEST_CONFIGS="default asan tsan fuzz" picks configurations (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

configs=${CORVANE_TEST_CONFIGS:-"default asan tsan fuzz"}
jobs=$(nproc)
status=0

build() {  # name, extra cmake args...
  local dir=build/$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >"build-$(basename "$dir").configure.log" 2>&1 || { cat "build-$(basename "$dir").configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs"
}

run_ctest() {  # dir
  (cd "$1" && ctest --output-on-failure -j "$jobs" --timeout 600) || status=1
}

mkdir -p build
for c in $configs; do
  echo "=== $c ==="
  case $c in
    default) build default && run_ctest build/default ;;
    asan) build asan -DCORVANE_SANITIZE=address -DCORVANE_BENCH=OFF && \
          ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build/asan ;;
    tsan) build tsan -DCORVANE_SANITIZE=thread -DCORVANE_BENCH=OFF && \
          TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest build/tsan ;;
    fuzz) build fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON \
              -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF && bash scripts/fuzz-smoke.sh build/fuzz || status=1 ;;
  esac
done
exit $status
