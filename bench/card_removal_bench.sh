#!/usr/bin/env bash
# Card removal to session lock with the real smart-card stack (tests/device/card_rig.sh): 20 runs
# of a card logon with lock and a delay of DELAY seconds (2 unless given), the card pulled, and the
# time until the console session reads as disconnected; prints every run, and p50 and p99 of the
# time past the delay on the machine's clock. The floor is pcscd's polling of the vpcd reader
# (about 400 ms between looks), which the removal itself has to wait for.
#   bash bench/card_removal_bench.sh [BUILD_DIR] [RUNS] [DELAY]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/device/card_rig.sh"
rig_enter_namespaces "$@"

build=${1:-$here/../build/default}
runs=${2:-20}
delay=${3:-2}
delay_ms=$((delay * 1000))
corvane=$build/bin/corvane
ctl=$build/bin/corvane-ctl
phone=$build/bin/corvane-lanphone
card=$build/bin/corvane-card
pkcs11=/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so
rig_start

times=()
past=()
beyond=()
floors=()
for run in $(seq 1 "$runs"); do
  report 1 "$delay"
  t0=$(date +%s%N)
  # corvane-card returns once pcscd itself reports the reader empty: the floor of this run.
  "$card" remove "$reader" >/dev/null || fail "remove"
  floor=$((($(date +%s%N) - t0) / 1000000))
  ms=$(wait_state Disconnected $((5000 + delay_ms)) "$t0") || fail "run $run: no lock within the delay and 5 s"
  times+=("$ms")
  past+=($((ms - delay_ms)))
  beyond+=($((ms - delay_ms - floor)))
  floors+=("$floor")
  echo "run $run: removal to lock ${ms} ms, $((ms - delay_ms)) ms past the delay (pcscd reported the reader empty after ${floor} ms)"
  reconnect
  "$card" insert "$reader" --serial $serial >/dev/null || fail "insert"
done
# The nearest-rank percentile of the numbers given after it.
pick() {
  local p=$1
  shift
  local sorted=($(printf '%s\n' "$@" | sort -n))
  local i=$(((${#sorted[@]} * p + 99) / 100 - 1))
  echo "${sorted[$((i < 0 ? 0 : i))]}"
}
echo "card removal to lock over $runs runs (delay $delay s): p50 $(pick 50 "${times[@]}") ms, p99 $(pick 99 "${times[@]}") ms"
echo "past the delay: p50 $(pick 50 "${past[@]}") ms, p99 $(pick 99 "${past[@]}") ms"
# The service counts the delay from the moment it sees the card gone, which is no earlier than
# pcscd's report: the time past the delay beyond that report is the service's own share.
echo "past the delay beyond pcscd's report: p50 $(pick 50 "${beyond[@]}") ms, p99 $(pick 99 "${beyond[@]}") ms"
echo "floor, removal to pcscd reporting the reader empty: p50 $(pick 50 "${floors[@]}") ms, p99 $(pick 99 "${floors[@]}") ms"
