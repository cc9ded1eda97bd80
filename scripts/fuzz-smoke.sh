#!/usr/bin/env bash
# Gives every libFuzzer target in <build>/bin a short run on its seed corpus (fuzz/corpus/<name>)
# and keeps any crash input. CORVANE_FUZZ_SECONDS sets the time per target (default 20).
# Exits non-zero when a target fails, when there is no target at all, when a target has no seed
# corpus, or when a step of this script fails.
set -euo pipefail
build=$(cd "${1:-build/fuzz}" && pwd)
cd "$(dirname "$0")/.."
secs=${CORVANE_FUZZ_SECONDS:-20}
status=0
shopt -s nullglob
targets=("$build"/bin/*_fuzz)
if ((${#targets[@]} == 0)); then
  echo "fuzz-smoke: no fuzz target in $build/bin (build with -DCORVANE_FUZZ=ON first)"
  exit 1
fi
work=
trap '[[ -n $work ]] && rm -rf "$work"' EXIT
for bin in "${targets[@]}"; do
  name=$(basename "$bin" _fuzz)
  corpus=fuzz/corpus/$name
  if [[ ! -d $corpus ]]; then
    echo "fuzz target $name has no seed corpus in $corpus"; status=1; continue
  fi
  work=$(mktemp -d)
  cp -r "$corpus"/. "$work"/
  echo "fuzz $name for ${secs}s"
  if ! "$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$build/" "$work" \
       >"$build/$name.fuzz.log" 2>&1; then
    echo "fuzz target $name failed:"; tail -40 "$build/$name.fuzz.log"; status=1
  else
    { grep -E '^Done|stat::number_of_executed_units' "$build/$name.fuzz.log" || echo "$name: no run summary"; } | tail -1
  fi
  rm -rf "$work"
  work=
done
exit $status
