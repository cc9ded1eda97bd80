#!/usr/bin/env bash
# Runs every test. Installs what the Linux builds need in one apt transaction, then the Windows
# cross compiler and Wine in a second one in the background while the first build runs. Builds the
# default, ASan+UBSan, TSan and Windows (mingw-w64, run under Wine) configurations one after
# another, and checks each one while the next one builds: ctest for default, asan and tsan, a short
# libFuzzer run of every fuzz target, the unit tests and the service under Wine for windows. Only
# one check runs at a time, and builds run at a lower CPU priority than checks, so a test that
# measures time is not starved by the compiler.
# The ASan configuration is built with clang and carries the fuzz targets too (libFuzzer needs
# clang, and clang builds the instrumented code in about half the time gcc takes), so the fuzz
# stage needs no build of its own when asan runs as well.
# Exits non-zero when any configure, build, test or fuzz step fails. The output ends with the
# time of every stage and ctest's summary of every configuration that ran its tests.
#   CORVANE_TEST_CONFIGS="default asan fuzz tsan windows" picks configurations (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."

configs=${CORVANE_TEST_CONFIGS:-"default asan fuzz tsan windows"}
for c in $configs; do
  case $c in
    default|windows|asan|tsan|fuzz) ;;
    *) echo "unknown configuration '$c' (known: default windows asan tsan fuzz)"; exit 2 ;;
  esac
done
jobs=$(nproc)
mkdir -p build
times=build/stage-times.txt
: >"$times"

# Runs a command and appends its wall time to the stage list; returns the command's status.
timed() {  # stage name, command...
  local name=$1 t0=$SECONDS rc=0
  shift
  "$@" || rc=$?
  echo "$name $((SECONDS - t0))" >>"$times"
  return $rc
}

has_config() { [[ " $configs " == *" $1 "* ]]; }

timed "packages" bash scripts/install-deps.sh
# The Windows packages (the cross compiler and Wine, the largest download) install while the first
# Linux configuration builds; the Windows build waits for them.
windows_packages_pid=
if has_config windows; then
  bash scripts/install-deps.sh --windows >build/packages-windows.log 2>&1 &
  windows_packages_pid=$!
fi
wait_for_windows_packages() {
  [[ -n $windows_packages_pid ]] || return 0
  local rc=0 t0=$SECONDS
  wait "$windows_packages_pid" || rc=$?
  windows_packages_pid=
  echo "packages windows (waited) $((SECONDS - t0))" >>"$times"
  ((rc == 0)) || { cat build/packages-windows.log; echo "installing the Windows packages failed"; }
  return $rc
}

# Line tables only (-g1): stack traces keep their file and line, and the compiler spends a fifth
# less time than with full debug information. The default build keeps -O2, so its code (and the
# benchmark figures) is what users get; the sanitizer builds compile at -O1.
release_flags=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
lean_flags=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")
clang=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)

# The fuzz targets are built in the asan tree when asan runs first; else fuzz has a tree of its own.
fuzz_dir=build/fuzz
asan_fuzz=()
asan_before_fuzz() {
  local c seen=0
  for c in $configs; do
    [[ $c == asan ]] && seen=1
    [[ $c == fuzz ]] && return $((seen == 0))
  done
  return 1
}
if asan_before_fuzz; then
  fuzz_dir=build/asan
  asan_fuzz=(-DCORVANE_FUZZ=ON)
fi

# The cipher library is built alike in every Linux tree (optimised, uninstrumented): the
# sanitizer trees link the archive the default tree built instead of compiling it again.
shared_sqlite() {
  local archive=$PWD/build/default/lib/libcorvane_sqlite3mc.a
  [[ -f $archive ]] && echo "-DCORVANE_SQLITE3MC_LIBRARY=$archive" || true
}

