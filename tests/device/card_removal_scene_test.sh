#!/usr/bin/env bash
# The card-removal lock with the real smart-card stack: a pcscd of the test's own with vpcd's two
# virtual readers, in a private mount and network namespace (the machine's pcscd, if any, is never
# touched), cards played by corvane-card, OpenSC's PKCS#11 module as LibPkcs11, and the service
# program on a fresh state root. Checked:
#   1. a card logon report (kind 3, lock, delay 0), then the card pulled: the console session is
#      disconnected (locked) within 2 s;
#   2. the same card put back afterwards: nothing more happens;
#   3. a card logon with delay 3, the card pulled and put back within the delay: the card is
#      recognised by its token serial and the session is left alone;
#   4. pcscd killed: monitoring is lost, which counts as a removal (the session locks after the
#      delay); pcscd started again: the service still runs, and the next removal still locks.
# Exits 77 (skipped) when no mount and network namespace can be made or a part of the stack is
# missing.
set -euo pipefail
if [[ -z "${CORVANE_IN_NS:-}" ]]; then
  for tool in pcscd unshare; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  [[ -f /usr/lib/pcsc/drivers/serial/libifdvpcd.so ]] || { echo "SKIP: vsmartcard-vpcd is not installed"; exit 77; }
  if ! unshare --mount --net --propagation private true 2>/dev/null; then
    echo "SKIP: unshare --mount --net is not permitted here; the scene needs namespaces of its own"
    exit 77
  fi
  exec env CORVANE_IN_NS=1 unshare --mount --net --propagation private \
    bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi

corvane=$1
ctl=$2
phone=$3
card=$4
pkcs11=${5:-/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so}
[[ -f $pkcs11 ]] || { echo "SKIP: no PKCS#11 module at $pkcs11"; exit 77; }

