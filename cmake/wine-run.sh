#!/usr/bin/env bash
# Runs one cross-built program under Wine for ctest (the cross build's emulator). On a loaded
# machine Wine now and then fails to start a program at all: it exits at once and the program
# prints nothing, not even its first line. Only such a launch is tried again (three tries in all);
# a program that printed anything has run, and its result stands whatever it is.
set -u
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
for attempt in 1 2 3; do
  rc=0
  wine "$@" >"$out" 2>&1 </dev/null || rc=$?
  if [[ $rc -eq 0 || -s $out ]]; then
    cat "$out"
    exit "$rc"
  fi
  echo "wine-run: Wine started nothing on try $attempt (exit code $rc): $*" >&2
  sleep 1
done
exit "$rc"