configure_and_build() {  # name, extra cmake args...
  local name=$1
  shift
  local log=build/$name.configure.log
  cmake -S . -B "build/$name" -G Ninja "$@" >"$log" 2>&1 ||
    { cat "$log"; echo "configure of $name failed"; return 1; }
  nice -n 10 cmake --build "build/$name" -j "$jobs" || { echo "build of $name failed"; return 1; }
}

build_config() {  # name
  case $1 in
    default) configure_and_build default "${release_flags[@]}" ;;
    asan) configure_and_build asan "${clang[@]}" -DCORVANE_SANITIZE=address "${asan_fuzz[@]}" -DCORVANE_BENCH=OFF \
            "${lean_flags[@]}" $(shared_sqlite) ;;
    tsan) configure_and_build tsan -DCORVANE_SANITIZE=thread -DCORVANE_BENCH=OFF "${lean_flags[@]}" $(shared_sqlite) ;;
    fuzz) configure_and_build fuzz "${clang[@]}" -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF $(shared_sqlite) \
            "${lean_flags[@]}" ;;
    windows) wait_for_windows_packages || return 1
             nice -n 10 bash scripts/windows-ci.sh build ;;
  esac
}

run_ctest() {  # name [ctest arguments]; a build directory without tests is a failure, not a pass
  local name=$1
  shift
  (cd "build/$name" && ctest --output-on-failure --no-tests=error -j "$jobs" --timeout 600 "$@")
}

check_config() {  # name
  case $1 in
    # The login-manager scenes (a bus and a mock logind of their own) get a stage time of their own.
    default) run_ctest default -LE logind && timed "check default: logind scenes" run_ctest default -L logind ;;
    # The fuzz smoke on the asan tree follows asan's ctest in the same check, so that it too
    # runs while the next configuration builds.
    asan) local rc=0
          ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan || rc=1
          if [[ $fuzz_dir == build/asan ]]; then timed "check fuzz" bash scripts/fuzz-smoke.sh build/asan || rc=1; fi
          return $rc ;;
    tsan) TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan ;;
    fuzz) bash scripts/fuzz-smoke.sh "$fuzz_dir" ;;
    windows) bash scripts/windows-ci.sh check ;;
  esac
}

results=()
status=0
checking=
check_pid=

start_check() {  # name; its output goes to build/<name>.check.log until it is shown
  checking=$1
  ( timed "check $1" check_config "$1" ) >"build/$1.check.log" 2>&1 &
  check_pid=$!
}

# Waits for the running check and shows its output: all of it when it failed, else its summary.
finish_check() {
  [[ -n $check_pid ]] || return 0
  local c=$checking
  if wait "$check_pid"; then
    results+=("$c: passed")
    echo "=== $c: check passed ==="
    if grep -q 'tests passed, ' "build/$c.check.log"; then
      sed -n '/tests passed, /,$p' "build/$c.check.log"
    else
      cat "build/$c.check.log"
    fi
  else
    results+=("$c: FAILED")
    status=1
    echo "=== $c: check FAILED; its output: ==="
    cat "build/$c.check.log"
  fi
  checking=
  check_pid=
}

for c in $configs; do
  [[ $c == fuzz && $fuzz_dir == build/asan ]] && continue  # built and checked with asan
  echo "=== $c: build ==="
  built=1
  timed "build $c" build_config "$c" || built=0
  finish_check
  if ((built)); then
    start_check "$c"
  else
    results+=("$c: FAILED (build)")
    status=1
  fi
done
finish_check

echo "=== results ==="
printf '%s\n' "${results[@]}"
echo "=== stage times (seconds, wall clock; a check overlaps the next build) ==="
cat "$times"
echo "total $SECONDS"
for c in $configs; do
  if [[ -s build/$c.check.log ]] && grep -q 'tests passed, ' "build/$c.check.log"; then
    echo "=== ctest summary: $c ==="
    sed -n '/tests passed, /,/Total Test time/p' "build/$c.check.log"
    sed -n '/The following tests FAILED/,/^$/p' "build/$c.check.log"
  fi
done
exit $status