export CORVANE_ROOT=$(mktemp -d)
export CORVANE_CARD_DIR=$CORVANE_ROOT/cards
log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
pcscd_pid=
cleanup() {
  for f in "$CORVANE_CARD_DIR"/*.pid; do [[ -f $f ]] && kill "$(cat "$f")" 2>/dev/null; done
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  umount /run/pcscd 2>/dev/null || true
  rm -rf "$CORVANE_ROOT"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- sessions"; "$ctl" session list 2>&1 || true
  echo "--- event log"; cat "$log" 2>/dev/null || true
  echo "--- service"; tail -20 "$CORVANE_ROOT/service.log" 2>/dev/null || true
  echo "--- pcscd"; tail -20 "$CORVANE_ROOT/pcscd.log" 2>/dev/null || true
  echo "--- cards"; tail -20 "$CORVANE_CARD_DIR/card.log" 2>/dev/null || true
  exit 1
}

# pcscd of our own: the stock configuration (vpcd's readers on the namespace's loopback), its
# socket directory bound over /run/pcscd in this mount namespace only.
mkdir -p "$CORVANE_ROOT/pcscd" /run/pcscd
mount --bind "$CORVANE_ROOT/pcscd" /run/pcscd
start_pcscd() {
  pcscd -f >>"$CORVANE_ROOT/pcscd.log" 2>&1 &
  pcscd_pid=$!
  "$card" state "Virtual PCD 00 00" >/dev/null || fail "pcscd did not come up"
}
start_pcscd
# OpenSC's PKCS#11 module, told to use its default driver for the emulated PKCS#15 card.
export OPENSC_CONF=$CORVANE_ROOT/opensc.conf
printf 'app default {\n  enable_default_driver = true;\n}\n' >"$OPENSC_CONF"

reader="Virtual PCD 00 00"
serial=0011223344556677
# The card's identity as the service reads it: the 16 serial characters taken as a GUID.
cardid='{31313030-3232-3333-3434-353536363737}'
"$card" insert "$reader" --serial $serial || fail "insert"

"$ctl" reg add 'HKLM\SOFTWARE\Tovrel' /v LibPkcs11 /t REG_SZ /d "$pkcs11" >/dev/null
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
for _ in $(seq 1 200); do [[ "$("$ctl" status 2>/dev/null)" == "4 RUNNING" ]] && break; sleep 0.05; done
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "service did not report RUNNING"
session=$("$ctl" session logon anna CONTOSO)

state() { "$ctl" session list | awk -v id="$session" '$1 == id { print $5 }'; }
# Waits (bounded) for the session state; prints the milliseconds it took from `since` (ns).
wait_state() {
  local want=$1 bound_ms=$2 since=$3
  while :; do
    [[ "$(state)" == "$want" ]] && { echo $((($(date +%s%N) - since) / 1000000)); return 0; }
    (($(date +%s%N) - since > bound_ms * 1000000)) && return 1
    sleep 0.01
  done
}
expect_line() {
  for _ in $(seq 1 400); do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.01
  done
  fail "no event line with: $1"
}
lines_with() { grep -cF -- "$1" "$log" 2>/dev/null || true; }
report() {  # option delay
  "$phone" report "$cardid" anna CONTOSO --type 3 --computer TESTPC --name "$reader" --option $1 --delay $2 >/dev/null ||
    fail "report"
  expect_line "Zentik:TESTPC|CONTOSO\\anna|Logon|$reader:$cardid|0x00000000:0x00000000|"
}
reconnect() { "$ctl" session connect "$session" >/dev/null; [[ "$(state)" == Active ]] || fail "session not active again"; }

# 1. Lock with delay 0 on removal.
report 1 0
t0=$(date +%s%N)
"$card" remove "$reader" || fail "remove"
ms=$(wait_state Disconnected 2000 "$t0") || fail "session not locked within 2 s of the removal"
echo "removal to lock: ${ms} ms"
expect_line "Zentik:$reader:$cardid|Card Removed"
expect_line "|CONTOSO\\anna|Offline Locked"
reconnect

# 2. The same card back: the device ended with its option, nothing reacts.
"$card" insert "$reader" --serial $serial || fail "insert again"
before=$(grep -c . "$log")
t0=$(date +%s%N)
if wait_state Disconnected 1500 "$t0" >/dev/null; then fail "the returning card locked the session"; fi
[[ $(grep -c . "$log") == "$before" ]] || fail "the returning card was noticed"

# 3. Delay 3: out and back within the delay, recognised by its serial, the session left alone.
report 1 3
"$card" remove "$reader" || fail "remove (delay 3)"
t0=$(date +%s%N)
"$card" insert "$reader" --serial $serial || fail "insert within the delay"
expect_line "Zentik:$reader:$cardid|Card Returned"
if wait_state Disconnected 4000 "$t0" >/dev/null; then fail "the session locked although the card came back"; fi

# 4. pcscd dies: the card counts as removed, and the lock follows after the delay.
t0=$(date +%s%N)
kill "$pcscd_pid"
wait "$pcscd_pid" 2>/dev/null || true
rm -f "$CORVANE_CARD_DIR"/*.pid  # the card process ends with pcscd
expect_line "Zentik:$reader:$cardid|Card Monitoring Lost"
ms=$(wait_state Disconnected 6000 "$t0") || fail "losing pcscd did not lock the session"
echo "pcscd lost to lock (delay 3): ${ms} ms"
start_pcscd
[[ "$("$ctl" status)" == "4 RUNNING" ]] || fail "service not running after the pcscd restart"
reconnect
"$card" insert "$reader" --serial $serial || fail "insert after the restart"
report 1 0
t0=$(date +%s%N)
"$card" remove "$reader" || fail "remove after the restart"
ms=$(wait_state Disconnected 2000 "$t0") || fail "no lock on removal after the pcscd restart"
echo "removal to lock after the pcscd restart: ${ms} ms"

"$ctl" stop >/dev/null || fail "stop"
echo "card removal scene: all checks passed"
