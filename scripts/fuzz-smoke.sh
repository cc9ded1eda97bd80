#!/usr/bin/env bash
# Gives every libFuzzer target in <build>/bin a short run on its seed corpus (fuzz/corpus/<name>)
# and keeps any crash input. CORVANE_FUZZ_SECONDS sets the time per target (default 20).
set -uo pipefail
build=${1:-build/fuzz}
secs=${CORVANE_FUZZ_SECONDS:-20}
status=0
shopt -s nullglob
for bin in "$build"/bin/*_fuzz; do
  name=$(basename "$bin" _fuzz)
  corpus=fuzz/corpus/$name
  work=$(mktemp -d)
  [[ -d $corpus ]] && cp -r "$corpus"/. "$work"/ 2>/dev/null
  echo "fuzz $name for ${secs}s"
  if ! "$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$build/" "$work" \
       >"$build/$name.fuzz.log" 2>&1; then
    echo "fuzz target $name failed:"; tail -40 "$build/$name.fuzz.log"; status=1
  else
    grep -E '^Done|stat::number_of_executed_units' "$build/$name.fuzz.log" | tail -1
  fi
  rm -rf "$work"
done
exit $status
