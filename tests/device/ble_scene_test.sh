#!/usr/bin/env bash
# The service program with the BLE library stand-in beside it, in a network namespace of its own:
# a phone connects, says hello and checks its session key, asks for its status and its user's
# sessions; it goes away and comes back; the radio is switched off with no phone connected and
# the BLE service stops, and is switched on again and the phone reconnects. Exits 77 (skipped)
# when no network namespace can be made.
set -euo pipefail
# shellcheck source=tests/support/scene_netns.sh
source "$(dirname "$0")/../support/scene_netns.sh"

corvane=$1
ctl=$2
phone=$3
export CORVANE_ROOT=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$CORVANE_ROOT"' EXIT
out=$CORVANE_ROOT/out
fail() {
  echo "FAIL: $*"
  echo "--- last output"; cat "$out" 2>/dev/null || true
  echo "--- phone"; cat "$CORVANE_ROOT/phone.log" 2>/dev/null || true
  echo "--- service"; cat "$CORVANE_ROOT/service.log" 2>/dev/null || true
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...
  local tries=$(( $1 * 20 )); shift
  for _ in $(seq 1 "$tries"); do "$@" && return 0; sleep 0.05; done
  return 1
}
host_sock=$CORVANE_ROOT/run/corvane/ble/host.sock

# The service finds libvxble.so beside itself, without any environment variable.
"$corvane" >"$CORVANE_ROOT/service.log" 2>&1 &
wait_running "$ctl" || fail "service did not report RUNNING"
wait_for 10 test -S "$host_sock" || fail "the BLE service did not start"
"$ctl" session logon anna CORP >/dev/null

"$phone" run phone-1 --name "Anna's phone" --rssi -60 >"$CORVANE_ROOT/phone.log" 2>&1 &
wait_for 20 grep -q "hello ok" "$CORVANE_ROOT/phone.log" || fail "no hello"
host=$("$ctl" reg query 'HKLM\SOFTWARE\Tovrel' /v HostGUID | awk '/HostGUID/ {print $3}')
grep -qF "hello ok: host $host computer " "$CORVANE_ROOT/phone.log" || fail "hello reply does not carry the host GUID $host"

"$phone" phone-1 status >"$out" || fail "status"
grep -qx "status 0x00000000" "$out" || fail "status reply"
grep -qx "state 1" "$out" || fail "published state"
grep -qx "user anna@CORP" "$out" || fail "published user"
"$phone" phone-1 sessions >"$out" || fail "sessions"
grep -qx "sessions 1" "$out" || fail "session count"
grep -q "^session anna@CORP state 5 " "$out" || fail "anna's session"

# The phone goes out of range and comes back: a new hello on a new connection.
"$phone" phone-1 away >"$out" || fail "away"
"$phone" phone-1 status >"$out" && fail "a phone out of range was answered"
"$phone" phone-1 back >"$out" || fail "back"
[[ $(grep -c "hello ok" "$CORVANE_ROOT/phone.log") -eq 2 ]] || fail "no second hello"
"$phone" phone-1 status >"$out" || fail "status after coming back"

# With no phone connected, switching the radio off stops the BLE service within about 2 s.
"$phone" phone-1 away >"$out" || fail "away again"
sleep 1
"$ctl" radio off
wait_for 5 test ! -S "$host_sock" || fail "the BLE service still runs without a radio"
"$ctl" radio on
wait_for 5 test -S "$host_sock" || fail "the BLE service did not start again"
"$phone" phone-1 back >"$out" || fail "no reconnect after the radio came back"

"$ctl" stop >/dev/null || fail "stop"
echo "BLE phone scene: all checks passed"
