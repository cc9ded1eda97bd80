#!/usr/bin/env bash
# Gives every libFuzzer target in <build>/bin a short run on its seed corpus (fuzz/corpus/<name>)
# and keeps any crash input. CORVANE_FUZZ_SECONDS sets the time per target (default 20);
# CORVANE_FUZZ_JOBS how many targets run at once (default: one per core).
# Exits non-zero when a target fails, when there is no target at all, when a target has no seed
# corpus, or when a step of this script fails.
set -euo pipefail
build=$(cd "${1:-build/fuzz}" && pwd)
cd "$(dirname "$0")/.."
secs=${CORVANE_FUZZ_SECONDS:-20}
parallel=${CORVANE_FUZZ_JOBS:-$(nproc)}
status=0
shopt -s nullglob
targets=("$build"/bin/*_fuzz)
if ((${#targets[@]} == 0)); then
  echo "fuzz-smoke: no fuzz target in $build/bin (build with -DCORVANE_FUZZ=ON first)"
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One target on a copy of its corpus; its result lands in $scratch/<name>.rc.
fuzz_one() {  # binary
  local bin=$1 name work rc=0
  name=$(basename "$bin" _fuzz)
  work=$scratch/$name
  mkdir -p "$work"
  cp -r "fuzz/corpus/$name"/. "$work"/
  "$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$build/" "$work" \
    >"$build/$name.fuzz.log" 2>&1 || rc=$?
  echo "$rc" >"$scratch/$name.rc"
}

names=()
for bin in "${targets[@]}"; do
  name=$(basename "$bin" _fuzz)
  if [[ ! -d fuzz/corpus/$name ]]; then
    echo "fuzz target $name has no seed corpus in fuzz/corpus/$name"; status=1; continue
  fi
  while (($(jobs -rp | wc -l) >= parallel)); do wait -n || true; done
  echo "fuzz $name for ${secs}s"
  fuzz_one "$bin" &
  names+=("$name")
done
wait

for name in "${names[@]}"; do
  rc=$(cat "$scratch/$name.rc" 2>/dev/null || echo "no result")
  if [[ $rc != 0 ]]; then
    echo "fuzz target $name failed ($rc):"; tail -40 "$build/$name.fuzz.log"; status=1
  else
    { grep -E '^Done|stat::number_of_executed_units' "$build/$name.fuzz.log" || echo "$name: no run summary"; } |
      tail -1 | sed "s/^/$name: /"
  fi
done
exit $status
