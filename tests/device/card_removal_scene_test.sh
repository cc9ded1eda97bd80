#!/usr/bin/env bash
# The card-removal lock with the real smart-card stack: a pcscd of the test's own with vpcd's two
# virtual readers, in a private mount and network namespace (the machine's pcscd, if any, is never
# touched), cards played by corvane-card, OpenSC's PKCS#11 module as LibPkcs11, and the service
# program on a fresh state root. Checked:
#   1. a card logon report (kind 3, lock, delay 0), then the card pulled: the console session is
#      disconnected (locked) within 2 s;
#   2. the same card put back afterwards: nothing more happens; another card swapped in, or a
#      mute card (an ATR of 40 bytes) in the reader, counts as a removal;
#   3. a card logon with delay 3, the card pulled and put back within the delay: the card is
#      recognised by its token serial and the session is left alone;
#   4. pcscd killed: monitoring is lost, which counts as a removal (the session locks after the
#      delay); pcscd started again: the service still runs, and the next removal still locks.
# Exits 77 (skipped) when no mount and network namespace can be made or a part of the stack is
# missing.
set -euo pipefail
source "$(dirname "$0")/card_rig.sh"
rig_enter_namespaces "$@"

corvane=$1
ctl=$2
phone=$3
card=$4
pkcs11=${5:-/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so}
[[ -f $pkcs11 ]] || { echo "SKIP: no PKCS#11 module at $pkcs11"; exit 77; }
rig_start

# 1. Lock with delay 0 on removal.
report 1 0
# The reader device as corvane-ctl devices shows it: the card in, its serial, anna's option.
"$ctl" devices --json >"$CORVANE_ROOT/devices.json" || fail "devices --json"
python3 - "$CORVANE_ROOT/devices.json" "$cardid" "$reader" "$serial" <<'PY' || fail "devices --json: $(cat "$CORVANE_ROOT/devices.json")"
import json, sys
cards = [d for d in json.load(open(sys.argv[1]))["devices"] if d["kind"] == "card"]
assert len(cards) == 1, cards
c = cards[0]
assert (c["id"], c["reader"], c["serial"], c["card"]) == (sys.argv[2], sys.argv[3], sys.argv[4], "in"), c
assert c["options"] == [{"user": "anna", "domain": "CONTOSO", "option": 1, "delay": 0, "handled": False}], c
PY
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

# 2b. Another card put in its place: a removal of anna's card.
report 1 0
t0=$(date +%s%N)
"$card" swap "$reader" --serial 8899AABBCCDDEEFF || fail "swap"
wait_state Disconnected 2000 "$t0" >/dev/null || fail "a card swapped for another did not lock the session"
reconnect

# 2c. A mute card in the reader (its ATR is 40 bytes long): anna's card counts as absent.
"$card" swap "$reader" --mute || fail "mute card"
t0=$(date +%s%N)
report 1 0
wait_state Disconnected 2000 "$t0" >/dev/null || fail "a mute card in the reader did not lock the session"
expect_line "Zentik:$reader:$cardid|Card Removed|Card Mute"
reconnect
"$card" swap "$reader" --serial $serial || fail "anna's card back"

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
