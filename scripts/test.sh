#!/usr/bin/env bash
# Runs every test. Installs what is missing in one apt transaction, then builds the default,
# Windows (mingw-w64, run under Wine), ASan+UBSan, TSan and fuzzing configurations one after
# another, and checks each one while the next one builds: ctest for default, asan and tsan, the
# unit tests and the service under Wine for windows, a short libFuzzer run of every target for
# fuzz. Only one check runs at a time, and builds run at a lower CPU priority than checks, so a
# test that measures time is not starved by the compiler.
# Exits non-zero when any configure, build, test or fuzz step fails. The output ends with the
# time of every stage and ctest's summary of every configuration that ran its tests.
#   CORVANE_TEST_CONFIGS="default windows asan tsan fuzz" picks configurations (all by default).
set -euo pipefail
cd "$(dirname "$0")/.."

configs=${CORVANE_TEST_CONFIGS:-"default windows asan tsan fuzz"}
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

if [[ " $configs " == *" windows "* ]]; then
  timed "packages" bash scripts/install-deps.sh --windows
else
  timed "packages" bash scripts/install-deps.sh
fi

# The sanitizer and fuzzing builds compile at -O1 with line tables only: stack traces keep their
# file and line, and the build takes half the time of -O2 with full debug information.
lean_flags=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")

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
    default) configure_and_build default ;;
    asan) configure_and_build asan -DCORVANE_SANITIZE=address -DCORVANE_BENCH=OFF "${lean_flags[@]}" ;;
    tsan) configure_and_build tsan -DCORVANE_SANITIZE=thread -DCORVANE_BENCH=OFF "${lean_flags[@]}" ;;
    fuzz) configure_and_build fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON \
            -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF "${lean_flags[@]}" ;;
    windows) nice -n 10 bash scripts/windows-ci.sh build ;;
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
    asan) ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan ;;
    tsan) TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest tsan ;;
    fuzz) bash scripts/fuzz-smoke.sh build/fuzz ;;
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
