#!/usr/bin/env bash
# The service program with the logon component stand-in on the real command port (TCP 45451), in
# a network namespace of its own: the component announces its ports and state over a keyed
# connection, corvane-ctl reaches the stream channel plain and keyed, a relayed unlock is carried
# out by the component and its logon result report reaches the event log and the audit trail,
# and the cleared BleStatus is sent to the component when the service stops. Exits 77 (skipped)
# when no network namespace can be made.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"

corvane=$1
ctl=$2
logon=$3
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
log=$CORVANE_ROOT/var/log/corvane/Zentik.Log
out=$CORVANE_ROOT/out
component=$CORVANE_ROOT/logon.out
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- logon component"; cat "$component" 2>/dev/null || true
  echo "--- event log"; cat "$log" 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}
wait_for() { for _ in $(seq 1 800); do grep -q "$1" "$2" 2>/dev/null && return 0; sleep 0.025; done; return 1; }

phone='{6B29FC40-CA47-1067-B31D-00DD010662DA}'
# The relay driver reads the component's stream port from the registry, as the service does.
"$ctl" reg add 'HKLM\SOFTWARE\Tovrel\LogonOptions' /v LogonPortTCP /t REG_DWORD /d 6001 >/dev/null
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
wait_running "$ctl" || fail "service did not report RUNNING"
console=$("$ctl" session logon anna CORP)

"$logon" --tcp 6001 --udp 6000 --keyed --computer TESTPC >"$component" 2>&1 &
wait_for "forwarding on: reply code=0xc002 length=0 status=0x00000000" "$component" || fail "the component did not announce itself"
grep -q "reported state 2 reply code=0xc005 length=8 status=0x00000002" "$component" || fail "state report (keyed reply)"
# The listener, which the component has just reached, reported no missing layer at its start:
# the Bluetooth device layer and the token layer are both wired.
! grep -q "no Bluetooth device layer" "$CORVANE_ROOT/service.log" || fail "the wired device layer was reported as missing"
! grep -q "no token layer" "$CORVANE_ROOT/service.log" || fail "the wired token layer was reported as missing"

# Plain and keyed requests of corvane-ctl: the BleStatus record, 28 bytes plain, 32 encrypted on the
# wire. The BLE library stand-in lies beside the program, so the BLE service runs under the host GUID.
for _ in $(seq 1 200); do "$ctl" ble-status 2>/dev/null | grep -q "ble-service=running" && break; sleep 0.05; done
"$ctl" ble-status >"$out" || fail "ble-status"
grep -q "flags=0x00000002 ble-service=running" "$out" || fail "ble-status output"
status="020000000\{16\}[0-9a-f]\{32\}"
"$ctl" stream 0x4103 >"$out" || fail "plain 0x4103"
grep -q "^reply code=0xc103 length=28 status=0x00000000 payload=$status$" "$out" || fail "plain 0x4103 reply"
"$ctl" stream 0x4103 --keyed >"$out" || fail "keyed 0x4103"
grep -q "^reply code=0xc103 length=32 status=0x00000000 payload=$status$" "$out" || fail "keyed 0x4103 reply"
# A failed status: its text follows it, and the tool exits 1.
rc=0
"$ctl" stream 0x4201 0 0102 >"$out" || rc=$?
(( rc == 1 )) || fail "short 0x4201: exit $rc, expected 1"
grep -q "^reply code=0xc201 length=0 status=0x80090004 (Bad Length.) payload=$" "$out" || fail "short 0x4201 reply"

# anna locks the console; her phone's unlock is relayed to the component, which unlocks it and reports.
"$ctl" session lock "$console"
"$ctl" relay "$phone" unlock anna CORP --option 1 --delay 30 --name "Anna's phone" >"$out" || fail "relay"
grep -q "relay result=0x00000000 reply code=0xd102 length=0 status=0x00000000" "$out" || fail "relay reply"
wait_for "reported the result to the service: code=0xb013 length=0 status=0x00000000" "$component" ||
  fail "the component's report was not accepted"
"$ctl" session list | grep -q "^$console anna CORP Console Active$" || fail "the console was not unlocked"
line="Zentik:TESTPC|CORP\\anna|Unlock|Anna's phone:$phone|0x00000000:0x00000000|"
for _ in $(seq 1 800); do grep -qF -- "$line" "$log" 2>/dev/null && break; sleep 0.025; done
grep -qF -- "$line" "$log" || fail "no event line: $line"

# A relayed logon while anna holds the console: refused by the component, still reported and audited.
"$ctl" relay "$phone" logon bob CORP >"$out" || true
grep -q "relay result=0x00000000 reply code=0xd102 length=0 status=0x20000024" "$out" || fail "refused logon relay"

"$ctl" stop >/dev/null || fail "stop"
# At exit the service tells the component that no Bluetooth service runs: the cleared record.
wait_for "status notification: BleStatus 0\{56\}" "$component" || fail "no status notification at stop"
"$ctl" audit --csv | awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  { print $col["event_type"], $col["user_name"], $col["logon_server"], $col["dev_type"], $col["logon_option"], $col["logon_param"] }' \
  >"$out"
grep -qx "102 anna CORP 2 1 30" "$out" || fail "no audit row of the relayed unlock"
grep -qx "101 bob CORP 2 0 0" "$out" || fail "no audit row of the refused logon"
echo "logon component scene: all checks passed"
