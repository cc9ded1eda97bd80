#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the default, ASan+UBSan and TSan
# configurations and runs ctest in each, then builds the libFuzzer targets and gives each a
# short smoke run on its seed corpus. Exits non-zero when any configure, build, test or fuzz
# step fails; the output ends with ctest's summary of every configuration that ran its tests.
#   CORVANE_TEST_CONFIGS="default asan tsan fuzz" picks configurations (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

configs=${CORVANE_TEST_CONFIGS:-"default asan tsan fuzz"}
jobs=$(nproc)
status=0
results=()

build() {  # name, extra cmake args...
  local name=$1; shift
  local log=build/$name.configure.log
  cmake -S . -B "build/$name" -G Ninja "$@" >"$log" 2>&1 ||
    { cat "$log"; echo "configure of $name failed"; return 1; }
  cmake --build "build/$name" -j "$jobs" || { echo "build of $name failed"; return 1; }
}

run_ctest() {  # name; a build directory without tests is a failure, not a pass
  (cd "build/$1" && ctest --output-on-failure --no-tests=error -j "$jobs" --timeout 600) 2>&1 |
    tee "build/$1.ctest.log"
}

run_config() {  # name
  rm -f "build/$1.ctest.log"
  case $1 in
    default) build default && run_ctest default ;;
    asan) build asan -DCORVANE_SANITIZE=address -DCORVANE_BENCH=OFF &&
          ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan ;;
    tsan) build tsan -DCORVANE_SANITIZE=thread -DCORVANE_BENCH=OFF &&
          TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan ;;
    fuzz) build fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON \
              -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF && bash scripts/fuzz-smoke.sh build/fuzz ;;
    *) echo "unknown configuration '$1' (known: default asan tsan fuzz)"; return 1 ;;
  esac
}

mkdir -p build
for c in $configs; do
  echo "=== $c ==="
  # Run in an if: a failing step anywhere in the configuration decides its result, whatever
  # set -e would make of a && list.
  if run_config "$c"; then
    results+=("$c: passed")
  else
    results+=("$c: FAILED")
    status=1
  fi
done

echo "=== results ==="
printf '%s\n' "${results[@]}"
for c in $configs; do
  if [[ -s build/$c.ctest.log ]] && grep -q 'tests passed, ' "build/$c.ctest.log"; then
    echo "=== ctest summary: $c ==="
    sed -n '/tests passed, /,$p' "build/$c.ctest.log"
  fi
done
exit $status
