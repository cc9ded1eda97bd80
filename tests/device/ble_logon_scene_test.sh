#!/usr/bin/env bash
# A phone logs its user on through the service: the service, the logon component stand-in and a
# phone with the BLE library stand-in, in a network namespace of their own. The phone's logon is
# relayed to the component, which logs the user on in the simulated session manager and reports
# it; the audit trail has the row with dev_type 2 and the phone lists its user's session. The
# stream channel's device requests and the BLE status follow the phone and the radio: the status
# query reports the running service with the host GUID, a restart request sends the component
# the stop and the start, and with the radio off and no phone connected the service stops within
# about 2 s. Exits 77 (skipped) when no network namespace can be made.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"

corvane=$1
ctl=$2
phone=$3
logon=$4
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
out=$CORVANE_ROOT/out
component=$CORVANE_ROOT/logon.out
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- logon component"; cat "$component" 2>/dev/null || true
  echo "--- phone"; cat "$CORVANE_ROOT/phone.log" 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...
  local tries=$(( $1 * 20 )); shift
  for _ in $(seq 1 "$tries"); do "$@" && return 0; sleep 0.05; done
  return 1
}
notifications() { grep -c "status notification: BleStatus" "$component" 2>/dev/null || true; }
host_sock=$CORVANE_ROOT/run/corvane/ble/host.sock

"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
wait_running "$ctl" || fail "service did not report RUNNING"
wait_for 10 test -S "$host_sock" || fail "the BLE service did not start"
"$logon" --tcp 6001 --udp 6000 --computer TESTPC >"$component" 2>&1 &
wait_for 10 grep -q "forwarding on: reply code=0xc002 length=0 status=0x00000000" "$component" ||
  fail "the component did not announce itself"

# The status query reports the running BLE service under the host GUID.
host=$("$ctl" reg query 'HKLM\SOFTWARE\Tovrel' /v HostGUID | awk '/HostGUID/ {print $3}')
"$ctl" ble-status >"$out" || fail "ble-status"
grep -qix "flags=0x00000002 ble-service=running host-guid=$host" "$out" || fail "ble-status of the running service"

"$phone" run phone-1 --name "Anna's phone" --rssi -60 >"$CORVANE_ROOT/phone.log" 2>&1 &
wait_for 20 grep -q "hello ok" "$CORVANE_ROOT/phone.log" || fail "no hello"

# The phone asks for a logon of anna; nobody holds the console, so the component logs her on.
"$phone" phone-1 logon anna CORP --option 1 --delay 30 >"$out" || fail "logon"
grep -qx "status 0x00000000" "$out" || fail "logon reply"
wait_for 10 grep -q "reported the result to the service: code=0xb013 length=0 status=0x00000000" "$component" ||
  fail "the component's report was not accepted"
"$ctl" session list | grep -q " anna CORP Console Active$" || fail "anna is not logged on at the console"

# What the service knows of the phone (corvane-ctl devices --json): connected, with anna's option.
"$ctl" devices --json >"$out" || fail "devices --json"
python3 - "$out" <<'PY' || fail "devices --json: $(cat "$out")"
import json, sys
phones = [d for d in json.load(open(sys.argv[1]))["devices"] if d["kind"] == "ble"]
assert len(phones) == 1, phones
p = phones[0]
assert (p["id"], p["name"], p["link"], p["connected"]) == ("phone-1", "Anna's phone", "connected", True), p
assert p["options"] == [{"user": "anna", "domain": "CORP", "option": 1, "delay": 30, "handled": False}], p
PY
"$phone" phone-1 sessions >"$out" || fail "sessions"
grep -qx "sessions 1" "$out" || fail "session count"
grep -q "^session anna@CORP state 5 " "$out" || fail "anna's session is not listed to the phone"
# A logon of another user while anna holds the console comes back with the component's refusal.
"$phone" phone-1 logon bob CORP >"$out" || true
grep -qx "status 0x20000024 (Other user is logged in)" "$out" || fail "refused logon reply"

# The stream channel's device requests: the phone list holds the connected phone with its name
# and signal; a close of an unknown device answers 1167; a session report reaches the phone over
# its keyed active channel, and so does a token command, which comes back with the phone's status
# (the phone serves no 0x7001).
hexof() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }
slot() { local h; h=$(hexof "$1"); printf '%s%0*d' "$h" $(( 80 - ${#h} )) 0; }
"$ctl" stream 0x4101 >"$out" || fail "phone list"
name=$(hexof "Anna's phone")
grep -q "^reply code=0xc101 length=[0-9]* status=0x00000000 payload=0100$(slot phone-1)000000000000....0000000000000000020[01]....${name}00$" "$out" ||
  fail "phone list reply"
"$ctl" stream 0x4006 0 "$(slot no-such-phone)" >"$out" && fail "close of an unknown device succeeded"
grep -q "^reply code=0xc006 length=0 status=0x0000048f (The device is not connected.) payload=$" "$out" ||
  fail "close of an unknown device"
"$ctl" stream 0x5111 0 "$(slot phone-1)" >"$out" || fail "session report"
grep -q "^reply code=0xd111 length=0 status=0x00000000 payload=$" "$out" || fail "session report to the phone"
"$ctl" stream 0x5101 0 "$(slot phone-1)0170000000000000" >"$out" && fail "token command succeeded"
grep -q "^reply code=0xf001 length=0 status=0x80090029 (The requested operation is not supported.) payload=$" "$out" ||
  fail "token command to the phone"

# A restart request: the component hears of it and, whatever order the stop's and the start's
# notifications run in, ends with the running service.
before=$(notifications)
"$ctl" stream 0x4007 >"$out" || fail "restart"
grep -q "^reply code=0xc007 length=0 status=0x00000000 payload=$" "$out" || fail "restart reply"
restarted() {
  (( $(notifications) > before )) &&
    grep "status notification: BleStatus" "$component" | tail -1 | grep -q "BleStatus 02000000"
}
wait_for 10 restarted || fail "no notification of the running service after the restart"

# With no phone connected, switching the radio off stops the BLE service within about 2 s.
"$phone" phone-1 away >"$out" || fail "away"
sleep 1
"$ctl" radio off
start=$(date +%s%N)
wait_for 5 bash -c "'$ctl' ble-status | grep -qx 'flags=0x00000000 ble-service=stopped host-guid={00000000-0000-0000-0000-000000000000}'" ||
  fail "the BLE service still runs without a radio"
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
(( elapsed <= 3000 )) || fail "the BLE service took ${elapsed} ms to stop"
test ! -S "$host_sock" || fail "the library's service still listens"

"$ctl" stop >/dev/null || fail "stop"
"$ctl" audit --csv | awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  { print $col["event_type"], $col["user_name"], $col["logon_server"], $col["dev_type"], $col["dev_guid"], $col["logon_option"], $col["logon_param"] }' \
  >"$out"
grep -qx "101 anna CORP 2 phone-1 1 30" "$out" || fail "no audit row of the phone's logon"
grep -qx "101 bob CORP 2 phone-1 0 0" "$out" || fail "no audit row of the refused logon"
echo "BLE logon scene: all checks passed"
