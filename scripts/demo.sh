#!/usr/bin/env bash
# The demo: builds the service, starts it on a fresh temporary state root (its own registry,
# program data and logs) and plays a short scene against it with corvane-ctl and the stand-ins,
# narrating each step, then stops it and shows what it recorded.
#   CORVANE_DEMO_KEEP=1 keeps the state root afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=build/default
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
bin=$PWD/$build/bin
export CORVANE_ROOT=$(mktemp -d /tmp/corvane-demo.XXXXXX)
ctl=$bin/corvane-ctl
say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
cleanup() {
  [[ -n "${pid:-}" ]] && kill -0 "$pid" 2>/dev/null && "$ctl" stop >/dev/null 2>&1 || true
  # Stand-ins a scene left running (a step that failed ends the demo before the scene stops
  # them) would hold the demo's ports for the next run.
  local stray
  stray=$(jobs -p)
  [[ -n $stray ]] && kill $stray 2>/dev/null || true
  [[ -n "${CORVANE_DEMO_KEEP:-}" ]] || rm -rf "$CORVANE_ROOT"
}
trap cleanup EXIT

# Scenes that must prepare the machine before the service reads its configuration (pairings,
# the logon component's ports) do it in scripts/demo.d/*.prepare.
for prepare in scripts/demo.d/*.prepare; do
  [[ -f $prepare ]] || continue
  # shellcheck source=/dev/null
  source "$prepare"
done

say "Starting the Corvane service in the background on a fresh state root: $CORVANE_ROOT"
"$bin/corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do [[ "$("$ctl" status)" == "4 RUNNING" ]] && break; sleep 0.05; done
say "corvane-ctl status (the service control manager's view)"
"$ctl" status

say "Its configuration: the host GUID it created on first start"
"$ctl" reg query 'HKLM\SOFTWARE\Tovrel'

say "A pause control is not accepted (ERROR_CALL_NOT_IMPLEMENTED)"
"$ctl" control 2

say "The machine resumes from sleep: the service notes that its Bluetooth side must restart"
"$ctl" power resume

# Scenes of the later subsystems are appended here (sessions, phones, records).
for scene in scripts/demo.d/*.sh; do
  [[ -f $scene ]] || continue
  # shellcheck source=/dev/null
  source "$scene"
done

say "Stopping the service"
"$ctl" stop
wait "$pid" && echo "service exited with code 0"
say "What the service said on its diagnostic output"
cat "$CORVANE_ROOT/service.log"
